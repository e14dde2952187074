// Windows services behind the installer's system helpers; results only, no logging, no UI.
#include "installer/main/SystemUtil.h"

#include <netlistmgr.h>
#include <tlhelp32.h>

#include <iterator>

#include "base/ComIds.h"
#include "base/Lock.h"
#include "base/StringUtil.h"
#include "base/SystemLibrary.h"
#include "base/UniqueResource.h"
#include "installer/main/ShellFunctions.h"

namespace sysutil {
namespace {

constexpr wchar_t kSeparators[] = L"\\/";

constexpr DWORD kKnownFolderCreate = 0x8000;  // KF_FLAG_CREATE
constexpr DWORD kClassContextAll = 23;        // in-proc server/handler, local and remote server
constexpr int kShellCreateDirectoryOrdinal = 165;

// Cached values are filled on first use from whichever thread gets there first.
nbase::Lock& CacheLock() {
  static nbase::Lock lock;
  return lock;
}

std::wstring QueryLocalAppDataFolder() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));

  std::wstring folder;
  if (version.dwMajorVersion > 5) {
    // Looked up by name: the export does not exist before Vista.
    using GetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
    const auto get_known_folder_path =
        nbase::GetSystemFunction<GetKnownFolderPathFn>(L"shell32.dll", "SHGetKnownFolderPath");
    if (get_known_folder_path) {
      PWSTR raw_path = nullptr;
      const HRESULT hr = get_known_folder_path(nbase::kFolderIdLocalAppData, kKnownFolderCreate,
                                               nullptr, &raw_path);
      nbase::UniqueCoTaskMem path(raw_path);
      if (SUCCEEDED(hr) && raw_path) folder = raw_path;
    }
  } else {
    wchar_t path[MAX_PATH] = {};
    const ShellApi& shell = ShellFunctions();
    if (shell.complete &&
        SUCCEEDED(shell.SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                         0, path))) {
      folder = path;
    }
  }
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

std::wstring QueryNativeProgramFiles() {
  std::wstring folder;
  {
    // From the 64-bit registry view: a 32-bit process is shown "Program Files (x86)" by every
    // folder API, and the environment is whatever the (unprivileged) parent handed down.
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
      wchar_t path[MAX_PATH] = {};
      DWORD size = sizeof(path) - sizeof(wchar_t);
      DWORD type = 0;
      if (::RegQueryValueExW(key, L"ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(path),
                             &size) == ERROR_SUCCESS &&
          (type == REG_SZ || type == REG_EXPAND_SZ) && path[0]) {
        folder = nbase::StringPrintf(L"%ls/", path);
      }
      ::RegCloseKey(key);
    }
  }
  return folder;
}

}  // namespace

std::wstring ExeBaseNameOf(const std::wstring& file_name) {
  const std::vector<std::wstring> pieces = nbase::Split(file_name, L".");
  // Any other shape ("setup_1.2.exe") keeps the whole name: an empty one would leave the
  // instance unnamed and let two installers share one log.
  return pieces.size() == 2 ? pieces[0] : file_name;
}

namespace {

// Taken from the loader's trace of whole runs: every library loaded after the entry that is not
// a static import of the program, in the order the loader finished them, which puts each after
// its own imports; split where the window has painted. The common controls are left out: the
// manifest binds them from the side-by-side store, and a copy from the system folder would be
// the old version.
// The window's own drawing libraries (the picture library, the alpha blend, the rich edit) are
// bound by full path when first used and need no place here; what they and the system's
// window code load by name does (the picture library takes the shell's helpers with it). The
// shell and the sockets are bound at run time, after the first paint. The text field's libraries
// wait for the first paint: the home page's field is hidden until its panel opens, and the field
// binds them itself should that come first.
const wchar_t* const kBeforeTheWindow[] = {
    L"uxtheme.dll",
    L"shcore.dll",
    L"shlwapi.dll",
};
const wchar_t* const kAfterFirstPaint[] = {
    L"usp10.dll",    L"shell32.dll",  L"riched20.dll", L"propsys.dll",  L"windowscodecs.dll",
    L"gdiplus.dll",  L"msimg32.dll",  L"msftedit.dll", L"bcrypt.dll",   L"crypt32.dll",
    L"rsaenh.dll",   L"oleacc.dll",   L"mpr.dll",      L"ws2_32.dll",   L"wininet.dll",
    L"jsproxy.dll",  L"winhttp.dll",  L"msacm32.dll",  L"winmm.dll",    L"explorerframe.dll",
    L"secur32.dll",  L"kerberos.dll", L"dnsapi.dll",   L"nsi.dll",      L"iphlpapi.dll",
    L"netapi32.dll", L"msv1_0.dll",   L"schannel.dll", L"wintrust.dll", L"dbghelp.dll",
    L"imagehlp.dll", L"cryptnet.dll", L"urlmon.dll",   L"ieframe.dll",  L"actxprxy.dll",
};

template <size_t N>
std::vector<std::wstring> Preload(const wchar_t* const (&names)[N]) {
  return nbase::PreloadSystemLibraries(std::vector<const wchar_t*>(names, names + N));
}

}  // namespace

