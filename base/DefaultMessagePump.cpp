// The event-driven run loop of worker threads.
#include "base/DefaultMessagePump.h"

#include "base/TickClock.h"

namespace nbase {

DefaultMessagePump::DefaultMessagePump() : event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void DefaultMessagePump::Run(Delegate* delegate) {
  for (;;) {
    bool did_work = delegate->DoWork();
    if (should_quit_) break;
    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (should_quit_) break;
    if (did_work) continue;
    did_work = delegate->DoIdleWork();
    if (should_quit_) break;
    if (did_work) continue;
    Wait();
  }
  // A nested run's quit must not end the run it returns to.
  should_quit_ = false;
}

void DefaultMessagePump::Wait() {
  if (delayed_work_time_ == 0) {
    ::WaitForSingleObject(event_.get(), INFINITE);
    return;
  }
  const int64_t remaining = delayed_work_time_ - TickClock::NowMicroseconds();
  if (remaining > 0) {
    // Rounded up: waking a little early would only spin once more through the delegate.
    int64_t milliseconds = (remaining + 999) / 1000;
    if (milliseconds >= INFINITE) milliseconds = INFINITE - 1;
    ::WaitForSingleObject(event_.get(), static_cast<DWORD>(milliseconds));
  } else {
    delayed_work_time_ = 0;
  }
}

void DefaultMessagePump::ScheduleWork() {
  // Any thread may call this; the event is the only state it touches.
  ::SetEvent(event_.get());
}

}  // namespace nbase
