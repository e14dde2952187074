// rangeget: runs the range downloader on one URL from the console, for benchmarks, debugging
// and checking a server by hand. Usage: rangeget <url> <folder> [sha256]
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/StringUtil.h"
#include "installer/HttpClient/HttpDownloader.h"

namespace {

struct Outcome {
  bool finished = false;
  LPARAM result = 0;
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* outcome = reinterpret_cast<Outcome*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_DOWNLOAD_PROGRESS) {
    std::printf("progress %d\n", reinterpret_cast<DownloadProgress*>(lparam)->percent);
    std::fflush(stdout);
    return 0;
  }
  if (message == WM_DOWNLOAD_FINISHED && outcome) {
    outcome->finished = true;
    outcome->result = lparam;
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rangeget <url> <folder> [sha256]\n");
    return 2;
  }
  std::wstring folder = argv[2];
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  const std::string sha256 = argc > 3 ? nbase::UTF16ToUTF8(argv[3]) : std::string();

  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &WindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"RangeGetWindow";
  ::RegisterClassW(&window_class);
  HWND hwnd = ::CreateWindowW(L"RangeGetWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              window_class.hInstance, nullptr);
  if (!hwnd) {
    std::fprintf(stderr, "cannot create the message window\n");
    return 1;
  }
  Outcome outcome;
  ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&outcome));

  int exit_code = 1;
  {
    CHttpDownloader downloader(hwnd, argv[1], folder, sha256);
    downloader.Start();
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    std::printf("size %.0f bytes\n", downloader.KnownFileSize());
    std::printf("download %.3f s\n", downloader.ElapsedSeconds());
    std::printf("join+hash %.3f s\n", downloader.JoinSeconds());
    std::printf("%s %ls\n", outcome.result == 1 ? "finished" : "failed",
                downloader.TargetPath().c_str());
    std::fflush(stdout);
    exit_code = outcome.finished && outcome.result == 1 ? 0 : 1;
  }
  ::DestroyWindow(hwnd);
  return exit_code;
}
