// ui::RichEdit: attributes, input translation, prompt and caret around the text services.
#include "ui/controls/RichEdit.h"

#include <imm.h>
#include <richedit.h>
#include <textserv.h>

#include <algorithm>
#include <string>

#include "base/TimerQueue.h"
#include "ui/controls/TxtWinHost.h"
#include "ui/core/AttributeTable.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"
#include "ui/layouts/Layout.h"
#include "ui/render/GdiHandles.h"
#include "ui/render/RenderContext.h"

namespace ui {
namespace {

std::wstring SkipBlanks(const std::wstring& value) {
  size_t start = 0;
  while (start < value.size() && value[start] <= L' ') ++start;
  return value.substr(start);
}

}  // namespace

RichEdit::RichEdit() {
  const std::wstring& color = GlobalManager::Instance().GetDefaultFontColor();
  text_color_ = normal_text_color_ = disabled_text_color_ = color;
}

RichEdit::~RichEdit() {
  if (Window* window = GetWindow()) window->KillControlTimers(this);
  // While the field is whole: the host may still call back into it.
  host_.reset();
}

void RichEdit::SetStyleBit(DWORD bit, bool on) {
  if (on)
    style_ |= bit;
  else
    style_ &= ~bit;
}

void RichEdit::SetAttribute(const std::wstring& name, const std::wstring& value) {
  using Self = RichEdit;
  using Value = const std::wstring&;
  static const AttributeTable<Self> kTable = {
      {L"vscrollbar",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         self.SetStyleBit(WS_VSCROLL | ES_DISABLENOSCROLL, is_true);
         if (!is_true && (self.style_ & WS_HSCROLL)) self.style_ |= ES_DISABLENOSCROLL;
         if (self.host_) {
           self.host_->SetScrollStyle(self.style_);
           self.SetPos(self.GetPos());
         }
       }},
      {L"hscrollbar",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         self.SetStyleBit(WS_HSCROLL | ES_DISABLENOSCROLL, is_true);
         if (!is_true && (self.style_ & WS_VSCROLL)) self.style_ |= ES_DISABLENOSCROLL;
         if (self.host_) self.host_->SetScrollStyle(self.style_);
       }},
      {L"autovscroll",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         if (is_true || value == L"false") self.SetStyleBit(ES_AUTOVSCROLL, is_true);
       }},
      {L"autohscroll",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         if (is_true || value == L"false") self.SetStyleBit(ES_AUTOHSCROLL, is_true);
       }},
      {L"multiline",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         if (is_true || value == L"false") self.SetStyleBit(ES_MULTILINE, is_true);
       }},
      {L"readonly",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         if (is_true || value == L"false") {
           self.SetStyleBit(ES_READONLY, is_true);
           self.read_only_ = is_true;
           if (self.host_) self.host_->SetPropertyBit(TXTBIT_READONLY, is_true);
         }
       }},
      {L"password",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         if (is_true || value == L"false") {
           self.SetStyleBit(ES_PASSWORD, is_true);
           self.password_ = is_true;
           if (self.host_) self.host_->SetPropertyBit(TXTBIT_USEPASSWORD, is_true);
         }
       }},
      {L"number",
       [](Self& self, Value value) {
         const bool is_true = value == L"true";
         if (is_true || value == L"false") {
           self.SetStyleBit(ES_NUMBER, is_true);
           self.number_only_ = is_true;
         }
       }},
      {L"align",
       [](Self& self, Value value) {
         if (value.find(L"left") != std::wstring::npos) self.style_ &= ~(ES_CENTER | ES_RIGHT);
         if (value.find(L"hcenter") != std::wstring::npos) {
           self.style_ &= ~ES_RIGHT;
           self.style_ |= ES_CENTER;
         }
         if (value.find(L"right") != std::wstring::npos) {
           self.style_ &= ~ES_CENTER;
           self.style_ |= ES_RIGHT;
         }
         if (value.find(L"top") != std::wstring::npos) self.text_valign_ = 0;
         if (value.find(L"vcenter") != std::wstring::npos) self.text_valign_ = 1;
         if (value.find(L"bottom") != std::wstring::npos) self.text_valign_ = 2;
       }},
      {L"normaltextcolor",
       [](Self& self, Value value) {
         self.normal_text_color_ = SkipBlanks(value);
         if (self.IsEnabled()) self.SetTextColor(self.normal_text_color_);
       }},
      {L"disabledtextcolor",
       [](Self& self, Value value) {
         self.disabled_text_color_ = SkipBlanks(value);
         if (!self.IsEnabled()) self.SetTextColor(self.disabled_text_color_);
       }},
      {L"caretcolor", [](Self& self, Value value) { self.caret_color_ = SkipBlanks(value); }},
      {L"promptmode",
       [](Self& self, Value value) {
         // Kept for markup compatibility; the prompt does not depend on it.
         self.prompt_mode_ = value == L"true";
       }},
      {L"promptcolor", [](Self& self, Value value) { self.prompt_color_ = SkipBlanks(value); }},
      {L"prompttext", [](Self& self, Value value) { self.SetPromptText(value); }},
      {L"prompttextid", [](Self& self, Value value) { self.SetPromptTextId(value); }},
      {L"focusedimage",
       [](Self& self, Value value) {
         self.focused_image_.SetImageString(value, DpiManager::Instance().GetAppliedScale());
         self.Invalidate();
       }},
      {L"font",
       [](Self& self, Value value) {
         self.font_ = value;
         if (self.host_) self.host_->SetFont(self.font_);
       }},
      {L"text", [](Self& self, Value value) { self.SetText(value); }},
      {L"textid",
       [](Self& self, Value value) {
         self.SetText(GlobalManager::Instance().GetLanguageText(value));
       }},
      {L"wanttab", [](Self& self, Value value) { self.want_tab_ = value == L"true"; }},
      {L"wantreturnmsg", [](Self& self, Value value) { self.want_return_msg_ = value == L"true"; }},
      {L"returnmsgwantctrl",
       [](Self& self, Value value) { self.return_msg_want_ctrl_ = value == L"true"; }},
      {L"autourldetect",
       [](Self& self, Value value) {
         self.auto_url_detect_ = value == L"true";
         if (self.host_) self.TxSend(EM_AUTOURLDETECT, self.auto_url_detect_ ? TRUE : FALSE, 0);
       }},
      {L"rich",
       [](Self& self, Value value) {
         self.rich_ = value == L"true";
         if (self.host_) self.host_->SetPropertyBit(TXTBIT_RICHTEXT, self.rich_);
       }},
  };
  if (!kTable.Apply(*this, name, value)) Box::SetAttribute(name, value);
}

