// rangeget: runs the downloader on one URL from the console, for benchmarks, debugging and
// checking a server by hand. Usage: rangeget <url> <folder> [sha256]. The file is left under
// the downloader's temporary name; at the end each connection's bytes, pieces, retries and
// takeovers are printed, with the process's memory before and at its peak, the most threads it ran
// and what a thread that only waits costs this system's working set. rangeget --sha256 <file> times
// the digest alone, the part of a download no connection speeds up.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/StringUtil.h"
#include "base/Thread.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/FileHash.h"
#include "installer/HttpClient/HttpDownloader.h"
#include "installer/main/Log.h"
#include "installer/HttpClient/Sha256.h"

namespace {

struct Outcome {
  bool finished = false;
  LPARAM result = 0;
  int most_threads = 0;
};

// Threads of this process now; 0 when the system cannot say.
int ThreadCount() {
  nbase::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
       more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  return count;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* outcome = reinterpret_cast<Outcome*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_DOWNLOAD_PROGRESS) {
    if (outcome) outcome->most_threads = std::max(outcome->most_threads, ThreadCount());
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

double Seconds() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds since the process was created, so a run shows how much of it Wine's start-up took.
double SinceProcessStart() {
  FILETIME created, exited, kernel, user, now;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER from, to;
  from.LowPart = created.dwLowDateTime;
  from.HighPart = created.dwHighDateTime;
  to.LowPart = now.dwLowDateTime;
  to.HighPart = now.dwHighDateTime;
  return static_cast<double>(to.QuadPart - from.QuadPart) / 1e7;
}

// Working set now and at its peak, in bytes.
void Memory(double& now, double& peak) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  now = peak = 0;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return;
  now = static_cast<double>(counters.WorkingSetSize);
  peak = static_cast<double>(counters.PeakWorkingSetSize);
}

// A thread that starts and then only waits: what each of the downloader's threads costs the
// working set before it does any work. A Windows thread commits a few pages of stack; other
// systems may charge much more, which the peak figure then contains once per thread.
class WaitingThread : public nbase::Thread {
 public:
  WaitingThread(HANDLE started, HANDLE stop) : started_(started), stop_(stop) {}
  ~WaitingThread() override { Close(); }

 private:
  void ThreadMain() override {
    ::ReleaseSemaphore(started_, 1, nullptr);
    ::WaitForSingleObject(stop_, 10000);
  }
  HANDLE started_;
  HANDLE stop_;
};

double WaitingThreadCost() {
  constexpr int kThreads = 4;
  nbase::UniqueHandle started(::CreateSemaphoreW(nullptr, 0, kThreads, nullptr));
  nbase::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!started || !stop) return 0;
  double before = 0, peak = 0;
  Memory(before, peak);
  std::vector<std::unique_ptr<WaitingThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(std::make_unique<WaitingThread>(started.get(), stop.get()));
    if (!threads.back()->Create()) return 0;
  }
  for (int i = 0; i < kThreads; ++i) {
    if (::WaitForSingleObject(started.get(), 10000) != WAIT_OBJECT_0) return 0;
  }
  double after = 0;
  Memory(after, peak);
  ::SetEvent(stop.get());
  threads.clear();
  return (after - before) / kThreads;
}

