// The window's members that only its thread may call: the checker they
// use, and the abort a debug build gives a call from another thread.

#include <gtest/gtest.h>

#include <thread>

#include "common/thread_checker.h"
#include "support/recording_event_sink.h"
#include "window/install_ui_main_wnd.h"

namespace window_test {
namespace {

bool onOtherThread(const common::ThreadChecker& checker) {
  bool valid = true;
  std::thread([&] { valid = checker.CalledOnValidThread(); }).join();
  return valid;
}

// The first caller owns the checker; a detached checker goes to the next.
TEST(ThreadCheckerTest, TheFirstCallerOwnsIt) {
  common::ThreadChecker checker;
  EXPECT_TRUE(checker.CalledOnValidThread());
  EXPECT_TRUE(checker.CalledOnValidThread());
  EXPECT_FALSE(onOtherThread(checker));
  EXPECT_TRUE(checker.CalledOnValidThread());

  checker.DetachFromThread();
  bool owner = false;
  std::thread([&] { owner = checker.CalledOnValidThread(); }).join();
  EXPECT_TRUE(owner);
  EXPECT_FALSE(checker.CalledOnValidThread());
}

TEST(ThreadCheckerTest, TheAbortNamesTheCallAndItsPlace) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  common::ThreadChecker checker;
  checker.CheckOrAbort("Paint", "window.cc", 12);  // binds here
  EXPECT_DEATH(std::thread([&] { checker.CheckOrAbort("Paint", "window.cc", 12); }).join(),
               "window.cc:12: Paint called on thread [0-9]+; it belongs to thread [0-9]+");
}

// The install flow's threads may call only the window's "any thread"
// members; a "UI thread" one called from there aborts in a debug build.
TEST(WindowThreadDeathTest, UiThreadMembersAbortOnAnotherThread) {
  if (!common::kThreadChecksOn) {
    // RelWithDebInfo, the usual build here, defines NDEBUG: the checks
    // compile to nothing there, so only a debug build can show the abort.
    GTEST_SKIP() << "thread checks are off in NDEBUG builds";
  }
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing_support::RecordingEventSink events;
  window::WindowEnvironment env;
  env.events = &events;
  window::InstallUIMainWnd window(L"", std::move(env));
  window.ShowProgressPage();  // its own thread: fine (no controls yet)
  EXPECT_DEATH(std::thread([&] { window.ShowProgressPage(); }).join(),
               "ShowProgressPage called on thread [0-9]+; it belongs to thread");
  EXPECT_DEATH(std::thread([&] { window.StartBannerThreadIfNeeded(); }).join(),
               "StartBannerThreadIfNeeded called on thread");
  EXPECT_DEATH(std::thread([&] { window.SetInstallPathText(L"/opt"); }).join(),
               "SetInstallPathText called on thread");
  // A timer's tick, as a message handled on the wrong thread.
  EXPECT_DEATH(
      std::thread([&] { window.SendUiMessage(ui::kWmTimer, window::kTimerOneSecond); }).join(),
      "HandleMessage called on thread");
}

}  // namespace
}  // namespace window_test
