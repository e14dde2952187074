// The UI framework's timers: one heap of deadlines polled from a hidden window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/WeakCallback.h"

namespace nbase {

// Animation steps and control timers need a finer and steadier beat than window timers give,
// so deadlines are kept in performance-counter ticks and a multimedia timer (whose callback
// runs on a system thread and only posts a message) drives the polling on the owning thread.
// While any deadline is within a second it polls every 16 ms; otherwise it sleeps until just
// after the next deadline.
class TimerQueue {
 public:
  // The process-wide queue, created on first use by the thread that will drive it (the UI
  // thread). That thread must pump window messages.
  static TimerQueue* GetInstance();

  // Calls `callback` every `interval_ms` while `flag` lives: `repeat_count` -1 without end,
  // n ≥ 1 n times in all, 0 once. Timers whose flag has died are dropped at their due time
  // without a call. False when called from a thread other than the owning one.
  bool AddCancelableTimer(const std::weak_ptr<WeakFlag>& flag, std::function<void()> callback,
                          uint32_t interval_ms, int repeat_count);

  // Timers not yet run out or dropped.
  size_t pending_count() const { return heap_.size(); }

 private:
  struct Entry {
    std::function<void()> callback;
    int64_t interval_ticks = 0;
    int remaining_repeats = 0;
    int64_t due_ticks = 0;
    std::weak_ptr<WeakFlag> flag;
  };
  static bool DueLater(const Entry& a, const Entry& b) { return a.due_ticks > b.due_ticks; }

  TimerQueue();
  ~TimerQueue() = delete;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept;
  static void CALLBACK MultimediaTimerProc(UINT timer_id, UINT message, DWORD_PTR user,
                                           DWORD_PTR reserved1, DWORD_PTR reserved2);
  void Poll();
  void Push(Entry entry);
  void StartMultimediaTimer(UINT period_ms, bool fast_mode);
  void KillMultimediaTimer();
  static int64_t NowTicks();

  DWORD owner_thread_id_ = 0;
  int64_t frequency_ = 1;
  HWND window_ = nullptr;
  std::vector<Entry> heap_;
  UINT multimedia_timer_ = 0;
  bool fast_mode_ = false;
};

}  // namespace nbase
