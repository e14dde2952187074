// ui::RichEdit: a text input field drawn by the system's windowless text services.
#pragma once

#include <string>

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
  void SetWindow(Window* window, Box* parent, bool init = true) override;
  void SetPos(const RECT& rect) override;
  void Paint(IRenderContext* context, const RECT& paint_rect) override;

  bool HasTextServices() const { return host_ != nullptr; }
  std::wstring GetText() const;
  void SetText(const std::wstring& text);
  std::wstring GetPromptText() const;
  void SetPromptText(const std::wstring& text) { prompt_text_ = text; Invalidate(); }
  void SetPromptTextId(const std::wstring& id) { prompt_text_id_ = id; Invalidate(); }
  void SetTextColor(const std::wstring& color);
  DWORD GetStyle() const { return style_; }
  bool IsReadOnly() const { return read_only_; }

  // Called by the host on behalf of the text services.
  void OnCaretCreated(int width, int height);
  void OnCaretMoved(int x, int y);
  void OnTextChanged();
  bool SetServicesTimer(UINT id, UINT timeout);
  void KillServicesTimer(UINT id);

 protected:
  void HandleMessage(EventArgs& args) override;
  void PaintStatusImage(IRenderContext* context) override;

 private:
  void InitTextServices();
  void SetStyleBit(DWORD bit, bool on);
  LRESULT TxSend(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
  void PasteDigits();

  CTxtWinHost* host_ = nullptr;  // one COM reference, dropped in the destructor
  bool want_tab_ = true;
  bool want_return_msg_ = false;
  bool return_msg_want_ctrl_ = false;
  bool rich_ = false;
  bool read_only_ = false;
  bool password_ = false;
  bool number_only_ = false;
  bool inited_ = false;
  bool prompt_mode_ = false;
  bool caret_shown_ = false;
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
};

}  // namespace ui
