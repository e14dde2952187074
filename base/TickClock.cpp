// Widening of timeGetTime readings and the process-wide clock instance.
#include "base/TickClock.h"

#include <windows.h>

#include "base/Lock.h"
#include "base/SystemLibrary.h"

namespace nbase {
namespace {

using TimeGetTimeFn = DWORD(WINAPI*)();

DWORD ReadMilliseconds() {
  // winmm is not a KnownDLL, so it is bound at run time; GetTickCount counts the same
  // milliseconds if the library cannot be loaded.
  static const TimeGetTimeFn time_get_time =
      GetSystemFunction<TimeGetTimeFn>(L"winmm.dll", "timeGetTime");
  return time_get_time ? time_get_time() : ::GetTickCount();
}

struct SharedClock {
  Lock lock;
  TickClock clock;
};

SharedClock& Shared() {
  static SharedClock shared;
  return shared;
}

}  // namespace

int64_t TickClock::FromMilliseconds(uint32_t milliseconds) {
  if (milliseconds < last_reading_) ++rollovers_;
  last_reading_ = milliseconds;
  return (static_cast<int64_t>(milliseconds) + (rollovers_ << 32)) * 1000;
}

int64_t TickClock::NowMicroseconds() {
  SharedClock& shared = Shared();
  // The reading is taken under the lock too: two threads could otherwise hand in their
  // readings out of order and fake a rollover.
  AutoLock hold(shared.lock);
  return shared.clock.FromMilliseconds(ReadMilliseconds());
}

int64_t TickClock::WallClockMicroseconds() {
  FILETIME file_time;
  ::GetSystemTimeAsFileTime(&file_time);
  ULARGE_INTEGER value;
  value.LowPart = file_time.dwLowDateTime;
  value.HighPart = file_time.dwHighDateTime;
  return static_cast<int64_t>(value.QuadPart / 10);
}

}  // namespace nbase
