// ui::RichEdit: attributes, input translation, prompt and caret around the text services.
#include "ui/controls/RichEdit.h"

#include <richedit.h>
#include <textserv.h>

#include <string>

#include "ui/controls/TxtWinHost.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"
#include "ui/layouts/Layout.h"
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
  if (host_) host_->Release();
}

void RichEdit::SetStyleBit(DWORD bit, bool on) {
  if (on) style_ |= bit;
  else style_ &= ~bit;
}

void RichEdit::SetAttribute(const std::wstring& name, const std::wstring& value) {
  const bool is_true = value == L"true";
  if (name == L"vscrollbar") {
    SetStyleBit(WS_VSCROLL | ES_DISABLENOSCROLL, is_true);
    if (!is_true && (style_ & WS_HSCROLL)) style_ |= ES_DISABLENOSCROLL;
  } else if (name == L"hscrollbar") {
    SetStyleBit(WS_HSCROLL | ES_DISABLENOSCROLL, is_true);
    if (!is_true && (style_ & WS_VSCROLL)) style_ |= ES_DISABLENOSCROLL;
  } else if (name == L"autovscroll") {
    if (is_true || value == L"false") SetStyleBit(ES_AUTOVSCROLL, is_true);
  } else if (name == L"autohscroll") {
    if (is_true || value == L"false") SetStyleBit(ES_AUTOHSCROLL, is_true);
  } else if (name == L"multiline") {
    if (is_true || value == L"false") SetStyleBit(ES_MULTILINE, is_true);
  } else if (name == L"readonly") {
    if (is_true || value == L"false") {
      SetStyleBit(ES_READONLY, is_true);
      read_only_ = is_true;
      if (host_) host_->SetPropertyBit(TXTBIT_READONLY, is_true);
    }
  } else if (name == L"password") {
    if (is_true || value == L"false") {
      SetStyleBit(ES_PASSWORD, is_true);
      password_ = is_true;
      if (host_) host_->SetPropertyBit(TXTBIT_USEPASSWORD, is_true);
    }
  } else if (name == L"number") {
    if (is_true || value == L"false") {
      SetStyleBit(ES_NUMBER, is_true);
      number_only_ = is_true;
    }
  } else if (name == L"align") {
    if (value.find(L"left") != std::wstring::npos) style_ &= ~(ES_CENTER | ES_RIGHT);
    if (value.find(L"hcenter") != std::wstring::npos) {
      style_ &= ~ES_RIGHT;
      style_ |= ES_CENTER;
    }
    if (value.find(L"right") != std::wstring::npos) {
      style_ &= ~ES_CENTER;
      style_ |= ES_RIGHT;
    }
    if (value.find(L"top") != std::wstring::npos) text_valign_ = 0;
    if (value.find(L"vcenter") != std::wstring::npos) text_valign_ = 1;
    if (value.find(L"bottom") != std::wstring::npos) text_valign_ = 2;
  } else if (name == L"normaltextcolor") {
    normal_text_color_ = SkipBlanks(value);
    if (IsEnabled()) SetTextColor(normal_text_color_);
  } else if (name == L"disabledtextcolor") {
    disabled_text_color_ = SkipBlanks(value);
    if (!IsEnabled()) SetTextColor(disabled_text_color_);
  } else if (name == L"caretcolor") {
    caret_color_ = SkipBlanks(value);
  } else if (name == L"promptmode") {
    prompt_mode_ = is_true;  // kept for markup compatibility; the prompt does not depend on it
  } else if (name == L"promptcolor") {
    prompt_color_ = SkipBlanks(value);
  } else if (name == L"prompttext") {
    SetPromptText(value);
  } else if (name == L"prompttextid") {
    SetPromptTextId(value);
  } else if (name == L"focusedimage") {
    focused_image_.SetImageString(value);
    Invalidate();
  } else if (name == L"font") {
    font_ = value;
    if (host_) host_->SetFont(font_);
  } else if (name == L"text") {
    SetText(value);
  } else if (name == L"textid") {
    SetText(GlobalManager::Instance().GetLanguageText(value));
  } else if (name == L"wanttab") {
    want_tab_ = is_true;
  } else if (name == L"wantreturnmsg") {
    want_return_msg_ = is_true;
  } else if (name == L"returnmsgwantctrl") {
    return_msg_want_ctrl_ = is_true;
  } else if (name == L"rich") {
    rich_ = is_true;
    if (host_) host_->SetPropertyBit(TXTBIT_RICHTEXT, rich_);
  } else {
    Box::SetAttribute(name, value);
  }
}