void RichEdit::SetWordWrap(bool wrap) {
  word_wrap_ = wrap ? 1 : 0;
  if (host_) host_->SetPropertyBit(TXTBIT_WORDWRAP, wrap);
}

bool RichEdit::StartTextServices() {
  if (inited_ || !GetWindow()) return static_cast<bool>(host_);
  inited_ = true;
  TextHostParams params;
  params.style = style_;
  params.text = text_;
  params.font_id = font_;
  params.text_color = GlobalManager::Instance().GetTextColor(text_color_);
  nbase::ComPtr<CTxtWinHost> host(new CTxtWinHost(this));
  if (rich_) host->SetPropertyBit(TXTBIT_RICHTEXT, true);
  if (!host->Init(params)) return false;
  host_ = std::move(host);
  host_->SetPropertyBit(TXTBIT_SAVESELECTION, true);
  if (word_wrap_ >= 0) host_->SetPropertyBit(TXTBIT_WORDWRAP, word_wrap_ == 1);
  TxSend(EM_SETLANGOPTIONS, 0, 0);
  TxSend(EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_LINK);
  if (auto_url_detect_) TxSend(EM_AUTOURLDETECT, TRUE, 0);
  host_->SetInPlaceActive(true);
  const RECT client = host_->GetClientRect();
  if (FAILED(host_->GetTextServices()->OnTxInPlaceActivate(&client))) {
    host_->SetInPlaceActive(false);
  }
  // Started after its layout: the services get the place it was given.
  if (!::IsRectEmpty(&rect_)) PlaceText();
  return true;
}