int TimeDigest(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
    std::fprintf(stderr, "cannot read %ls\n", path);
    return 1;
  }
  const double bytes = static_cast<double>(data.nFileSizeHigh) * 4294967296.0 + data.nFileSizeLow;
  const double start = Seconds();
  const std::string digest = FileSha256Hex(path);
  const double seconds = Seconds() - start;
  if (digest.empty()) {
    std::fprintf(stderr, "cannot hash %ls\n", path);
    return 1;
  }
  std::printf("sha256 %s\n", digest.c_str());
  std::printf("hash %.3f s %.1f MB/s\n", seconds, seconds > 0 ? bytes / seconds / 1e6 : 0.0);
  // The downloader's own digest over the same bytes, read the way it reads them.
  nbase::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  std::vector<char> block(256 << 10);
  CSha256Digest own;
  const double own_start = Seconds();
  DWORD got = 0;
  while (file &&
         ::ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) &&
         got > 0) {
    own.Update(block.data(), got);
  }
  const double own_seconds = Seconds() - own_start;
  const std::string own_digest = own.HexDigest();
  std::printf("own hash %.3f s %.1f MB/s%s%s\n", own_seconds,
              own_seconds > 0 ? bytes / own_seconds / 1e6 : 0.0,
              CSha256Digest::UsesShaInstructions() ? " (SHA instructions)" : " (portable)",
              own_digest == digest ? "" : " MISMATCH");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const double entered = SinceProcessStart();
  if (argc == 3 && std::wstring(argv[1]) == L"--sha256") return TimeDigest(argv[2]);
  if (argc < 3) {
    std::fprintf(stderr, "usage: rangeget <url> <folder> [sha256] | rangeget --sha256 <file>\n");
    return 2;
  }
  std::wstring folder = argv[2];
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  const std::string sha256 = argc > 3 ? nbase::UTF16ToUTF8(argv[3]) : std::string();
  // RANGEGET_LOG names a file for the downloader's own account of the run.
  wchar_t log_path[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"RANGEGET_LOG", log_path, MAX_PATH) > 0) {
    LogSink::Instance().SetFilePath(log_path);
    LogSink::Instance().SetThreshold(LV_APP);
  }

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
  const double window_made = SinceProcessStart();
  Outcome outcome;
  ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&outcome));

  // The setup window has the system's HTTP and crypto libraries loaded before any download
  // (its analytics use the one, its package check the other); so does the idle figure here.
  ::LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  { CSha256 warm; }
  double idle = 0, idle_peak = 0;
  Memory(idle, idle_peak);
  const int idle_threads = ThreadCount();
  // After the idle figure: a system may keep some of an ended thread's memory for the next.
  const double thread_cost = WaitingThreadCost();
  int exit_code = 1;
  {
    CHttpDownloader downloader(hwnd, argv[1], folder, sha256);
    downloader.Start();
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    const double finished = SinceProcessStart();
    // Seconds after the process was created: where Wine's own start-up ends and the work begins.
    std::printf("timeline entry %.3f window %.3f finished %.3f\n", entered, window_made, finished);
    std::printf("size %.0f bytes\n", downloader.KnownFileSize());
    std::printf("download %.3f s\n", downloader.ElapsedSeconds());
    std::printf("tail %.3f s\n", downloader.TailSeconds());
    const auto connections = downloader.Connections();
    for (size_t i = 0; i < connections.size(); ++i) {
      std::printf("connection %u bytes %lld pieces %d retries %d takeovers %d\n",
                  static_cast<unsigned>(i), connections[i].bytes, connections[i].pieces,
                  connections[i].retries, connections[i].takeovers);
    }
    double now = 0, peak = 0;
    Memory(now, peak);
    std::printf("memory idle %.1f MB peak %.1f MB (+%.1f MB)\n", idle / 1e6, peak / 1e6,
                (peak - idle) / 1e6);
    const int added = std::max(0, outcome.most_threads - idle_threads);
    std::printf("threads idle %d most %d, a waiting thread costs %.2f MB: +%.1f MB besides them\n",
                idle_threads, outcome.most_threads, thread_cost / 1e6,
                (peak - idle - added * thread_cost) / 1e6);
    std::printf("received %lld bytes\n", downloader.ReceivedBytes());
    if (outcome.result != 1) std::printf("reason %d\n", downloader.FailureReason());
    std::printf("%s %ls\n", outcome.result == 1 ? "finished" : "failed",
                downloader.DownloadPath().c_str());
    std::fflush(stdout);
    exit_code = outcome.finished && outcome.result == 1 ? 0 : 1;
  }
  ::DestroyWindow(hwnd);
  return exit_code;
}
