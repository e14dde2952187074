// ui::RichEdit: a text input field drawn by the system's windowless text services.
#pragma once

#include <richedit.h>

#include <string>
#include <vector>

#include "base/UniqueResource.h"
#include "ui/core/Box.h"

namespace ui {

class CTxtWinHost;

// UI thread only.
class RichEdit : public Box {
 public:
  RichEdit();
  ~RichEdit() override;

  std::wstring GetType() const override { return L"RichEdit"; }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void RescaleDpi(int from_scale, int to_scale) override;
  void SetPos(const RECT& rect) override;
  void Paint(IRenderContext* context, const RECT& paint_rect) override;

  // Whether the text services have started: with the field's first layout while it is shown,
  // or when it is first drawn, focused or given input.
  bool HasTextServices() const { return static_cast<bool>(host_); }
  // Tab when the field takes tabs; Return when it does not report it as "return" instead.
  bool WantsKey(UINT key) const override {
    if (key == VK_TAB) return want_tab_;
    if (key == VK_RETURN) {
      return !want_return_msg_ || (::GetKeyState(VK_CONTROL) < 0) != return_msg_want_ctrl_;
    }
    return false;
  }
  std::wstring GetAccessibleValue() const override {
    return password_ ? std::wstring() : GetText();
  }
  // Where the services lay out the text (and the prompt goes): the padded area, moved down
  // for a centred or bottom-aligned text. Empty without services.
  RECT GetTextRect() const;
  std::wstring GetText() const;
  void SetText(const std::wstring& text);
  std::wstring GetPromptText() const;
  void SetPromptText(const std::wstring& text) {
    prompt_text_ = text;
    Invalidate();
  }
  void SetPromptTextId(const std::wstring& id) {
    prompt_text_id_ = id;
    Invalidate();
  }
  void SetTextColor(const std::wstring& color);
  // Characters [first, last) act as a link: a press on them sends kEventCustomLinkClick (with
  // the range's index) instead of reaching the text. SetText forgets every range.
  void AddLinkRange(LONG first, LONG last);
  void ClearLinkRanges() { link_ranges_.clear(); }
  // Top-left corner of a character in window client coordinates; (0, 0) without services.
  POINT PosFromChar(LONG index) const;
  // The vertical scroll bar ("vscrollbar") shows while the text is taller than its area.
  bool IsVScrollBarShown() const { return vscroll_shown_; }
  // How far the text is scrolled down, in pixels; 0 without services.
  int GetScrollOffset() const;
  void SetScrollOffset(int offset);
  DWORD GetStyle() const { return style_; }
  // Without a host yet, the choice waits for the text services to start.
  void SetWordWrap(bool wrap);
  bool IsReadOnly() const { return read_only_; }
  // Whether the caret is drawn right now; it blinks while the field has the focus.
  bool IsCaretShown() const { return caret_shown_; }
  bool IsCaretBlinking() const { return caret_blinking_; }
  // While the input method composes, its own window shows the text and the caret is not drawn.
  bool IsImeComposing() const { return ime_composing_; }
  // The text of the link last clicked in the services' own links (rich text with link effects).
  const std::wstring& GetLastLinkText() const { return last_link_text_; }

  // Called by the host on behalf of the text services.
  void OnCaretCreated(int width, int height);
  void OnCaretMoved(int x, int y);
  void OnTextChanged();
  // The services' other notifications; `data` starts with the notification header when given.
  void OnServicesNotify(DWORD code, void* data);
  bool SetServicesTimer(UINT id, UINT timeout);
  void KillServicesTimer(UINT id);

 protected:
  void HandleMessage(EventArgs& args) override;
  void PaintStatusImage(IRenderContext* context) override;
  int GetDefaultAccessibleRole() const override {
    return read_only_ ? kRoleStaticText : kRoleEditableText;
  }

 private:
  // Starts the text services once the field is in a window; false when they cannot start.
  // Settings made before then wait in the field's members and go to the services as they do.
  bool StartTextServices();
  // Hands the services the padded area, less the scroll bar while the text needs one.
  void PlaceText();
  void SetStyleBit(DWORD bit, bool on);
  LRESULT TxSend(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
  void PasteDigits();
  // The services only place the caret; showing and blinking it is the field's own job.
  void StartCaretBlink();
  void StopCaretBlink();
  void PlaceCompositionWindow();
  // Track along the right edge of the padded area and the thumb in it; empty when hidden.
  RECT GetVScrollTrack() const;
  RECT GetVScrollThumb() const;
  void PaintVScrollBar(IRenderContext* context);
  int ScrollBarWidth() const;
  // The link range under a point, or -1.
  int LinkRangeAt(POINT point) const;
  // Height the text needs when wrapped to `width`; 0 without services.
  int NaturalTextHeight(int width) const;

  nbase::ComPtr<CTxtWinHost> host_;
  bool want_tab_ = true;
  bool want_return_msg_ = false;
  bool return_msg_want_ctrl_ = false;
  bool rich_ = false;
  int word_wrap_ = -1;  // -1: as the style implies
  bool read_only_ = false;
  bool password_ = false;
  bool number_only_ = false;
  bool inited_ = false;
  bool prompt_mode_ = false;
  bool caret_shown_ = false;
  bool ime_composing_ = false;
  bool auto_url_detect_ = false;  // "autourldetect": addresses in the text become links
  std::wstring last_link_text_;
  bool caret_blinking_ = false;
  nbase::WeakCallbackFlag caret_flag_;
  bool focused_ = false;
  POINT caret_pos_ = {};
  int caret_width_ = 1;
  int caret_height_ = 0;
  std::wstring font_;
  DWORD style_ = ES_MULTILINE;
  int text_valign_ = 0;
  std::wstring text_color_;
  std::wstring normal_text_color_;
  std::wstring disabled_text_color_;
  std::wstring prompt_color_;
  std::wstring caret_color_;
  std::wstring text_;
  std::wstring prompt_text_;
  std::wstring prompt_text_id_;
  Image focused_image_;
  std::vector<CHARRANGE> link_ranges_;
  bool vscroll_shown_ = false;
  int content_height_ = 0;  // natural height of the text while the scroll bar shows
  int thumb_grab_ = -1;     // where in the thumb a drag took it, -1 without a drag
};

}  // namespace ui