const std::vector<const wchar_t*>& LateSystemLibraries() {
  static const std::vector<const wchar_t*> libraries = [] {
    std::vector<const wchar_t*> all(std::begin(kBeforeTheWindow), std::end(kBeforeTheWindow));
    all.insert(all.end(), std::begin(kAfterFirstPaint), std::end(kAfterFirstPaint));
    return all;
  }();
  return libraries;
}

std::vector<std::wstring> PreloadLibrariesBeforeTheWindow() {
  return Preload(kBeforeTheWindow);
}

const std::vector<const wchar_t*>& LibrariesAfterFirstPaint() {
  static const std::vector<const wchar_t*> libraries(std::begin(kAfterFirstPaint),
                                                     std::end(kAfterFirstPaint));
  return libraries;
}

std::wstring GetExeBaseName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return ExeBaseNameOf(FileNamePart(std::wstring(path, length)));
}

std::wstring GetInstanceName() {
  std::wstring name = GetExeBaseName();
  if (!name.empty()) ::CharLowerBuffW(&name[0], static_cast<DWORD>(name.size()));
  return name;
}

std::wstring FileNamePart(const std::wstring& path) {
  const size_t separator = path.find_last_of(kSeparators);
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring DirectoryPart(const std::wstring& path) {
  const size_t separator = path.find_last_of(kSeparators);
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

std::wstring JoinPath(const std::wstring& folder_path, const std::wstring& file_name) {
  const std::wstring folder = DirectoryPart(folder_path);
  return folder.empty() ? std::wstring() : folder + file_name;
}

std::wstring GetLocalAppDataFolder() {
  static std::wstring cached;
  nbase::AutoLock guard(CacheLock());
  // An empty answer is not kept: the next caller asks the system again.
  if (cached.empty()) cached = QueryLocalAppDataFolder();
  return cached;
}

std::wstring GetProgramFilesFolder() {
  static std::wstring cached;
  static bool computed = false;
  nbase::AutoLock guard(CacheLock());
  if (!computed) {
    wchar_t path[MAX_PATH] = {};
    const ShellApi& shell = ShellFunctions();
    if (shell.complete) shell.SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE);
    cached = nbase::StringPrintf(L"%ls/", path);
    computed = true;
  }
  return cached;
}

std::wstring GetNativeProgramFilesFolder() {
  if (!Is64BitSystem()) return GetProgramFilesFolder();
  static std::wstring cached;
  std::wstring native;
  {
    nbase::AutoLock guard(CacheLock());
    if (cached.empty()) cached = QueryNativeProgramFiles();
    native = cached;
  }
  // Asked outside the lock, which the other folder's cache takes as well.
  return native.empty() ? GetProgramFilesFolder() : native;
}

std::wstring OSNameFor(DWORD platform_id, DWORD major, DWORD minor, BYTE product_type,
                       WORD native_architecture) {
  std::wstring name = L"Unknow";
  if (platform_id != VER_PLATFORM_WIN32_NT) return name;
  const bool workstation = product_type == VER_NT_WORKSTATION;
  if (major == 4 || major == 5) {
    if (major == 4 && minor == 0) name = L"Microsoft Windows NT 4.0";
    if (major == 5 && minor == 0) name = L"Windows 2000";
    if (major == 5 && minor == 1) name = L"Windows XP";
    if (major == 5 && minor == 2) name = L"Windows Server 2003";
    return name;
  }
  if (major == 6 && minor == 0) name = workstation ? L"Windows Vista" : L"Windows Server 2008";
  if (major == 6 && minor == 1) name = workstation ? L"Windows 7" : L"Windows Server 2008 R2";
  if (major > 5) {
    // The native architecture, not this process's: a 32-bit installer must still pick the
    // 64-bit package on a 64-bit system.
    if (native_architecture == PROCESSOR_ARCHITECTURE_AMD64) name += L" 64-bit";
    if (native_architecture == PROCESSOR_ARCHITECTURE_INTEL) name += L" 32-bit";
  }
  return name;
}

std::wstring GetOSName() {
  static std::wstring cached;
  nbase::AutoLock guard(CacheLock());
  if (cached.empty()) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    cached = OSNameFor(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion,
                       version.wProductType, system.wProcessorArchitecture);
  }
  return cached;
}

