#include <time.h>

#include "platform/clock.h"

namespace platform {

LocalTime localTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts{};
  localtime_r(&ts.tv_sec, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.dayOfWeek = parts.tm_wday;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

uint32_t tickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Truncation to 32 bits is the point: callers handle the wrap.
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec / 1000000);
  return static_cast<uint32_t>(ms);
}

}  // namespace platform
