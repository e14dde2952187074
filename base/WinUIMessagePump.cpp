// Window-message pump: have-work messages, delayed-work timers and the run loop.
#include "base/WinUIMessagePump.h"

#include <algorithm>

#include "base/ExceptionPolicy.h"
#include "base/Lock.h"
#include "base/MessageWindow.h"
#include "base/TickClock.h"

namespace nbase {
namespace {

const wchar_t kWindowClassName[] = L"BorvikaMessagePumpWindow";
const UINT kMsgHaveWork = WM_USER + 1;
// Identifies our own message filter calls to WH_MSGFILTER hooks.
const int kMessageFilterCode = 0x5001;
const UINT kMinimumTimerInterval = 10;

// Several UI loops (one per UI thread) share the class; the last one out unregisters it.
struct ClassRegistration {
  Lock lock;
  int users = 0;
};

ClassRegistration& Registration() {
  static ClassRegistration registration;
  return registration;
}

}  // namespace

WinUIMessagePump::WinUIMessagePump() {
  ClassRegistration& registration = Registration();
  AutoLock hold(registration.lock);
  ++registration.users;
  // Inside the lock: the last user must not unregister between registration and creation.
  message_window_ = CreateMessageWindow(kWindowClassName, &WinUIMessagePump::WindowProc, this);
}

WinUIMessagePump::~WinUIMessagePump() {
  ClassRegistration& registration = Registration();
  AutoLock hold(registration.lock);
  if (message_window_) {
    ::KillTimer(message_window_, reinterpret_cast<UINT_PTR>(this));
    ::DestroyWindow(message_window_);
  }
  if (--registration.users == 0) {
    ::UnregisterClassW(kWindowClassName, ::GetModuleHandleW(nullptr));
  }
}

void WinUIMessagePump::RunWithDispatcher(Delegate* delegate, Dispatcher* dispatcher) {
  RunState state;
  state.delegate = delegate;
  state.dispatcher = dispatcher;
  state.run_depth = state_ ? state_->run_depth + 1 : 1;
  RunState* previous = state_;
  state_ = &state;
  DoRunLoop();
  state_ = previous;
}

void WinUIMessagePump::Quit() {
  if (state_) state_->should_quit = true;
}

void WinUIMessagePump::ScheduleWork() {
  if (have_work_.exchange(1) != 0) return;  // A have-work message is already queued.
  if (!::PostMessageW(message_window_, kMsgHaveWork, reinterpret_cast<WPARAM>(this), 0)) {
    // A full queue (or a dead window) would otherwise block every later wake-up.
    have_work_.store(0);
  }
}

void WinUIMessagePump::ScheduleDelayedWork(int64_t run_time) {
  delayed_work_time_ = run_time;
  const DWORD delay = MillisecondsUntilDelayedWork();
  // Timers fire no faster than 10 ms anyway; asking for less only costs a spurious check.
  const UINT interval =
      delay >= 0xFFFFFFFFu ? 0xFFFFFFFEu : std::max<UINT>(delay, kMinimumTimerInterval);
  ::SetTimer(message_window_, reinterpret_cast<UINT_PTR>(this), interval, nullptr);
}

void WinUIMessagePump::AddObserver(UIObserver* observer) {
  observers_.push_back(observer);
}

void WinUIMessagePump::RemoveObserver(UIObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

LRESULT CALLBACK WinUIMessagePump::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                              LPARAM lparam) noexcept {
  auto* pump = reinterpret_cast<WinUIMessagePump*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (pump && reinterpret_cast<WPARAM>(pump) == wparam) {
    RunGuarded("message pump", [pump, message] {
      if (message == kMsgHaveWork) {
        pump->HandleWorkMessage();
      } else if (message == WM_TIMER) {
        pump->HandleTimerMessage();
      }
    });
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void WinUIMessagePump::HandleWorkMessage() {
  // Outside Run (before it, after it, or in a modal loop entered from neither) tasks wait for
  // the next Run, which looks at the queue first thing.
  if (!state_) {
    have_work_.store(0);
    return;
  }
  // This message may have come through someone else's loop (a modal one), which then runs
  // only one task per have-work message; let a window message through as well so neither
  // side starves.
  ProcessPumpReplacementMessage();
  if (state_->delegate->DoWork()) ScheduleWork();
}

void WinUIMessagePump::HandleTimerMessage() {
  ::KillTimer(message_window_, reinterpret_cast<UINT_PTR>(this));
  if (!state_) return;
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  if (delayed_work_time_ != 0) ScheduleDelayedWork(delayed_work_time_);
}

void WinUIMessagePump::DoRunLoop() {
  for (;;) {
    bool more_work = ProcessNextWindowsMessage();
    if (state_->should_quit) break;
    more_work |= state_->delegate->DoWork();
    if (state_->should_quit) break;
    more_work |= state_->delegate->DoDelayedWork(&delayed_work_time_);
    // The run loop itself will get to delayed work; a timer would only wake it needlessly.
    if (more_work && delayed_work_time_ == 0) {
      ::KillTimer(message_window_, reinterpret_cast<UINT_PTR>(this));
    }
    if (state_->should_quit) break;
    if (more_work) continue;
    more_work = state_->delegate->DoIdleWork();
    if (state_->should_quit) break;
    if (more_work) continue;
    WaitForWork();
  }
}

void WinUIMessagePump::WaitForWork() {
  const DWORD result = ::MsgWaitForMultipleObjectsEx(0, nullptr, MillisecondsUntilDelayedWork(),
                                                     QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (result != WAIT_OBJECT_0) return;
  // The queue can report mouse input that a child window's thread already owns; it would
  // wake this wait at once forever, so wait for a message this thread can actually take.
  const DWORD queue_status = ::GetQueueStatus(QS_MOUSE);
  MSG msg;
  if ((HIWORD(queue_status) & QS_MOUSE) &&
      !::PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE)) {
    ::WaitMessage();
  }
}

DWORD WinUIMessagePump::MillisecondsUntilDelayedWork() const {
  if (delayed_work_time_ == 0) return INFINITE;
  const int64_t remaining = delayed_work_time_ - TickClock::NowMicroseconds();
  if (remaining <= 0) return 0;
  const int64_t milliseconds = (remaining + 999) / 1000;
  return milliseconds >= 0xFFFFFFFF ? 0xFFFFFFFFu - 1 : static_cast<DWORD>(milliseconds);
}

bool WinUIMessagePump::ProcessNextWindowsMessage() {
  // PeekMessage delivers sent messages itself and then reports nothing; count them as work.
  const bool sent_message_waiting =
      (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
  MSG msg;
  if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return ProcessMessageHelper(msg);
  return sent_message_waiting;
}

bool WinUIMessagePump::ProcessMessageHelper(const MSG& msg) {
  if (msg.message == WM_QUIT) {
    // Every enclosing run must see the quit as well, so it goes back into the queue.
    state_->should_quit = true;
    ::PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  if (msg.message == kMsgHaveWork && msg.hwnd == message_window_) {
    return ProcessPumpReplacementMessage();
  }
  MSG message = msg;
  if (::CallMsgFilterW(&message, kMessageFilterCode)) return true;

  if (!observers_.empty()) {
    // A copy: an observer may remove itself.
    const std::vector<UIObserver*> observers = observers_;
    for (UIObserver* observer : observers) observer->WillProcessMessage(message);
  }
  if (state_->dispatcher) {
    if (!state_->dispatcher->Dispatch(message)) state_->should_quit = true;
  } else {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (!observers_.empty()) {
    const std::vector<UIObserver*> observers = observers_;
    for (UIObserver* observer : observers) observer->DidProcessMessage(message);
  }
  return true;
}

bool WinUIMessagePump::ProcessPumpReplacementMessage() {
  MSG msg;
  bool have_message;
  if (state_->delegate->IsInOsModalLoop()) {
    // The modal loop owns input; overtaking it with anything but painting and timers would
    // reorder its messages.
    have_message = ::PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE) ||
                   ::PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
  } else {
    have_message = ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
  }
  have_work_.store(0);
  if (!have_message) return false;
  // The have-work message that brought us here is consumed; ask for another so the pending
  // work is not forgotten while the taken message is processed.
  ScheduleWork();
  return ProcessMessageHelper(msg);
}

}  // namespace nbase
