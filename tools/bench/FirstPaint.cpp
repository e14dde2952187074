// first_paint RUNS PROGRAM...: how long each PROGRAM takes from its start until its first
// top-level window is visible and its thread has finished painting it (it answers a sent message
// again). Prints each run and the medians in milliseconds; a program is ended after each run, and
// the next starts only once the display and Wine's server have had time to tear it down.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kSettleMs = 500;

struct Search {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && ::IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

double Now() {
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Milliseconds to the first paint, or a negative number when the window never showed.
double MeasureOnce(const std::wstring& program) {
  std::wstring command = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  const double start = Now();
  if (!::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return -1;
  }
  double elapsed = -2;
  Search search = {info.dwProcessId, nullptr};
  while (Now() - start < 60000 && ::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
    ::EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      // Visible is not yet painted: the first paint is done once the thread takes messages.
      DWORD_PTR result = 0;
      ::SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
      elapsed = Now() - start;
      break;
    }
    ::Sleep(1);  // polling another process's windows: there is no event to wait on
  }
  ::TerminateProcess(info.hProcess, 0);
  ::WaitForSingleObject(info.hProcess, 10000);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  // The ended program's windows and connections are still being torn down by the display and
  // Wine's server for a while after it is gone; a start in that time measures the teardown too.
  ::Sleep(kSettleMs);
  return elapsed;
}

}  // namespace

// The programs take turns, one start each per round, so whatever else the machine does drifts
// over all of them alike instead of over whichever happened to run then.
int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: first_paint RUNS PROGRAM...\n");
    return 2;
  }
  const int runs = std::max(1, _wtoi(argv[1]));
  const int programs = argc - 2;
  std::vector<std::vector<double>> times(programs);
  for (int round = 0; round < runs; ++round) {
    for (int p = 0; p < programs; ++p) {
      const double ms = MeasureOnce(argv[2 + p]);
      if (ms < 0) {
        std::fprintf(stderr, "%ls, run %d: no window\n", argv[2 + p], round + 1);
        return 1;
      }
      times[p].push_back(ms);
    }
  }
  for (int p = 0; p < programs; ++p) {
    std::printf("%ls:", argv[2 + p]);
    for (double ms : times[p]) std::printf(" %.0f", ms);
    std::sort(times[p].begin(), times[p].end());
    std::printf("\nmedian: %.0f ms\n", times[p][times[p].size() / 2]);
  }
  return 0;
}
