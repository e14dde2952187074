// Deadline heap, multimedia-timer driven polling and the hidden window that receives it.
#include "base/TimerQueue.h"

#include <mmsystem.h>

#include <algorithm>
#include <utility>

#include "base/ExceptionPolicy.h"
#include "base/MessageWindow.h"
#include "base/SystemLibrary.h"

namespace nbase {
namespace {

const wchar_t kWindowClassName[] = L"UI_ANIMATION_TIMERMANAGER_H_";
const UINT kMsgPoll = 0x2B0F;
const UINT kFastPeriodMs = 16;
const int64_t kSleepThresholdMs = 1000;
// The multimedia timer's longest period.
const int64_t kMaxPeriodMs = 1000000;

using TimeSetEventFn = MMRESULT(WINAPI*)(UINT, UINT, LPTIMECALLBACK, DWORD_PTR, UINT);
using TimeKillEventFn = MMRESULT(WINAPI*)(UINT);

// winmm is not a KnownDLL, so it is bound at run time.
TimeSetEventFn TimeSetEvent() {
  static const TimeSetEventFn function =
      GetSystemFunction<TimeSetEventFn>(L"winmm.dll", "timeSetEvent");
  return function;
}

TimeKillEventFn TimeKillEvent() {
  static const TimeKillEventFn function =
      GetSystemFunction<TimeKillEventFn>(L"winmm.dll", "timeKillEvent");
  return function;
}

}  // namespace

TimerQueue* TimerQueue::GetInstance() {
  // Never destroyed: the multimedia timer may still fire during process exit, and the window
  // belongs to a thread that may already be gone by then.
  static TimerQueue* const instance = new TimerQueue();
  return instance;
}

TimerQueue::TimerQueue() : owner_thread_id_(::GetCurrentThreadId()) {
  LARGE_INTEGER frequency;
  if (::QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
    frequency_ = frequency.QuadPart;
  }
  window_ = CreateMessageWindow(kWindowClassName, &TimerQueue::WindowProc, this);
}

int64_t TimerQueue::NowTicks() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

bool TimerQueue::AddCancelableTimer(const std::weak_ptr<WeakFlag>& flag,
                                    std::function<void()> callback, uint32_t interval_ms,
                                    int repeat_count) {
  // The heap is only ever touched from the window's thread.
  if (::GetCurrentThreadId() != owner_thread_id_ || !window_) return false;
  Entry entry;
  entry.callback = std::move(callback);
  // At least one tick, so a repeating timer cannot come due again within the same poll.
  entry.interval_ticks = std::max<int64_t>(frequency_ * interval_ms / 1000, 1);
  entry.remaining_repeats = repeat_count;
  entry.due_ticks = NowTicks() + entry.interval_ticks;
  entry.flag = flag;
  Push(std::move(entry));
  if (!multimedia_timer_ || !fast_mode_) StartMultimediaTimer(kFastPeriodMs, true);
  return true;
}

void TimerQueue::Push(Entry entry) {
  heap_.push_back(std::move(entry));
  std::push_heap(heap_.begin(), heap_.end(), DueLater);
}

void TimerQueue::StartMultimediaTimer(UINT period_ms, bool fast_mode) {
  KillMultimediaTimer();
  if (TimeSetEventFn time_set_event = TimeSetEvent()) {
    multimedia_timer_ = time_set_event(period_ms, 1, &TimerQueue::MultimediaTimerProc,
                                       reinterpret_cast<DWORD_PTR>(window_),
                                       TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
  }
  fast_mode_ = multimedia_timer_ != 0 && fast_mode;
}

void TimerQueue::KillMultimediaTimer() {
  if (multimedia_timer_) {
    if (TimeKillEventFn time_kill_event = TimeKillEvent()) time_kill_event(multimedia_timer_);
    multimedia_timer_ = 0;
  }
  fast_mode_ = false;
}

void CALLBACK TimerQueue::MultimediaTimerProc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  // Runs on a system thread: it must not touch the queue, only wake its owner.
  ::PostMessageW(reinterpret_cast<HWND>(user), kMsgPoll, 0, 0);
}

LRESULT CALLBACK TimerQueue::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                        LPARAM lparam) noexcept {
  if (message == kMsgPoll) {
    if (auto* queue = reinterpret_cast<TimerQueue*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
      RunGuarded("timer queue", [queue] { queue->Poll(); });
    }
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void TimerQueue::Poll() {
  const int64_t now = NowTicks();
  while (!heap_.empty()) {
    const Entry& top = heap_.front();
    if (top.due_ticks > now) {
      const int64_t remaining_ms = (top.due_ticks - now) * 1000 / frequency_;
      if (remaining_ms >= kSleepThresholdMs) {
        // Two milliseconds late rather than early, so the wake-up finds the timer due.
        StartMultimediaTimer(static_cast<UINT>(std::min(remaining_ms + 2, kMaxPeriodMs)), false);
      } else if (!fast_mode_) {
        StartMultimediaTimer(kFastPeriodMs, true);
      }
      return;
    }
    std::pop_heap(heap_.begin(), heap_.end(), DueLater);
    Entry entry = std::move(heap_.back());
    heap_.pop_back();
    if (entry.flag.expired()) continue;  // Its owner is gone: dropped, never re-armed.
    // The callback may add timers or even pump messages (and so re-enter this poll); the
    // entry is off the heap while it runs.
    if (entry.callback) RunGuarded("timer callback", entry.callback);
    if (entry.flag.expired()) continue;
    if (entry.remaining_repeats < 0 || --entry.remaining_repeats > 0) {
      entry.due_ticks = now + entry.interval_ticks;
      Push(std::move(entry));
    }
  }
  KillMultimediaTimer();
}

}  // namespace nbase
