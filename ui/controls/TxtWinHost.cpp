// ui::CTxtWinHost: answers the text services' questions from the field that hosts them.
#include "ui/controls/TxtWinHost.h"

#include <imm.h>

#include "base/ComIds.h"
#include "base/SystemLibrary.h"
#include "ui/controls/RichEdit.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"

namespace ui {
namespace {

using CreateTextServicesFn = HRESULT(WINAPI*)(IUnknown*, ITextHost*, IUnknown**);

constexpr LONG kHimetricPerInch = 2540;

COLORREF ToColorRef(DWORD argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

int ScreenDpi(int index) {
  HDC screen = ::GetDC(nullptr);
  int dpi = screen ? ::GetDeviceCaps(screen, index) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

CTxtWinHost::CTxtWinHost(RichEdit* owner) : owner_(owner) {}

CTxtWinHost::~CTxtWinHost() {
  if (services_) services_->OnTxInPlaceDeactivate();
  // Before the members it may call back into go.
  services_.reset();
}

bool CTxtWinHost::Init(const TextHostParams& params) {
  style_ = params.style;
  char_format_.cbSize = sizeof(char_format_);
  char_format_.dwMask = CFM_COLOR | CFM_SIZE | CFM_FACE | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE |
                        CFM_CHARSET | CFM_OFFSET;
  char_format_.crTextColor = ToColorRef(params.text_color);
  char_format_.yHeight = 12 * 20;
  char_format_.bCharSet = DEFAULT_CHARSET;
  lstrcpynW(char_format_.szFaceName, L"Arial", LF_FACESIZE);
  SetFont(params.font_id);
  para_format_.cbSize = sizeof(para_format_);
  para_format_.dwMask = PFM_ALL;
  para_format_.wAlignment = (style_ & ES_CENTER)  ? PFA_CENTER
                            : (style_ & ES_RIGHT) ? PFA_RIGHT
                                                  : PFA_LEFT;
  para_format_.cTabCount = 1;
  para_format_.rgxTabs[0] = 720;  // one stop every half inch

  if (style_ & ES_MULTILINE) property_bits_ |= TXTBIT_MULTILINE;
  if (style_ & ES_READONLY) property_bits_ |= TXTBIT_READONLY;
  if (style_ & ES_PASSWORD) property_bits_ |= TXTBIT_USEPASSWORD;
  if (!(style_ & (ES_AUTOHSCROLL | WS_HSCROLL))) property_bits_ |= TXTBIT_WORDWRAP;

  // Only the system folder's copy: a DLL of this name beside an installer in the Downloads
  // folder must never be the one that loads. That holds for what the services load by name
  // too (the older rich edit library, and the script library it imports): some loaders look
  // for a system library's own dependencies beside the program, so they are bound first.
  for (const wchar_t* dependency : {L"usp10.dll", L"riched20.dll"}) {
    nbase::LoadSystemLibrary(dependency);
  }
  auto create =
      nbase::GetSystemFunction<CreateTextServicesFn>(L"msftedit.dll", "CreateTextServices");
  if (!create) return false;
  nbase::ComPtr<IUnknown> unknown;
  if (FAILED(create(nullptr, this, unknown.put())) || !unknown) return false;
  nbase::ComPtr<ITextServices> services;
  if (FAILED(unknown->QueryInterface(nbase::kIidTextServices, services.put_void())) || !services) {
    return false;
  }
  services_ = std::move(services);
  if (!params.text.empty()) services_->TxSetText(params.text.c_str());
  return true;
}

LRESULT CTxtWinHost::TxSend(UINT message, WPARAM wparam, LPARAM lparam, HRESULT* result) {
  LRESULT value = 0;
  const HRESULT hr = services_ ? services_->TxSendMessage(message, wparam, lparam, &value) : E_FAIL;
  if (result) *result = hr;
  return value;
}

void CTxtWinHost::SetClientRect(const RECT& rect) {
  client_rect_ = rect;
  extent_.cx = ::MulDiv(rect.right - rect.left, kHimetricPerInch, ScreenDpi(LOGPIXELSX));
  extent_.cy = ::MulDiv(rect.bottom - rect.top, kHimetricPerInch, ScreenDpi(LOGPIXELSY));
  if (services_) {
    services_->OnTxPropertyBitsChange(TXTBIT_CLIENTRECTCHANGE | TXTBIT_EXTENTCHANGE,
                                      TXTBIT_CLIENTRECTCHANGE | TXTBIT_EXTENTCHANGE);
  }
}

void CTxtWinHost::SetScrollStyle(DWORD style) {
  style_ = style;
  if (services_) {
    services_->OnTxPropertyBitsChange(TXTBIT_SCROLLBARCHANGE, TXTBIT_SCROLLBARCHANGE);
  }
}

void CTxtWinHost::SetPropertyBitSilently(DWORD bit, bool on) {
  if (on)
    property_bits_ |= bit;
  else
    property_bits_ &= ~bit;
}

void CTxtWinHost::SetPropertyBit(DWORD bit, bool on) {
  SetPropertyBitSilently(bit, on);
  if (services_) services_->OnTxPropertyBitsChange(bit, on ? bit : 0);
}

void CTxtWinHost::SetTextColor(DWORD argb) {
  char_format_.crTextColor = ToColorRef(argb);
  char_format_.dwEffects &= ~CFE_AUTOCOLOR;
  if (services_)
    services_->OnTxPropertyBitsChange(TXTBIT_CHARFORMATCHANGE, TXTBIT_CHARFORMATCHANGE);
}

void CTxtWinHost::SetFont(const std::wstring& font_id) {
  HFONT font = GlobalManager::Instance().GetFont(font_id);
  LOGFONTW log = {};
  if (!font || !::GetObjectW(font, sizeof(log), &log)) return;
  // Heights are in twips; a negative LOGFONT height is already the character height.
  const LONG pixels = log.lfHeight < 0 ? -log.lfHeight : log.lfHeight;
  char_format_.yHeight = ::MulDiv(pixels, 1440, ScreenDpi(LOGPIXELSY));
  char_format_.dwEffects = CFE_AUTOCOLOR & char_format_.dwEffects;
  if (log.lfWeight >= FW_BOLD) char_format_.dwEffects |= CFE_BOLD;
  if (log.lfItalic) char_format_.dwEffects |= CFE_ITALIC;
  if (log.lfUnderline) char_format_.dwEffects |= CFE_UNDERLINE;
  char_format_.bCharSet = log.lfCharSet;
  char_format_.bPitchAndFamily = log.lfPitchAndFamily;
  lstrcpynW(char_format_.szFaceName, log.lfFaceName, LF_FACESIZE);
  if (services_)
    services_->OnTxPropertyBitsChange(TXTBIT_CHARFORMATCHANGE, TXTBIT_CHARFORMATCHANGE);
}

HWND CTxtWinHost::OwnerHwnd() const {
  Window* window = owner_ ? owner_->GetWindow() : nullptr;
  return window ? window->GetHWND() : nullptr;
}

HRESULT CTxtWinHost::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, nbase::kIidUnknown) || IsEqualIID(riid, nbase::kIidTextHost)) {
    *object = static_cast<ITextHost*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CTxtWinHost::AddRef() {
  return static_cast<ULONG>(++references_);
}

ULONG CTxtWinHost::Release() {
  const LONG left = --references_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HDC CTxtWinHost::TxGetDC() {
  return ::GetDC(OwnerHwnd());
}
INT CTxtWinHost::TxReleaseDC(HDC hdc) {
  return ::ReleaseDC(OwnerHwnd(), hdc);
}

// The field has no native scroll bars and draws its own from the text's size and scroll
// offset, so the services' requests are accepted and dropped.
WINBOOL CTxtWinHost::TxShowScrollBar(INT, WINBOOL) {
  return TRUE;
}
WINBOOL CTxtWinHost::TxEnableScrollBar(INT, INT) {
  return TRUE;
}
WINBOOL CTxtWinHost::TxSetScrollRange(INT, LONG, INT, WINBOOL) {
  return TRUE;
}
WINBOOL CTxtWinHost::TxSetScrollPos(INT, INT, WINBOOL) {
  return TRUE;
}

void CTxtWinHost::TxInvalidateRect(LPCRECT, WINBOOL) {
  if (owner_) owner_->Invalidate();
}

void CTxtWinHost::TxViewChange(WINBOOL) {
  if (owner_) owner_->Invalidate();
}

WINBOOL CTxtWinHost::TxCreateCaret(HBITMAP, INT width, INT height) {
  if (owner_) owner_->OnCaretCreated(width, height);
  return TRUE;
}

WINBOOL CTxtWinHost::TxShowCaret(WINBOOL) {
  return TRUE;
}

WINBOOL CTxtWinHost::TxSetCaretPos(INT x, INT y) {
  if (owner_) owner_->OnCaretMoved(x, y);
  return TRUE;
}

WINBOOL CTxtWinHost::TxSetTimer(UINT id, UINT timeout) {
  HWND hwnd = OwnerHwnd();
  return hwnd && owner_ ? owner_->SetServicesTimer(id, timeout) : FALSE;
}

void CTxtWinHost::TxKillTimer(UINT id) {
  if (owner_) owner_->KillServicesTimer(id);
}

void CTxtWinHost::TxScrollWindowEx(INT, INT, LPCRECT, LPCRECT, HRGN, LPRECT, UINT) {
  if (owner_) owner_->Invalidate();
}

void CTxtWinHost::TxSetCapture(WINBOOL capture) {
  Window* window = owner_ ? owner_->GetWindow() : nullptr;
  if (!window) return;
  if (capture)
    window->SetCapture(owner_);
  else if (window->GetCapture() == owner_)
    window->ReleaseCapture();
}

void CTxtWinHost::TxSetFocus() {
  if (Window* window = owner_ ? owner_->GetWindow() : nullptr) window->SetFocusControl(owner_);
}

void CTxtWinHost::TxSetCursor(HCURSOR cursor, WINBOOL) {
  ::SetCursor(cursor);
}

WINBOOL CTxtWinHost::TxScreenToClient(LPPOINT point) {
  return ::ScreenToClient(OwnerHwnd(), point);
}

WINBOOL CTxtWinHost::TxClientToScreen(LPPOINT point) {
  return ::ClientToScreen(OwnerHwnd(), point);
}

HRESULT CTxtWinHost::TxActivate(LONG* old_state) {
  if (old_state) *old_state = 0;
  return S_OK;
}

HRESULT CTxtWinHost::TxDeactivate(LONG) {
  return S_OK;
}

HRESULT CTxtWinHost::TxGetClientRect(LPRECT rect) {
  if (!rect) return E_INVALIDARG;
  *rect = client_rect_;
  return S_OK;
}

HRESULT CTxtWinHost::TxGetViewInset(LPRECT rect) {
  if (!rect) return E_INVALIDARG;
  *rect = RECT();  // the field's padding is already out of the client rectangle
  return S_OK;
}

HRESULT CTxtWinHost::TxGetCharFormat(const CHARFORMATW** format) {
  if (!format) return E_INVALIDARG;
  *format = reinterpret_cast<const CHARFORMATW*>(&char_format_);
  return S_OK;
}

HRESULT CTxtWinHost::TxGetParaFormat(const PARAFORMAT** format) {
  if (!format) return E_INVALIDARG;
  *format = &para_format_;
  return S_OK;
}

COLORREF CTxtWinHost::TxGetSysColor(int index) {
  return ::GetSysColor(index);
}

HRESULT CTxtWinHost::TxGetBackStyle(TXTBACKSTYLE* style) {
  if (!style) return E_INVALIDARG;
  *style = TXTBACK_TRANSPARENT;  // the control's own background shows through
  return S_OK;
}

HRESULT CTxtWinHost::TxGetMaxLength(DWORD* length) {
  if (!length) return E_INVALIDARG;
  *length = max_length_;
  return S_OK;
}

HRESULT CTxtWinHost::TxGetScrollBars(DWORD* scroll_bars) {
  if (!scroll_bars) return E_INVALIDARG;
  *scroll_bars =
      style_ & (WS_VSCROLL | WS_HSCROLL | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_DISABLENOSCROLL);
  return S_OK;
}

HRESULT CTxtWinHost::TxGetPasswordChar(TCHAR* ch) {
  if (!ch) return E_INVALIDARG;
  *ch = password_char_;
  return S_OK;
}

HRESULT CTxtWinHost::TxGetAcceleratorPos(LONG* pos) {
  if (!pos) return E_INVALIDARG;
  *pos = -1;
  return S_OK;
}

HRESULT CTxtWinHost::TxGetExtent(LPSIZEL extent) {
  if (!extent) return E_INVALIDARG;
  *extent = extent_;
  return S_OK;
}

HRESULT CTxtWinHost::OnTxCharFormatChange(const CHARFORMATW*) {
  return S_OK;
}
HRESULT CTxtWinHost::OnTxParaFormatChange(const PARAFORMAT*) {
  return S_OK;
}

HRESULT CTxtWinHost::TxGetPropertyBits(DWORD mask, DWORD* bits) {
  if (!bits) return E_INVALIDARG;
  *bits = property_bits_ & mask & ~kInPlaceActive;
  return S_OK;
}

HRESULT CTxtWinHost::TxNotify(DWORD notify, void* data) {
  if (!owner_) return S_OK;
  if (notify == EN_CHANGE) {
    owner_->OnTextChanged();
  } else {
    owner_->OnServicesNotify(notify, data);
  }
  return S_OK;
}

HIMC CTxtWinHost::TxImmGetContext() {
  return ::ImmGetContext(OwnerHwnd());
}
void CTxtWinHost::TxImmReleaseContext(HIMC himc) {
  ::ImmReleaseContext(OwnerHwnd(), himc);
}

HRESULT CTxtWinHost::TxGetSelectionBarWidth(LONG* width) {
  if (!width) return E_INVALIDARG;
  *width = 0;
  return S_OK;
}

}  // namespace ui
