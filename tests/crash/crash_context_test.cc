#include "crash/crash_context.h"

#include <gtest/gtest.h>

namespace crash {
namespace {

// A text longer than its buffer is cut, never overrun, and always ends.
TEST(CrashContextTest, TextsAreCutToTheirBuffer) {
  SignalSafeText<8> text;
  char out[8];
  EXPECT_EQ(text.copy(out), 0u);
  EXPECT_STREQ(out, "");
  text.set("/var/log/websetup.log");
  EXPECT_EQ(text.copy(out), 7u);
  EXPECT_STREQ(out, "/var/lo");

  // Setting a shorter text leaves no tail of the longer one.
  text.set("abc");
  EXPECT_EQ(text.copy(out), 3u);
  EXPECT_STREQ(out, "abc");
}

}  // namespace
}  // namespace crash
