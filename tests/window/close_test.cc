// Closing the setup window: the cancel question, the close code of each
// phase with its duration, the synchronous close records and the hidden
// close-report run when the download configuration asks for it.

#include <filesystem>
#include <fstream>
#include <regex>

#include "common/text.h"
#include "uiframework/automation.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "window_test_support.h"

namespace window_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class CloseTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    env_.logFilePath = L"/var/log/setup_orlastra_20261209093015123.log";
    env_.startCloseReport = [this](const std::vector<std::string>& arguments) {
      reports_.push_back(arguments);
    };
  }
  std::vector<testing_support::RaisedEvent> closeRecords() {
    std::vector<testing_support::RaisedEvent> out;
    for (const auto& e : events_->events()) {
      if (e.action == "Close" || e.category == "RunningTime") out.push_back(e);
    }
    return out;
  }
  void showPage(int main, int inner) {
    window_->FindControl<ui::CTabLayoutUI>(L"main_tablayout")->SelectItem(main);
    window_->FindControl<ui::CTabLayoutUI>(L"page_layout")->SelectItem(inner);
  }
  std::vector<std::vector<std::string>> reports_;
};

// No to the cancel question sends nothing and the setup stays; Yes closes
// with close01 and the seconds since the window opened.
TEST_F(CloseTest, TheCancelQuestionDecides) {
  openWindow();
  answerNextBox(L"btn_no", "box_cancel.png");
  ASSERT_TRUE(click(L"closebtn"));
  EXPECT_EQ(boxKinds_, std::vector<int>{install::kMsgCancelInstall});
  runUntil([] { return false; }, milliseconds(50));
  EXPECT_TRUE(window_->IsWindowVisible());
  EXPECT_TRUE(closeRecords().empty());
  // The desktop's close (Alt+F4, Escape) asks the same.
  answerNextBox(L"closebtn");
  ui::automation::PressKey(window_.get(), ui::kKeyEscape);
  runUntil([] { return false; }, milliseconds(50));
  EXPECT_EQ(boxKinds_.size(), 2u);
  EXPECT_TRUE(closeRecords().empty());

  answerNextBox(L"btn_yes");
  ASSERT_TRUE(click(L"closebtn"));
  ASSERT_TRUE(runUntil([&] { return !closeRecords().empty(); }, seconds(5)));
  const auto records = closeRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(std::regex_match(records[0].text(),
                               std::regex(R"(funnelEx\|RunningTime\|DurationFordownLoading\|UserCloses=[0-2]S;)")))
      << records[0].text();
  EXPECT_EQ(records[1].text(), "event|CrashRate|Close|close01");
  EXPECT_TRUE(records[1].wait);
  EXPECT_EQ(records[2].text(), "funnel|CorePublicModule|Close|Keypoint BeforeDownload 0 null");
  EXPECT_TRUE(records[2].wait);
  EXPECT_TRUE(reports_.empty());  // Downloader_config is 0
}

// Downloader_config 2: the closing window starts the close-report run for
// its log before it sends the records; verification has its own key.
TEST_F(CloseTest, ClosingDuringVerificationStartsTheCloseReport) {
  std::ifstream in(std::string(SAMPLE_INSTALLER_DIR) + "/downloader.xml");
  std::string answer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  answer = std::regex_replace(answer, std::regex("<Downloader_config>[0-9]+"), "<Downloader_config>2");
  std::ofstream(dir_.file("served/downloader_2.xml")) << answer;
  setMode("config.scenario", "downloader_2.xml");
  openWindow();
  ASSERT_TRUE(runUntil([&] { return !events_->ofKind("server").empty(); }, seconds(10)));
  runUntil([] { return false; }, milliseconds(100));
  showPage(1, 1);
  window_->SetInstallProgress(87);
  window_->Shared().downloadDoneTick = window_->Shared().startTick.load() - 3000;
  window_->RequestClose();  // as the session's end does: no question
  ASSERT_TRUE(runUntil([&] { return closeRecords().size() == 3; }, seconds(5)));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0], (std::vector<std::string>{"-close04", "setup_orlastra_20261209093015123.log"}));
  const auto records = closeRecords();
  EXPECT_TRUE(std::regex_match(records[0].text(),
                               std::regex(R"(funnelEx\|RunningTime\|VerificationDuration\|UserVerificationUserCloses=[34]S;)")))
      << records[0].text();
  EXPECT_EQ(records[1].detail, "close04");
}

// A failed run's finished page closes with close05 and no duration.
TEST_F(CloseTest, FailedRunClosesWithoutADuration) {
  openWindow();
  showPage(0, 1);
  window_->FindControl(L"text_fail_retry")->SetVisible(true);
  window_->Close(0);  // finish_btn: no question
  ASSERT_TRUE(runUntil([&] { return closeRecords().size() == 2; }, seconds(5)));
  EXPECT_EQ(closeRecords()[0].text(), "event|CrashRate|Close|close05");
  EXPECT_EQ(closeRecords()[1].text(), "funnel|CorePublicModule|Close|Keypoint Installing 0 null");
  EXPECT_TRUE(boxKinds_.empty());
}

}  // namespace
}  // namespace window_test
