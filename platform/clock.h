#ifndef WEBSETUP_PLATFORM_CLOCK_H_
#define WEBSETUP_PLATFORM_CLOCK_H_

#include <cstdint>

namespace platform {

// Broken-down local time, as the Windows SYSTEMTIME carries it.
struct LocalTime {
  int year = 0;
  int month = 0;        // 1..12
  int dayOfWeek = 0;    // 0 = Sunday
  int day = 0;          // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;  // 0..999
};

// The current local time, to the millisecond. Thread-safe.
LocalTime localTime();

// Milliseconds since an arbitrary start, as a 32-bit count that wraps after
// about 49.7 days: compare two readings by unsigned difference only.
// Thread-safe.
uint32_t tickCount();

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_CLOCK_H_
