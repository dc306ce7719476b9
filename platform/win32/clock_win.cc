#include "platform/clock.h"

#include "platform/win32/win_util.h"

namespace platform {

LocalTime localTime() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.dayOfWeek = st.wDayOfWeek;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

// GetTickCount wraps after 49.7 days itself, which is the behaviour callers
// are written for.
uint32_t tickCount() { return GetTickCount(); }

}  // namespace platform