LRESULT RichEdit::TxSend(UINT message, WPARAM wparam, LPARAM lparam) {
  return StartTextServices() ? host_->TxSend(message, wparam, lparam) : 0;
}

std::wstring RichEdit::GetText() const {
  // Until the services start nobody can have typed: the text is the one given.
  if (!host_) return text_;
  GETTEXTLENGTHEX length_query = {GTL_DEFAULT | GTL_NUMCHARS, 1200};
  const LRESULT length =
      host_->TxSend(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length_query), 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  GETTEXTEX query = {};
  query.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  query.flags = GT_DEFAULT;
  query.codepage = 1200;
  const LRESULT copied = host_->TxSend(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&query),
                                       reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

void RichEdit::SetText(const std::wstring& text) {
  text_ = text;
  if (!host_) return;
  CHARRANGE all = {0, -1};
  TxSend(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
  TxSend(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  link_ranges_.clear();
}

void RichEdit::AddLinkRange(LONG first, LONG last) {
  if (first < last) link_ranges_.push_back({first, last});
}

POINT RichEdit::PosFromChar(LONG index) const {
  POINTL at = {};
  if (host_) {
    host_->TxSend(EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), index);
  }
  return {at.x, at.y};
}

int RichEdit::GetScrollOffset() const {
  POINT offset = {};
  if (host_) host_->TxSend(EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&offset));
  return offset.y;
}

void RichEdit::SetScrollOffset(int offset) {
  if (!host_) return;
  POINT at = {0, offset < 0 ? 0 : offset};
  TxSend(EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&at));
  Invalidate();
}

RECT RichEdit::GetVScrollTrack() const {
  if (!vscroll_shown_ || !host_) return RECT();
  const RECT text_rect = host_->GetClientRect();
  const int right = text_rect.right + ScrollBarWidth();
  return {text_rect.right, rect_.top + GetLayout()->GetPadding().top, right,
          rect_.bottom - GetLayout()->GetPadding().bottom};
}

RECT RichEdit::GetVScrollThumb() const {
  const RECT track = GetVScrollTrack();
  const int track_height = track.bottom - track.top;
  if (track_height <= 0 || content_height_ <= 0) return RECT();
  const int view = host_->GetClientRect().bottom - host_->GetClientRect().top;
  // Never shorter than the bar is wide, so there is always something to take hold of.
  const int length = std::max<int>(
      track.right - track.left,
      static_cast<int>(static_cast<long long>(track_height) * view / content_height_));
  const int room = track_height - length;
  const int range = content_height_ - view;
  const int top = range > 0 ? static_cast<int>(static_cast<long long>(room) *
                                               std::min(GetScrollOffset(), range) / range)
                            : 0;
  return {track.left, track.top + top, track.right, track.top + top + length};
}

void RichEdit::PaintVScrollBar(IRenderContext* context) {
  if (!vscroll_shown_) return;
  // Translucent greys read on any field background the skin chooses.
  context->DrawColor(GetVScrollTrack(), 0x18000000);
  context->DrawColor(GetVScrollThumb(), thumb_grab_ >= 0 ? 0xA0000000 : 0x70000000);
}

