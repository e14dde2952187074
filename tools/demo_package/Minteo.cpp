// Stand-in for the installed product: shows for a few seconds that it runs and leaves its process
// id beside itself, so a test can tell that the installer really launched it.
#include <windows.h>

#include <string>

#include "base/UniqueResource.h"
#include "tools/demo_package/AtomicFile.h"

namespace {

constexpr wchar_t kWindowClass[] = L"MinteoDemoWindow";
constexpr wchar_t kTraceFile[] = L"minteo_started.txt";

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT_PTR kAnimationTimer = 2;
constexpr DWORD kVisibleMs = 3000;
constexpr DWORD kAnimationStepMs = 30;

const COLORREF kBrand = RGB(0x07, 0xBE, 0x8B);
const COLORREF kBrandPale = RGB(0xE6, 0xF8, 0xF3);
const COLORREF kText = RGB(0x2B, 0x2F, 0x33);
const COLORREF kMutedText = RGB(0x6B, 0x72, 0x78);
const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

struct GdiObjectTraits {
  using Type = HGDIOBJ;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type object) noexcept { ::DeleteObject(object); }
};
using UniqueGdiObject = nbase::UniqueResource<GdiObjectTraits>;

// Puts an object into a device context for one scope and restores the previous one.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~ScopedSelect() { ::SelectObject(dc_, previous_); }
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

class MinteoWindow {
 public:
  bool Create(HINSTANCE instance) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &MinteoWindow::WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    window_class.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&window_class)) return false;

    HDC screen = ::GetDC(nullptr);
    dpi_ = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    if (dpi_ <= 0) dpi_ = 96;
    title_font_.reset(MakeFont(20, FW_SEMIBOLD));
    text_font_.reset(MakeFont(11, FW_NORMAL));
    logo_font_.reset(MakeFont(22, FW_BOLD));

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT frame = {0, 0, Scale(400), Scale(150)};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;

    HWND window = ::CreateWindowExW(0, kWindowClass, L"Clipmint", style, x, y, width, height,
                                    nullptr, nullptr, instance, this);
    if (!window) return false;
    started_ = ::GetTickCount();
    ::SetTimer(window, kCloseTimer, kVisibleMs, nullptr);
    ::SetTimer(window, kAnimationTimer, kAnimationStepMs, nullptr);
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);
    return true;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MinteoWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case WM_TIMER:
        if (wparam == kCloseTimer) {
          ::DestroyWindow(window);
        } else if (wparam == kAnimationTimer) {
          ::InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
      case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers every pixel; erasing first would only flicker
      case WM_PAINT:
        if (self) self->Paint(window);
        return 0;
      case WM_DESTROY:
        ::KillTimer(window, kCloseTimer);
        ::KillTimer(window, kAnimationTimer);
        ::PostQuitMessage(0);
        return 0;
      default:
        return ::DefWindowProcW(window, message, wparam, lparam);
    }
  }

  int Scale(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }

  HFONT MakeFont(int points, int weight) const {
    return ::CreateFontW(-::MulDiv(points, dpi_, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
  }

  void Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC target = ::BeginPaint(window, &paint);
    RECT client;
    ::GetClientRect(window, &client);
    // Drawn off-screen and copied in one go, so the moving bar does not flicker.
    HDC dc = ::CreateCompatibleDC(target);
    UniqueGdiObject bitmap(::CreateCompatibleBitmap(target, client.right, client.bottom));
    if (dc && bitmap) {
      {
        ScopedSelect select_bitmap(dc, bitmap.get());
        Draw(dc, client);
        ::BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
      }
    } else {
      Draw(target, client);
    }
    if (dc) ::DeleteDC(dc);
    ::EndPaint(window, &paint);
  }

  void Fill(HDC dc, const RECT& rect, COLORREF color) const {
    UniqueGdiObject brush(::CreateSolidBrush(color));
    ::FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
  }

  void Draw(HDC dc, const RECT& client) const {
    Fill(dc, client, kWhite);
    ::SetBkMode(dc, TRANSPARENT);

    // The mark: a rounded brand square with the initial.
    const int margin = Scale(28);
    const int logo = Scale(56);
    RECT mark = {margin, (client.bottom - logo) / 2 - Scale(4), margin + logo, 0};
    mark.bottom = mark.top + logo;
    {
      UniqueGdiObject brush(::CreateSolidBrush(kBrand));
      UniqueGdiObject pen(::CreatePen(PS_SOLID, 1, kBrand));
      ScopedSelect select_brush(dc, brush.get());
      ScopedSelect select_pen(dc, pen.get());
      ::RoundRect(dc, mark.left, mark.top, mark.right, mark.bottom, Scale(16), Scale(16));
    }
    {
      ScopedSelect select_font(dc, logo_font_.get());
      ::SetTextColor(dc, kWhite);
      ::DrawTextW(dc, L"C", -1, &mark, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }

    const int text_left = mark.right + Scale(20);
    RECT title = {text_left, mark.top - Scale(4), client.right - margin, mark.top + Scale(34)};
    {
      ScopedSelect select_font(dc, title_font_.get());
      ::SetTextColor(dc, kBrand);
      ::DrawTextW(dc, L"Clipmint", -1, &title, DT_LEFT | DT_BOTTOM | DT_SINGLELINE);
    }
    RECT line = {text_left, title.bottom + Scale(4), client.right - margin, mark.bottom + Scale(4)};
    {
      ScopedSelect select_font(dc, text_font_.get());
      ::SetTextColor(dc, kText);
      ::DrawTextW(dc, L"Clipmint is running", -1, &line, DT_LEFT | DT_TOP | DT_SINGLELINE);
      RECT hint = line;
      hint.top += Scale(20);
      hint.bottom = hint.top + Scale(20);
      ::SetTextColor(dc, kMutedText);
      ::DrawTextW(dc, L"This window closes by itself.", -1, &hint,
                  DT_LEFT | DT_TOP | DT_SINGLELINE);
    }

    // A thin bar along the bottom fills up while the window is shown.
    const int bar_height = Scale(4);
    RECT track = {0, client.bottom - bar_height, client.right, client.bottom};
    Fill(dc, track, kBrandPale);
    const DWORD elapsed = ::GetTickCount() - started_;
    const int filled =
        elapsed >= kVisibleMs ? client.right : ::MulDiv(client.right, elapsed, kVisibleMs);
    RECT done = {0, track.top, filled, track.bottom};
    Fill(dc, done, kBrand);
  }

  int dpi_ = 96;
  DWORD started_ = 0;
  UniqueGdiObject title_font_;
  UniqueGdiObject text_font_;
  UniqueGdiObject logo_font_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  const std::string pid = std::to_string(::GetCurrentProcessId());
  const std::wstring folder = demo::OwnFolder();
  const bool traced = !folder.empty() && demo::WriteFileAtomically(folder + kTraceFile, pid.data(),
                                                                   pid.size()) == ERROR_SUCCESS;

  MinteoWindow window;
  if (window.Create(instance)) {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  // Showing the window is a courtesy; the trace is what the caller checks.
  return traced ? 0 : 1;
}