bool Is64BitSystem() {
  return GetOSName().find(L" 64-bit") != std::wstring::npos;
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectoryChain(const std::wstring& path) {
  if (IsDirectory(path)) return true;
  if (nbase::Split(path, kSeparators).empty()) return false;
  // Each prefix ends just after a piece, keeping the separators exactly as written, so a
  // drive root ("C:") or leading separators survive.
  size_t position = 0;
  while (position < path.size()) {
    const size_t piece_start = path.find_first_not_of(kSeparators, position);
    if (piece_start == std::wstring::npos) break;
    size_t piece_end = path.find_first_of(kSeparators, piece_start);
    if (piece_end == std::wstring::npos) piece_end = path.size();
    const std::wstring prefix = path.substr(0, piece_end);
    if (!IsDirectory(prefix) && !::CreateDirectoryW(prefix.c_str(), nullptr)) {
      // Someone else may have created it in between; anything else is a real failure.
      if (::GetLastError() != ERROR_ALREADY_EXISTS || !IsDirectory(prefix)) return false;
    }
    position = piece_end;
  }
  return true;
}

bool ShellCreateDirectory(const std::wstring& path) {
  using CreateDirectoryFn = int(WINAPI*)(HWND, LPCWSTR);
  auto create_directory = nbase::GetSystemFunction<CreateDirectoryFn>(
      L"shell32.dll", MAKEINTRESOURCEA(kShellCreateDirectoryOrdinal));
  if (!create_directory) return false;
  const int result = create_directory(nullptr, path.c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_EXISTS || result == ERROR_ALREADY_EXISTS;
}

bool DeleteFilePath(const std::wstring& path) {
  return ::DeleteFileW(path.c_str()) != FALSE;
}

bool ProcessesByName(const std::wstring& name, std::vector<DWORD>& process_ids) {
  process_ids.clear();
  nbase::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (name == entry.szExeFile) process_ids.push_back(entry.th32ProcessID);
  }
  return !process_ids.empty();
}

bool IsProcessRunning(const std::wstring& name) {
  std::vector<DWORD> process_ids;
  return ProcessesByName(name, process_ids);
}

void TerminateProcesses(const std::wstring& name) {
  std::vector<DWORD> process_ids;
  ProcessesByName(name, process_ids);
  for (DWORD id : process_ids) {
    nbase::UniqueHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, id));
    if (process) ::TerminateProcess(process.get(), 0);
  }
}

bool IsInternetConnected() {
  // Declared first so that it uninitialises only after both interfaces are released.
  nbase::ScopedCoInitialize com;
  if (FAILED(com.result())) return true;
  nbase::ComPtr<IUnknown> unknown;
  if (FAILED(::CoCreateInstance(nbase::kClsidNetworkListManager, nullptr, kClassContextAll,
                                nbase::kIidUnknown, unknown.put_void()))) {
    return true;
  }
  nbase::ComPtr<INetworkListManager> manager;
  if (FAILED(unknown->QueryInterface(nbase::kIidNetworkListManager, manager.put_void())) ||
      !manager) {
    return true;
  }
  VARIANT_BOOL connected = VARIANT_FALSE;
  if (FAILED(manager->IsConnectedToInternet(&connected))) return true;
  return connected != VARIANT_FALSE;
}

double FreeDiskSpaceMB(const std::wstring& path) {
  std::wstring normalised = path;
  nbase::ReplaceAll(normalised, L"\\", L"/");
  if (normalised.size() < 3 || normalised[1] != L':' || normalised[2] != L'/') return 0;
  DWORD sectors_per_cluster = 0;
  DWORD bytes_per_sector = 0;
  DWORD free_clusters = 0;
  DWORD total_clusters = 0;
  if (!::GetDiskFreeSpaceW(normalised.substr(0, 3).c_str(), &sectors_per_cluster, &bytes_per_sector,
                           &free_clusters, &total_clusters)) {
    return 0;
  }
  const DWORD bytes_per_cluster = sectors_per_cluster * bytes_per_sector;
  return static_cast<double>(bytes_per_cluster) * (1.0 / 1048576.0) *
         static_cast<double>(free_clusters);
}

namespace {

struct InstanceSearch {
  const wchar_t* window_class;
  std::wstring instance;
  DWORD own_process;
  HWND found;
};

BOOL CALLBACK VisitInstanceWindow(HWND window, LPARAM param) {
  auto* look = reinterpret_cast<InstanceSearch*>(param);
  wchar_t name[256] = {};
  if (!::GetClassNameW(window, name, 256) || wcscmp(name, look->window_class) != 0) return TRUE;
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(window, &process_id);
  if (process_id == look->own_process) return TRUE;
  nbase::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return TRUE;
  wchar_t path[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  if (!::QueryFullProcessImageNameW(process.get(), 0, path, &length)) return TRUE;
  // Another product's installer built from the same sources has the same class: only the
  // instance that holds our name counts.
  std::wstring instance = ExeBaseNameOf(FileNamePart(std::wstring(path, length)));
  if (!instance.empty()) ::CharLowerBuffW(&instance[0], static_cast<DWORD>(instance.size()));
  if (instance != look->instance) return TRUE;
  look->found = window;
  return FALSE;
}

}  // namespace

HWND FindInstanceWindow(const wchar_t* window_class, DWORD timeout_ms) {
  InstanceSearch search = {window_class, GetInstanceName(), ::GetCurrentProcessId(), nullptr};
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    ::EnumWindows(VisitInstanceWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found || ::GetTickCount64() >= deadline) return search.found;
    // The first instance holds its name from its first moment but makes its window a little
    // later.
    ::Sleep(100);
  }
}

void BringToFront(HWND window) {
  if (::IsIconic(window)) {
    ::ShowWindow(window, SW_RESTORE);
  } else if (!::IsWindowVisible(window)) {
    ::ShowWindow(window, SW_SHOW);
  }
  ::SetForegroundWindow(window);
}

}  // namespace sysutil
