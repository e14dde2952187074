// ui::CTxtWinHost: the ITextHost a rich edit field gives the system's windowless text services.
#pragma once

#include <windows.h>
#include <richedit.h>
#include <textserv.h>

#include <string>

#include "base/UniqueResource.h"

namespace ui {

class RichEdit;

// What the field asks the text services to start with.
struct TextHostParams {
  DWORD style = 0;  // edit style bits of the field
  std::wstring text;
  std::wstring font_id;
  DWORD text_color = 0xFF000000;  // ARGB
};

// UI thread only. Reference counted as COM wants it; the field holds the first reference and
// drops it with Release when it goes away.
class CTxtWinHost final : public ITextHost {
 public:
  explicit CTxtWinHost(RichEdit* owner);
  CTxtWinHost(const CTxtWinHost&) = delete;
  CTxtWinHost& operator=(const CTxtWinHost&) = delete;

  // Loads the library and creates the services; false leaves the host without them.
  bool Init(const TextHostParams& params);
  ITextServices* GetTextServices() const { return services_.get(); }
  // Sends a message to the services; 0 when there are none.
  LRESULT TxSend(UINT message, WPARAM wparam = 0, LPARAM lparam = 0, HRESULT* result = nullptr);

  void SetClientRect(const RECT& rect);
  const RECT& GetClientRect() const { return client_rect_; }
  void SetPropertyBit(DWORD bit, bool on);
  void SetTextColor(DWORD argb);
  void SetFont(const std::wstring& font_id);
  void SetPasswordChar(wchar_t ch) { password_char_ = ch; }
  // New scroll style bits of the field (WS_VSCROLL and the like), passed on to the services.
  void SetScrollStyle(DWORD style);
  void SetInPlaceActive(bool active) { SetPropertyBitSilently(kInPlaceActive, active); }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ITextHost
  HDC TxGetDC() override;
  INT TxReleaseDC(HDC hdc) override;
  WINBOOL TxShowScrollBar(INT bar, WINBOOL show) override;
  WINBOOL TxEnableScrollBar(INT flags, INT arrows) override;
  WINBOOL TxSetScrollRange(INT bar, LONG min_pos, INT max_pos, WINBOOL redraw) override;
  WINBOOL TxSetScrollPos(INT bar, INT pos, WINBOOL redraw) override;
  void TxInvalidateRect(LPCRECT rect, WINBOOL mode) override;
  void TxViewChange(WINBOOL update) override;
  WINBOOL TxCreateCaret(HBITMAP bitmap, INT width, INT height) override;
  WINBOOL TxShowCaret(WINBOOL show) override;
  WINBOOL TxSetCaretPos(INT x, INT y) override;
  WINBOOL TxSetTimer(UINT id, UINT timeout) override;
  void TxKillTimer(UINT id) override;
  void TxScrollWindowEx(INT dx, INT dy, LPCRECT scroll, LPCRECT clip, HRGN update_region,
                        LPRECT update, UINT flags) override;
  void TxSetCapture(WINBOOL capture) override;
  void TxSetFocus() override;
  void TxSetCursor(HCURSOR cursor, WINBOOL text) override;
  WINBOOL TxScreenToClient(LPPOINT point) override;
  WINBOOL TxClientToScreen(LPPOINT point) override;
  HRESULT TxActivate(LONG* old_state) override;
  HRESULT TxDeactivate(LONG new_state) override;
  HRESULT TxGetClientRect(LPRECT rect) override;
  HRESULT TxGetViewInset(LPRECT rect) override;
  HRESULT TxGetCharFormat(const CHARFORMATW** format) override;
  HRESULT TxGetParaFormat(const PARAFORMAT** format) override;
  COLORREF TxGetSysColor(int index) override;
  HRESULT TxGetBackStyle(TXTBACKSTYLE* style) override;
  HRESULT TxGetMaxLength(DWORD* length) override;
  HRESULT TxGetScrollBars(DWORD* scroll_bars) override;
  HRESULT TxGetPasswordChar(TCHAR* ch) override;
  HRESULT TxGetAcceleratorPos(LONG* pos) override;
  HRESULT TxGetExtent(LPSIZEL extent) override;
  HRESULT OnTxCharFormatChange(const CHARFORMATW* format) override;
  HRESULT OnTxParaFormatChange(const PARAFORMAT* format) override;
  HRESULT TxGetPropertyBits(DWORD mask, DWORD* bits) override;
  HRESULT TxNotify(DWORD notify, void* data) override;
  HIMC TxImmGetContext() override;
  void TxImmReleaseContext(HIMC himc) override;
  HRESULT TxGetSelectionBarWidth(LONG* width) override;

 private:
  static constexpr DWORD kInPlaceActive = 0x80000000u;  // host-only bit, never reported
  ~CTxtWinHost();
  void SetPropertyBitSilently(DWORD bit, bool on);
  HWND OwnerHwnd() const;

  LONG references_ = 1;
  RichEdit* owner_;
  nbase::ComPtr<ITextServices> services_;
  CHARFORMAT2W char_format_ = {};
  PARAFORMAT para_format_ = {};
  RECT client_rect_ = {};
  SIZEL extent_ = {};
  DWORD max_length_ = 0x7FFF;
  DWORD style_ = 0;
  wchar_t password_char_ = L'*';
  DWORD property_bits_ = 0;
};

}  // namespace ui
