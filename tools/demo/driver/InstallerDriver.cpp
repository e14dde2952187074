// Drives a started installer through a whole run from outside.
#include "tools/demo/driver/InstallerDriver.h"

#include <shlobj.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/UniqueResource.h"
#include "installer/window/SetupForm.h"
#include "ui/core/GlobalManager.h"
#include "ui/layouts/TabBox.h"
#include "ui/render/GdiHandles.h"

namespace demo {
namespace {

POINT CenterOf(ui::Control* control) {
  if (!control) return {};
  const RECT& rect = control->GetPos();
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void PutBigEndian(std::string& out, unsigned long value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<unsigned long>(data.size()));
  std::string body(type, 4);
  body += data;
  out += body;
  PutBigEndian(
      out, crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
}

// An RGB PNG of `width` × `height` pixels given as 0x00RRGGBB, top row first.
std::string EncodePng(int width, int height, const std::vector<DWORD>& pixels) {
  std::string raw;
  raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < width; ++x) {
      const DWORD pixel = pixels[static_cast<size_t>(y) * width + x];
      raw.push_back(static_cast<char>((pixel >> 16) & 0xFF));
      raw.push_back(static_cast<char>((pixel >> 8) & 0xFF));
      raw.push_back(static_cast<char>(pixel & 0xFF));
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packed_size, '\0');
  if (compress(reinterpret_cast<Bytef*>(&packed[0]), &packed_size,
               reinterpret_cast<const Bytef*>(raw.data()),
               static_cast<uLong>(raw.size())) != Z_OK) {
    return std::string();
  }
  packed.resize(packed_size);
  std::string header;
  PutBigEndian(header, static_cast<unsigned long>(width));
  PutBigEndian(header, static_cast<unsigned long>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  std::string png("\x89PNG\r\n\x1A\n", 8);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", std::string());
  return png;
}

}  // namespace

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  nbase::UniqueStdioFile file(::_wfopen(path.c_str(), L"rb"));
  if (!file) return bytes;
  char buffer[65536];
  for (size_t got; (got = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0;) {
    bytes.append(buffer, got);
  }
  return bytes;
}

namespace {

struct WindowSearch {
  DWORD process_id;
  const wchar_t* class_name;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(hwnd, &owner);
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (owner == search->process_id && std::wcscmp(name, search->class_name) == 0) {
    search->found.push_back(hwnd);
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD process_id, const wchar_t* class_name) {
  WindowSearch search = {process_id, class_name, {}};
  ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindSetupWindow(DWORD process_id) {
  const std::vector<HWND> windows = TopLevelWindowsOf(process_id, kSetupWindowName);
  return windows.empty() ? nullptr : windows.front();
}

void ClickAt(HWND window, POINT point) {
  const LPARAM where = MAKELPARAM(point.x, point.y);
  ::PostMessageW(window, WM_MOUSEMOVE, 0, where);
  ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
  ::PostMessageW(window, WM_LBUTTONUP, 0, where);
}

ControlPoints MeasureControls(const std::wstring& resource_root) {
  ControlPoints points;
  ui::GlobalManager& resources = ui::GlobalManager::Instance();
  resources.Startup(resource_root, nullptr, true, L"themes\\default", L"lang\\English");
  {
    SetupForm model;
    if (model.Create(nullptr, L"layout model", WS_POPUP, 0, true, RECT())) {
      RECT client = {};
      ::GetClientRect(model.GetHWND(), &client);
      model.GetRoot()->SetPos(client);
      points.install = CenterOf(model.FindControl(L"btn_install"));
      auto* pages = dynamic_cast<ui::TabBox*>(model.FindControl(L"switch"));
      if (pages) pages->SelectItem(SetupForm::kEndPage);
      model.GetRoot()->SetPos(client);
      points.start = CenterOf(model.FindControl(L"btn_start"));
      points.valid = pages && points.install.x > 0 && points.start.x > 0;
    }
  }
  resources.Shutdown();
  return points;
}

std::wstring InstallerLogPath(const std::wstring& exe_base_name) {
  wchar_t folder[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
  return std::wstring(folder) + L"\\Temp\\" + exe_base_name + L"_log.txt";
}

std::wstring DefaultInstallFolder() {
  // The installer picks the system's own Program Files, also from a 32-bit process on a 64-bit
  // system, where the folder APIs show this process the other one.
  wchar_t folder[MAX_PATH] = {};
  DWORD size = sizeof(folder) - sizeof(wchar_t);
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS ||
      ::RegQueryValueExW(key, L"ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(folder),
                         &size) != ERROR_SUCCESS) {
    ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
  }
  if (key) ::RegCloseKey(key);
  return std::wstring(folder) + L"\\Nolt\\Nolt Clipmint\\";
}

bool SaveWindowPng(HWND window, const std::wstring& path) {
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = ::GetDC(nullptr);
  ui::UniqueMemoryDC memory(::CreateCompatibleDC(screen));
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  ui::UniqueBitmap bitmap(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bool saved = false;
  if (memory && bitmap && bits) {
    HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory.get(), old);
    const auto* first = static_cast<const DWORD*>(bits);
    const std::string png =
        EncodePng(width, height, std::vector<DWORD>(first, first + width * height));
    nbase::UniqueStdioFile file(::_wfopen(path.c_str(), L"wb"));
    saved =
        file && !png.empty() && std::fwrite(png.data(), 1, png.size(), file.get()) == png.size();
  }
  ::ReleaseDC(nullptr, screen);
  return saved;
}

DriveResult DriveInstallation(const std::wstring& exe, const ControlPoints& points,
                              const std::wstring& shot_folder, const std::wstring& prefix,
                              DWORD timeout_ms) {
  DriveResult result;
  std::wstring base = exe.substr(exe.find_last_of(L"\\/") + 1);
  base = base.substr(0, base.find(L'.'));
  const std::wstring log_path = InstallerLogPath(base);
  const std::wstring marker = DefaultInstallFolder() + L"cache\\language";
  auto shoot = [&](HWND window, const wchar_t* page) {
    if (!shot_folder.empty()) SaveWindowPng(window, shot_folder + L"\\" + prefix + page + L".png");
  };

  std::wstring command_line = L"\"" + exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(exe.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    result.failure = "the installer did not start";
    return result;
  }
  nbase::UniqueHandle process(info.hProcess);
  nbase::UniqueHandle thread(info.hThread);
  result.started = true;

  enum Step { kWaitHome, kWaitEnd, kWaitExit } step = kWaitHome;
  DWORD shown_at = 0;
  bool download_shot = false;
  const DWORD started = ::GetTickCount();
  // Another process's window and log have no event to wait on: look every 100 ms.
  while (::WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
    if (::GetTickCount() - started > timeout_ms) {
      result.timed_out = true;
      result.failure = step == kWaitHome  ? "the home page never showed"
                       : step == kWaitEnd ? "the end page never showed"
                                          : "the installer did not end after Start Now";
      ::TerminateProcess(process.get(), 99);
      ::WaitForSingleObject(process.get(), 5000);
      break;
    }
    HWND window = FindSetupWindow(info.dwProcessId);
    if (!window || !::IsWindowVisible(window)) continue;
    if (step == kWaitHome) {
      if (shown_at == 0) shown_at = ::GetTickCount();
      if (::GetTickCount() - shown_at < 1500) continue;  // the first layout and paint
      shoot(window, L"home");
      ClickAt(window, points.install);
      step = kWaitEnd;
    } else if (step == kWaitEnd) {
      const std::string log = ReadFileBytes(log_path);
      // While the package runs, the download page shows the finished download.
      if (!download_shot && log.find("download success") != std::string::npos) {
        download_shot = true;
        ::Sleep(300);
        shoot(window, L"download");
      }
      if (log.find("finish silent install") == std::string::npos) continue;
      if (::GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      ::Sleep(500);  // the posted switch to the end page
      shoot(window, L"end");
      ClickAt(window, points.start);
      step = kWaitExit;
    }
  }
  ::GetExitCodeProcess(process.get(), &result.exit_code);
  if (!result.timed_out && step != kWaitExit) result.failure = "the installer ended early";
  return result;
}

}  // namespace demo