void RichEdit::SetWindow(Window* window, Box* parent, bool init) {
  Box::SetWindow(window, parent, init);
  if (init && window && !inited_) InitTextServices();
}

void RichEdit::InitTextServices() {
  inited_ = true;
  TextHostParams params;
  params.style = style_;
  params.text = text_;
  params.font_id = font_;
  params.text_color = GlobalManager::Instance().GetTextColor(text_color_);
  auto* host = new CTxtWinHost(this);
  if (rich_) host->SetPropertyBit(TXTBIT_RICHTEXT, true);
  if (!host->Init(params)) {
    host->Release();
    return;
  }
  host_ = host;
  host_->SetPropertyBit(TXTBIT_SAVESELECTION, true);
  TxSend(EM_SETLANGOPTIONS, 0, 0);
  TxSend(EM_SETEVENTMASK, 0, ENM_CHANGE);
  host_->SetInPlaceActive(true);
  const RECT client = host_->GetClientRect();
  if (FAILED(host_->GetTextServices()->OnTxInPlaceActivate(&client))) {
    host_->SetInPlaceActive(false);
  }
}

LRESULT RichEdit::TxSend(UINT message, WPARAM wparam, LPARAM lparam) {
  return host_ ? host_->TxSend(message, wparam, lparam) : 0;
}

std::wstring RichEdit::GetText() const {
  if (!host_) return std::wstring();
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
  if (!host_) return;
  RECT text_rect = rect_;
  if (Layout* layout = GetLayout()) {
    const RECT& padding = layout->GetPadding();
    text_rect.left += padding.left;
    text_rect.top += padding.top;
    text_rect.right -= padding.right;
    text_rect.bottom -= padding.bottom;
  }
  host_->SetClientRect(text_rect);
}

void RichEdit::OnCaretCreated(int width, int height) {
  caret_width_ = width > 0 ? width : 1;
  caret_height_ = height;
}

void RichEdit::OnCaretMoved(int x, int y) {
  caret_pos_ = {x, y};
  CHARRANGE selection = {};
  TxSend(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
  caret_shown_ = focused_ && selection.cpMin == selection.cpMax;
  Invalidate();
}

void RichEdit::OnTextChanged() {
  if (Window* window = GetWindow()) window->SendNotify(this, kEventTextChange);
  Invalidate();
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
      caret_shown_ = true;
      Invalidate();
      return;
    case kEventInternalKillFocus: {
      focused_ = false;
      TxSend(WM_KILLFOCUS, 0, 0);
      caret_shown_ = false;
      if (read_only_) {
        CHARRANGE none = {-1, 0};
        TxSend(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&none));
      }
      Invalidate();
      return;
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
      TxSend(WM_MOUSEMOVE, args.wparam, point);
      return;
    case kEventMouseButtonDown:
    case kEventPointDown:
      TxSend(WM_LBUTTONDOWN, args.wparam, point);
      return;
    case kEventMouseButtonUp:
      TxSend(WM_LBUTTONUP, args.wparam, point);
      return;
    case kEventMouseRightButtonDown:
      TxSend(WM_RBUTTONDOWN, args.wparam, point);
      return;
    case kEventInternalDoubleClick:
      if (!read_only_) TxSend(WM_LBUTTONDBLCLK, args.wparam, point);
      return;
    case kEventMouseScrollWheel:
      if (::GetKeyState(VK_CONTROL) < 0) return;
      break;
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
  if (!host_) return;
  const RECT text_rect = host_->GetClientRect();
  if (GetText().empty() && !read_only_) {
    const std::wstring prompt = GetPromptText();
    if (!prompt.empty() && !prompt_color_.empty()) {
      context->DrawText(text_rect, prompt, GlobalManager::Instance().GetTextColor(prompt_color_),
                        font_, DT_NOCLIP, 255, false);
    }
  }
  RECTL bounds = {text_rect.left, text_rect.top, text_rect.right, text_rect.bottom};
  host_->GetTextServices()->TxDraw(DVASPECT_CONTENT, 0, nullptr, nullptr, context->GetDC(),
                                   nullptr, &bounds, nullptr, &clip, nullptr, 0,
                                   TXTVIEW_ACTIVE);
  if (caret_shown_ && focused_ && caret_height_ > 0) {
    const DWORD color = caret_color_.empty()
                            ? 0xFF000000u
                            : GlobalManager::Instance().GetTextColor(caret_color_);
    context->DrawColor({caret_pos_.x, caret_pos_.y, caret_pos_.x + caret_width_,
                        caret_pos_.y + caret_height_},
                       color);
  }
}

}  // namespace ui
