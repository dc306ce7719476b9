// The end of a failed run and what follows it: the progress bar's timers,
// the ways out of the retry boxes, and the installer bar's timing from the
// server's Additional_time.

#include <filesystem>
#include <fstream>
#include <regex>

#include "common/text.h"
#include "install/window_messages.h"
#include "uiframework/automation.h"
#include "uiframework/controls.h"
#include "window_test_support.h"

namespace window_test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

class RunEndTest : public WindowFixture {
 protected:
  // Serves the sample's download configuration with `element` set to `value`.
  void serveWith(const std::string& element, const std::string& value) {
    std::ifstream in(std::string(SAMPLE_INSTALLER_DIR) + "/downloader.xml");
    std::string answer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    answer = std::regex_replace(answer, std::regex("<" + element + ">[^<]*"),
                                "<" + element + ">" + value);
    std::ofstream(dir_.file("served/downloader_run_end.xml")) << answer;
    setMode("config.scenario", "downloader_run_end.xml");
  }
  // The bar's value after `span` of the window's own loop.
  int progressAfter(milliseconds span) {
    runUntil([] { return false; }, span);
    return window_->GetProgressValue();
  }
};

// An installer that fails ends the run while the bar's timers still run
// (a timer of 1.1 s: an extra 10 s over the 1 s estimate). None may
// outlive the run: not on the retry page, and not into Try again, whose
// new bar belongs to the new download alone (here one that stalls).
TEST_F(RunEndTest, NoProgressTimerOutlivesAFailedRun) {
  serveWith("Additional_time", "10");
  setenv("SAMPLE_INSTALLER_EXIT", "3", 1);
  openWindow();
  window_->FindControl<ui::CCheckBoxUI>(L"license_checkbox")->SetCheck(true);
  answerNextBox(L"btn_yes");
  ASSERT_TRUE(click(L"install_btn"));
  ASSERT_TRUE(runUntil([&] { return visible(L"text_fail_advice"); }, seconds(120)));
  ASSERT_EQ(boxKinds_, std::vector<int>{install::kMsgInstallTimeout});
  const int failedAt = window_->GetProgressValue();
  EXPECT_GE(failedAt, 90);
  EXPECT_EQ(progressAfter(milliseconds(2500)), failedAt)
      << "a timer raised the bar of an ended run";

  setMode("files-faults", "stall-after=0");
  ASSERT_TRUE(click(L"start_app"));
  ASSERT_EQ(page(L"main_tablayout"), 1);
  EXPECT_LE(progressAfter(milliseconds(2500)), 1);
  EXPECT_FALSE(window_->Shared().progressFinish100.isSet());
}

// The server's Additional_time sets the pace of the bar while the
// installer runs: one tick is a tenth of (estimate + extra) seconds, here
// a second for a 179 MB package and no extra. A negative extra, or one so
// large that the period wraps to a few milliseconds, must not make the bar
// race to its end.
TEST_F(RunEndTest, AdditionalTimeOutOfRangeNeverMakesTheBarRace) {
  ASSERT_EQ(window::InstallUIMainWnd::EstimateInstallSeconds(179200000), 10);
  // (10 + 42949663) * 100 is 2^32 + 4.
  for (int32_t answered : {-100000, 42949663}) {
    openWindow();
    ASSERT_EQ(window_->Flow()->WaitForAllThreadExit(), 0);  // the record is filled
    window_->Record()->additionalTime = answered;
    window_->Shared().packageSize = 179200000;
    window_->SendUiMessage(install::MSG_INSTALLER_STARTED);
    EXPECT_EQ(window_->GetProgressValue(), 90);
    EXPECT_LE(progressAfter(milliseconds(500)), 91) << answered;
    window_->WaitForAllThreadExit();
    window_.reset();
  }
}

// Boxes 6 and 7 drop the cached installer, which failed, whichever way
// they are left: Escape and the desktop's close are the close button.
TEST_F(RunEndTest, EveryWayOutOfARetryBoxDropsTheCachedInstaller) {
  openWindow();
  const std::string installer = common::wideToUtf8(window_->Flow()->InstallerPath(false));
  using Dismiss = std::function<void(window::MessageBoxWnd*)>;
  const std::vector<std::pair<std::string, Dismiss>> ways = {
      {"Escape", [](window::MessageBoxWnd* box) { ui::automation::PressKey(box, ui::kKeyEscape); }},
      {"the desktop's close",
       [](window::MessageBoxWnd* box) {
         static_cast<ui::HostDelegate*>(box)->OnHostCloseRequest();
       }},
      {"the close button",
       [](window::MessageBoxWnd* box) { EXPECT_TRUE(ui::automation::Click(box, L"closebtn")); }},
  };
  for (install::EnumMsgType kind : {install::kMsgInstallTimeout, install::kMsgVerifyFailed}) {
    for (const auto& [way, dismiss] : ways) {
      std::ofstream(installer) << "a failed installer";
      dismissNextBox(dismiss);
      EXPECT_EQ(window_->ShowMessageBox(kind), 2) << kind << ", " << way;
      EXPECT_TRUE(runUntil([&] { return !fs::exists(installer); }, seconds(2)))
          << kind << ", " << way;
    }
  }
  // Another box left by Escape clears nothing.
  std::ofstream(installer) << "a good installer";
  dismissNextBox([](window::MessageBoxWnd* box) { ui::automation::PressKey(box, ui::kKeyEscape); });
  EXPECT_EQ(window_->ShowMessageBox(install::kMsgUrlFail), 2);
  runUntil([] { return false; }, milliseconds(100));
  EXPECT_TRUE(fs::exists(installer));
}

}  // namespace
}  // namespace window_test