int RichEdit::LinkRangeAt(POINT point) const {
  if (!host_ || link_ranges_.empty()) return -1;
  const RECT text_rect = host_->GetClientRect();
  if (!::PtInRect(&text_rect, point)) return -1;
  POINTL at = {point.x, point.y};
  const LONG index =
      static_cast<LONG>(host_->TxSend(EM_CHARFROMPOS, 0, reinterpret_cast<LPARAM>(&at)));
  // The services answer with the nearest character: a press right of a line's end is not on
  // its last character.
  const POINT start = PosFromChar(index);
  const POINT next = PosFromChar(index + 1);
  if (point.x < start.x || (next.y == start.y && next.x > start.x && point.x >= next.x)) {
    return -1;
  }
  for (size_t i = 0; i < link_ranges_.size(); ++i) {
    if (index >= link_ranges_[i].cpMin && index < link_ranges_[i].cpMax) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::wstring RichEdit::GetPromptText() const {
  if (!prompt_text_.empty()) return prompt_text_;
  return GlobalManager::Instance().GetLanguageText(prompt_text_id_);
}

void RichEdit::SetTextColor(const std::wstring& color) {
  text_color_ = color;
  if (host_) host_->SetTextColor(GlobalManager::Instance().GetTextColor(color));
}

void RichEdit::SetPos(const RECT& rect) {
  Box::SetPos(rect);
  if (host_) {
    PlaceText();
  } else if (IsVisible()) {
    // The text services start with the field's first layout in view, not when it joins its
    // window: a field in a panel not yet opened would make the window's first paint pay for
    // them, and they are a good part of it.
    StartTextServices();  // places the text itself
  }
}

void RichEdit::PlaceText() {
  RECT text_rect = rect_;
  if (Layout* layout = GetLayout()) {
    const RECT& padding = layout->GetPadding();
    text_rect.left += padding.left;
    text_rect.top += padding.top;
    text_rect.right -= padding.right;
    text_rect.bottom -= padding.bottom;
  }
  vscroll_shown_ = false;
  if (style_ & WS_VSCROLL) {
    const int height = text_rect.bottom - text_rect.top;
    content_height_ = NaturalTextHeight(text_rect.right - text_rect.left);
    if (content_height_ > height) {
      // Narrower text wraps into more lines: measure again at the width that is left.
      vscroll_shown_ = true;
      text_rect.right -= ScrollBarWidth();
      content_height_ = NaturalTextHeight(text_rect.right - text_rect.left);
    }
  }
  if (text_valign_ != 0) {
    // The services always lay text out from the top, so a centred or bottom line is made by
    // moving the rectangle they get down by the room the text leaves.
    const int room =
        (text_rect.bottom - text_rect.top) - NaturalTextHeight(text_rect.right - text_rect.left);
    if (room > 0) text_rect.top += text_valign_ == 1 ? room / 2 : room;
  }
  host_->SetClientRect(text_rect);
}

RECT RichEdit::GetTextRect() const {
  return host_ ? host_->GetClientRect() : RECT();
}

int RichEdit::NaturalTextHeight(int width) const {
  if (!host_ || width <= 0) return 0;
  UniqueMemoryDC dc(::CreateCompatibleDC(nullptr));
  if (!dc) return 0;
  LONG natural_width = width;
  LONG natural_height = 0;
  const SIZEL extent = {-1, -1};
  const HRESULT result = host_->GetTextServices()->TxGetNaturalSize(
      DVASPECT_CONTENT, dc.get(), nullptr, nullptr, TXTNS_FITTOCONTENT, &extent, &natural_width,
      &natural_height);
  return SUCCEEDED(result) && natural_height > 0 ? static_cast<int>(natural_height) : 0;
}

void RichEdit::OnCaretCreated(int width, int height) {
  caret_width_ = width > 0 ? width : 1;
  caret_height_ = height;
}

void RichEdit::OnCaretMoved(int x, int y) {
  caret_pos_ = {x, y};
  CHARRANGE selection = {};
  TxSend(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
  if (focused_ && selection.cpMin == selection.cpMax) {
    StartCaretBlink();
  } else {
    StopCaretBlink();
  }
}

void RichEdit::StartCaretBlink() {
  // Every move restarts the beat, so a caret that was just placed is seen at once.
  caret_flag_.Cancel();
  caret_shown_ = true;
  caret_blinking_ = nbase::TimerQueue::GetInstance()->AddCancelableTimer(
      caret_flag_.GetWeakFlag(),
      [this] {
        caret_shown_ = !caret_shown_;
        Invalidate();
      },
      500, -1);
  Invalidate();
}

void RichEdit::StopCaretBlink() {
  caret_flag_.Cancel();
  caret_blinking_ = false;
  caret_shown_ = false;
  Invalidate();
}

void RichEdit::OnTextChanged() {
  // A line more or less moves a text that is not top-aligned, and may need the scroll bar.
  if ((text_valign_ != 0 || (style_ & WS_VSCROLL)) && host_) SetPos(GetPos());
  NotifyAccessible(EVENT_OBJECT_VALUECHANGE);
  if (Window* window = GetWindow()) window->SendNotify(this, kEventTextChange);
  Invalidate();
}

void RichEdit::OnServicesNotify(DWORD code, void* data) {
  // The rich edit notifications from the message filter to the low-fidelity RTF warning go
  // to the window; the services keep anything else to themselves.
  constexpr DWORD kLastForwarded = 0x070C;
  if (code < EN_MSGFILTER || code > kLastForwarded) return;
  Window* window = GetWindow();
  HWND hwnd = window ? window->GetHWND() : nullptr;
  if (!hwnd) return;
  const UINT_PTR id = static_cast<UINT_PTR>(::GetWindowLongPtrW(hwnd, GWLP_ID));
  NMHDR own = {};
  NMHDR* header = data ? static_cast<NMHDR*>(data) : &own;
  header->hwndFrom = hwnd;
  header->idFrom = id;
  header->code = code;
  if (code == EN_LINK && data) {
    const auto* link = static_cast<const ENLINK*>(data);
    if (link->msg == WM_LBUTTONUP && link->chrg.cpMax > link->chrg.cpMin) {
      std::wstring text(static_cast<size_t>(link->chrg.cpMax - link->chrg.cpMin) + 1, L'\0');
      TEXTRANGEW range = {link->chrg, &text[0]};
      const LRESULT copied = TxSend(EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
      text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
      last_link_text_ = text;
    }
  }
  ::SendMessageW(hwnd, WM_NOTIFY, id, reinterpret_cast<LPARAM>(header));
}

void RichEdit::PlaceCompositionWindow() {
  Window* window = GetWindow();
  HWND hwnd = window ? window->GetHWND() : nullptr;
  if (!hwnd) return;
  HIMC context = ::ImmGetContext(hwnd);
  if (!context) return;
  // The caret is already in window coordinates, scrolled text included.
  COMPOSITIONFORM form = {};
  form.dwStyle = CFS_POINT;
  form.ptCurrentPos = {std::max<LONG>(1, caret_pos_.x), std::max<LONG>(1, caret_pos_.y)};
  ::ImmSetCompositionWindow(context, &form);
  ::ImmReleaseContext(hwnd, context);
}

bool RichEdit::SetServicesTimer(UINT id, UINT timeout) {
  Window* window = GetWindow();
  if (!window) return false;
  return window->AddControlTimer(
      this, [this, id] { TxSend(WM_TIMER, id, 0); }, timeout);
}

void RichEdit::KillServicesTimer(UINT) {
  // The window keeps timers per control only; the services ask again for the ones they need.
  if (Window* window = GetWindow()) window->KillControlTimers(this);
}

void RichEdit::PasteDigits() {
  if (!::OpenClipboard(GetWindow() ? GetWindow()->GetHWND() : nullptr)) return;
  std::wstring digits;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* text = static_cast<const wchar_t*>(::GlobalLock(data))) {
      for (const wchar_t* at = text; *at; ++at) {
        if (*at >= L'0' && *at <= L'9') digits.push_back(*at);
      }
      ::GlobalUnlock(data);
    }
  } else if (HANDLE ansi = ::GetClipboardData(CF_TEXT)) {
    if (const auto* text = static_cast<const char*>(::GlobalLock(ansi))) {
      for (const char* at = text; *at; ++at) {
        if (*at >= '0' && *at <= '9') digits.push_back(static_cast<wchar_t>(*at));
      }
      ::GlobalUnlock(ansi);
    }
  }
  ::CloseClipboard();
  if (!digits.empty()) TxSend(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(digits.c_str()));
}

void RichEdit::HandleMessage(EventArgs& args) {
  if (!IsEnabled() && args.type >= kEventMouseMove && args.type <= kEventMouseScrollWheel) {
    if (Box* parent = GetParent()) parent->HandleMessageTemplate(args);
    return;
  }
  const LPARAM point = MAKELPARAM(args.mouse_point.x, args.mouse_point.y);
  switch (args.type) {
    case kEventInternalSetFocus:
      focused_ = true;
      TxSend(WM_SETFOCUS, 0, 0);
      StartCaretBlink();
      return;
    case kEventInternalKillFocus: {
      focused_ = false;
      ime_composing_ = false;
      TxSend(WM_KILLFOCUS, 0, 0);
      StopCaretBlink();
      if (read_only_) {
        CHARRANGE none = {-1, 0};
        TxSend(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&none));
      }
      Invalidate();
      return;
    }
    case kEventImeStartComposition:
      PlaceCompositionWindow();
      ime_composing_ = true;
      Invalidate();
      return;
    case kEventImeEndComposition:
      ime_composing_ = false;
      Invalidate();
      return;
    case kEventSetCursor: {
      // Over the text the services choose (the I-beam, or an arrow over a selection).
      const RECT text_rect = GetTextRect();
      if (host_ && IsEnabled() && ::PtInRect(&text_rect, args.mouse_point)) {
        UniqueMemoryDC dc(::CreateCompatibleDC(nullptr));
        const HRESULT set = host_->GetTextServices()->OnTxSetCursor(
            DVASPECT_CONTENT, -1, nullptr, nullptr, dc.get(), nullptr, &text_rect,
            args.mouse_point.x, args.mouse_point.y);
        if (SUCCEEDED(set)) return;
      }
      break;
    }
    case kEventKeyDown: {
      const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
      if (args.key == VK_RETURN && ::GetKeyState(VK_SHIFT) >= 0 && want_return_msg_ &&
          ctrl == return_msg_want_ctrl_) {
        if (Window* window = GetWindow()) window->SendNotify(this, kEventReturn);
        return;
      }
      if (number_only_ && ctrl && args.key == L'V') {
        PasteDigits();
        return;
      }
      TxSend(WM_KEYDOWN, args.wparam, args.lparam);
      return;
    }
    case kEventChar:
      if (args.key == L'\t' && !want_tab_) {
        if (Window* window = GetWindow()) window->SendNotify(this, kEventTab);
        return;
      }
      // Return was either sent as its message at key down or inserts a line break here.
      if (args.key == L'\r' && want_return_msg_) return;
      if (number_only_ && args.key >= L' ' && (args.key < L'0' || args.key > L'9')) return;
      TxSend(WM_CHAR, args.wparam, args.lparam);
      return;
    case kEventMouseMove:
      if (thumb_grab_ >= 0) {
        // The thumb follows the pointer; the text scrolls in proportion.
        const RECT track = GetVScrollTrack();
        const RECT thumb = GetVScrollThumb();
        const int room = (track.bottom - track.top) - (thumb.bottom - thumb.top);
        const int view = host_->GetClientRect().bottom - host_->GetClientRect().top;
        const int top = std::min(
            room, std::max(0, static_cast<int>(args.mouse_point.y - track.top - thumb_grab_)));
        if (room > 0) {
          SetScrollOffset(
              static_cast<int>(static_cast<long long>(content_height_ - view) * top / room));
        }
        return;
      }
      TxSend(WM_MOUSEMOVE, args.wparam, point);
      return;
    case kEventMouseButtonDown:
    case kEventPointDown: {
      const RECT track = GetVScrollTrack();
      if (::PtInRect(&track, args.mouse_point)) {
        RECT thumb = GetVScrollThumb();
        if (!::PtInRect(&thumb, args.mouse_point)) {
          // A press on the track pages towards it, as scroll bars do.
          const int view = host_->GetClientRect().bottom - host_->GetClientRect().top;
          SetScrollOffset(GetScrollOffset() + (args.mouse_point.y < thumb.top ? -view : view));
          thumb = GetVScrollThumb();
        }
        thumb_grab_ = args.mouse_point.y - thumb.top;
        Box::HandleMessage(args);  // the base captures the mouse for the drag
        return;
      }
      const int link = LinkRangeAt(args.mouse_point);
      if (link >= 0) {
        if (Window* window = GetWindow()) {
          window->SendNotify(this, kEventCustomLinkClick, static_cast<WPARAM>(link));
        }
        return;
      }
      TxSend(WM_LBUTTONDOWN, args.wparam, point);
      return;
    }
    case kEventMouseButtonUp:
      if (thumb_grab_ >= 0) {
        thumb_grab_ = -1;
        Box::HandleMessage(args);
        Invalidate();
        return;
      }
      TxSend(WM_LBUTTONUP, args.wparam, point);
      return;
    case kEventMouseRightButtonDown:
      TxSend(WM_RBUTTONDOWN, args.wparam, point);
      return;
    case kEventInternalDoubleClick:
      if (!read_only_) TxSend(WM_LBUTTONDBLCLK, args.wparam, point);
      return;
    case kEventMouseScrollWheel: {
      if (::GetKeyState(VK_CONTROL) < 0) return;
      if (!host_ || !(style_ & WS_VSCROLL)) break;
      // Three lines a notch, as the system sets by default.
      const int notches = GET_WHEEL_DELTA_WPARAM(args.wparam) / WHEEL_DELTA;
      const int lines = notches * 3;
      for (int i = 0; i < (lines < 0 ? -lines : lines); ++i) {
        TxSend(WM_VSCROLL, lines > 0 ? SB_LINEUP : SB_LINEDOWN, 0);
      }
      Invalidate();
      return;
    }
    default:
      break;
  }
  Box::HandleMessage(args);
}

void RichEdit::PaintStatusImage(IRenderContext* context) {
  if (read_only_) return;
  if (focused_ && !focused_image_.IsEmpty()) {
    DrawImage(context, focused_image_);
    return;
  }
  Box::PaintStatusImage(context);
}

void RichEdit::Paint(IRenderContext* context, const RECT& paint_rect) {
  RECT clip = {};
  if (!IsVisible() || !::IntersectRect(&clip, &paint_rect, &rect_)) return;
  Box::Paint(context, paint_rect);  // background, images and children
  if (!StartTextServices()) return;
  const RECT text_rect = host_->GetClientRect();
  if (GetText().empty() && !read_only_) {
    const std::wstring prompt = GetPromptText();
    if (!prompt.empty() && !prompt_color_.empty()) {
      context->DrawText(text_rect, prompt, GlobalManager::Instance().GetTextColor(prompt_color_),
                        GlobalManager::Instance().GetFont(font_), DT_NOCLIP, 255, false);
    }
  }
  RECTL bounds = {text_rect.left, text_rect.top, text_rect.right, text_rect.bottom};
  host_->GetTextServices()->TxDraw(DVASPECT_CONTENT, 0, nullptr, nullptr, context->GetDC(), nullptr,
                                   &bounds, nullptr, &clip, nullptr, 0, TXTVIEW_ACTIVE);
  if (caret_shown_ && focused_ && !ime_composing_ && caret_height_ > 0) {
    const DWORD color =
        caret_color_.empty() ? 0xFF000000u : GlobalManager::Instance().GetTextColor(caret_color_);
    context->DrawColor(
        {caret_pos_.x, caret_pos_.y, caret_pos_.x + caret_width_, caret_pos_.y + caret_height_},
        color);
  }
  PaintVScrollBar(context);
}

int RichEdit::ScrollBarWidth() const {
  return DpiManager::Instance().ScaleInt(8);
}

void RichEdit::RescaleDpi(int from_scale, int to_scale) {
  Box::RescaleDpi(from_scale, to_scale);
  // The text services keep the character height they were given, not the font id.
  if (host_) host_->SetFont(font_);
}

}  // namespace ui
