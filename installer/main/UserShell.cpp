// The desktop shell's ShellExecute, reached through its folder view's dispatch object.
#include "installer/main/UserShell.h"

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shellapi.h>

#include "base/UniqueResource.h"
#include "installer/main/Log.h"

namespace usershell {
namespace {

// Written out here rather than taken from the SDK's import libraries, which would drag in
// data symbols the static link does not otherwise need.
constexpr CLSID kClsidShellWindows = {
    0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
constexpr IID kIidShellWindows = {
    0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
constexpr GUID kSidTopLevelBrowser = {
    0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
constexpr IID kIidShellBrowser = {
    0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidServiceProvider = {
    0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
constexpr IID kIidDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidShellFolderViewDual = {
    0xE7A1AF80, 0x4D96, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
constexpr IID kIidShellDispatch2 = {
    0xA4C6892C, 0x3BA9, 0x11D2, {0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62}};

// A VARIANT that clears itself; holds a BSTR or a number here.
class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&value_); }
  explicit ScopedVariant(const std::wstring& text) : ScopedVariant() {
    value_.vt = VT_BSTR;
    value_.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  explicit ScopedVariant(int number) : ScopedVariant() {
    value_.vt = VT_I4;
    value_.lVal = number;
  }
  ~ScopedVariant() { ::VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &value_; }
  bool ok() const { return value_.vt != VT_BSTR || value_.bstrVal; }

 private:
  VARIANT value_;
};

struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type text) noexcept { ::SysFreeString(text); }
};

}  // namespace

HRESULT OpenThroughDesktopShell(const std::wstring& file, const std::wstring& parameters,
                                const std::wstring& directory, int show) {
  nbase::ScopedCoInitialize com;
  if (FAILED(com.result())) return com.result();
  nbase::ComPtr<IShellWindows> windows;
  HRESULT hr = ::CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_ALL, kIidShellWindows,
                                  windows.put_void());
  if (FAILED(hr)) return hr;
  ScopedVariant desktop(CSIDL_DESKTOP);
  ScopedVariant empty;
  long desktop_window = 0;
  nbase::ComPtr<IDispatch> found;
  hr = windows->FindWindowSW(desktop.get(), empty.get(), SWC_DESKTOP, &desktop_window,
                             SWFO_NEEDDISPATCH, found.put());
  if (hr != S_OK || !found) return FAILED(hr) ? hr : E_NOINTERFACE;
  nbase::ComPtr<IServiceProvider> services;
  hr = found->QueryInterface(kIidServiceProvider, services.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IShellBrowser> browser;
  hr = services->QueryService(kSidTopLevelBrowser, kIidShellBrowser, browser.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IShellView> view;
  hr = browser->QueryActiveShellView(view.put());
  if (FAILED(hr) || !view) return FAILED(hr) ? hr : E_NOINTERFACE;
  nbase::ComPtr<IDispatch> background;
  hr = view->GetItemObject(SVGIO_BACKGROUND, kIidDispatch, background.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IShellFolderViewDual> folder_view;
  hr = background->QueryInterface(kIidShellFolderViewDual, folder_view.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IDispatch> application;
  hr = folder_view->get_Application(application.put());
  if (FAILED(hr) || !application) return FAILED(hr) ? hr : E_NOINTERFACE;
  nbase::ComPtr<IShellDispatch2> shell;
  hr = application->QueryInterface(kIidShellDispatch2, shell.put_void());
  if (FAILED(hr)) return hr;

  nbase::UniqueResource<BstrTraits> file_text(
      ::SysAllocStringLen(file.data(), static_cast<UINT>(file.size())));
  ScopedVariant arguments(parameters);
  ScopedVariant folder(directory);
  ScopedVariant operation(std::wstring(L"open"));
  ScopedVariant show_command(show);
  if (!file_text || !arguments.ok() || !folder.ok() || !operation.ok()) return E_OUTOFMEMORY;
  return shell->ShellExecute(file_text.get(), *arguments.get(), *folder.get(), *operation.get(),
                             *show_command.get());
}

LaunchRoute OpenAsUser(const std::wstring& file, const std::wstring& parameters,
                       const std::wstring& directory, int show) {
  const HRESULT hr = OpenThroughDesktopShell(file, parameters, directory, show);
  if (SUCCEEDED(hr)) return LaunchRoute::kDesktopShell;
  LOG_WAR(L"the desktop shell could not open %ls (0x%08lX); opening it from the installer",
          file.c_str(), static_cast<unsigned long>(hr));
  const HINSTANCE started = ::ShellExecuteW(nullptr, L"open", file.c_str(),
                                            parameters.empty() ? nullptr : parameters.c_str(),
                                            directory.empty() ? nullptr : directory.c_str(), show);
  return reinterpret_cast<INT_PTR>(started) > 32 ? LaunchRoute::kDirect : LaunchRoute::kFailed;
}

}  // namespace usershell
