// Monotonic microsecond clock for task run times, plus wall-clock microseconds for logs.
#pragma once

#include <cstdint>

namespace nbase {

// timeGetTime is the clock the message loops schedule against: it is cheap, monotonic and,
// unlike GetTickCount, follows the multimedia timer resolution. It wraps every 49.7 days, so
// each clock keeps a rollover count and widens readings to 64 bits.
class TickClock {
 public:
  TickClock() = default;

  // Widens one 32-bit millisecond reading to microseconds. A reading smaller than the previous
  // one counts as a rollover, so readings must be handed in in the order they were taken.
  int64_t FromMilliseconds(uint32_t milliseconds);

  // Process-wide monotonic microseconds; thread-safe.
  static int64_t NowMicroseconds();

  // Microseconds since 1601-01-01 UTC (file time / 10); not monotonic, for display only.
  static int64_t WallClockMicroseconds();

 private:
  uint32_t last_reading_ = 0;
  int64_t rollovers_ = 0;
};

}  // namespace nbase
