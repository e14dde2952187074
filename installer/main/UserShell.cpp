// The desktop shell's ShellExecute, reached through its folder view's dispatch object.
#include "installer/main/UserShell.h"

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

#include "base/ComIds.h"
#include "base/UniqueResource.h"
#include "installer/main/Log.h"
#include "installer/main/ShellFunctions.h"

namespace usershell {
namespace {

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
  HRESULT hr = ::CoCreateInstance(nbase::kClsidShellWindows, nullptr, CLSCTX_ALL,
                                  nbase::kIidShellWindows, windows.put_void());
  if (FAILED(hr)) return hr;
  ScopedVariant desktop(CSIDL_DESKTOP);
  ScopedVariant empty;
  long desktop_window = 0;
  nbase::ComPtr<IDispatch> found;
  hr = windows->FindWindowSW(desktop.get(), empty.get(), SWC_DESKTOP, &desktop_window,
                             SWFO_NEEDDISPATCH, found.put());
  if (hr != S_OK || !found) return FAILED(hr) ? hr : E_NOINTERFACE;
  nbase::ComPtr<IServiceProvider> services;
  hr = found->QueryInterface(nbase::kIidServiceProvider, services.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IShellBrowser> browser;
  hr = services->QueryService(nbase::kSidTopLevelBrowser, nbase::kIidShellBrowser,
                              browser.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IShellView> view;
  hr = browser->QueryActiveShellView(view.put());
  if (FAILED(hr) || !view) return FAILED(hr) ? hr : E_NOINTERFACE;
  nbase::ComPtr<IDispatch> background;
  hr = view->GetItemObject(SVGIO_BACKGROUND, nbase::kIidDispatch, background.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IShellFolderViewDual> folder_view;
  hr = background->QueryInterface(nbase::kIidShellFolderViewDual, folder_view.put_void());
  if (FAILED(hr)) return hr;
  nbase::ComPtr<IDispatch> application;
  hr = folder_view->get_Application(application.put());
  if (FAILED(hr) || !application) return FAILED(hr) ? hr : E_NOINTERFACE;
  nbase::ComPtr<IShellDispatch2> shell;
  hr = application->QueryInterface(nbase::kIidShellDispatch2, shell.put_void());
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

bool IsElevated() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return true;
  nbase::UniqueHandle token(raw);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
    return true;
  }
  return elevation.TokenIsElevated != 0;
}

LaunchRoute OpenAfterDesktopShellFailed(HRESULT desktop_result, const std::wstring& file,
                                        const std::wstring& parameters,
                                        const std::wstring& directory, int show) {
  if (IsElevated()) {
    LOG_WAR(
        L"the desktop shell could not open %ls (0x%08lX); not opened from the installer, "
        L"whose rights are an administrator's: the user finds it there",
        file.c_str(), static_cast<unsigned long>(desktop_result));
    return LaunchRoute::kNotStarted;
  }
  LOG_WAR(
      L"the desktop shell could not open %ls (0x%08lX); opening it from the installer, "
      L"which runs with the user's own rights",
      file.c_str(), static_cast<unsigned long>(desktop_result));
  const ShellApi& shell = ShellFunctions();
  if (!shell.complete) return LaunchRoute::kFailed;
  const HINSTANCE started = shell.ShellExecuteW(
      nullptr, L"open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
      directory.empty() ? nullptr : directory.c_str(), show);
  return reinterpret_cast<INT_PTR>(started) > 32 ? LaunchRoute::kDirect : LaunchRoute::kFailed;
}

LaunchRoute OpenAsUser(const std::wstring& file, const std::wstring& parameters,
                       const std::wstring& directory, int show) {
  const HRESULT hr = OpenThroughDesktopShell(file, parameters, directory, show);
  if (SUCCEEDED(hr)) return LaunchRoute::kDesktopShell;
  return OpenAfterDesktopShellFailed(hr, file, parameters, directory, show);
}

}  // namespace usershell
