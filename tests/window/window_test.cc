#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>

#include "common/text.h"
#include "install/window_messages.h"
#include "platform/registry.h"
#include "uiframework/automation.h"
#include "uiframework/controls.h"
#include "window/languages.h"
#include "window_test_support.h"

namespace window_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::vector<std::string> actions(const testing_support::RecordingEventSink& events,
                                 const std::string& kind) {
  std::vector<std::string> out;
  for (const auto& e : events.ofKind(kind)) out.push_back(e.category + "/" + e.action);
  return out;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The whole road a person takes: the window opens on the setting page,
// Install asks for the licence, the product is downloaded, verified,
// installed and started, and the window closes.
TEST_F(WindowFixture, InstallClickInstallsAndStartsTheProduct) {
  openWindow();
  EXPECT_EQ(page(L"main_tablayout"), 0);
  EXPECT_EQ(page(L"page_layout"), 0);
  EXPECT_EQ(windowHeight(), 360);
  EXPECT_EQ(window_->CloseMode(), 2);
  EXPECT_FALSE(visible(L"text_fail_retry"));
  EXPECT_EQ(text(L"install_file_path_edit"),
            common::utf8ToWide(dir_.file("Program Files")) + L"/OrlaStudio");
  screenshot("setting_page.png");

  // ChooseLicense is 0: the box starts unticked and Install asks first.
  answerNextBox(L"btn_yes", "box_licence.png");
  ASSERT_TRUE(click(L"install_btn"));
  ASSERT_EQ(boxKinds_, std::vector<int>{install::kMsgAgree});
  EXPECT_EQ(page(L"main_tablayout"), 1);
  EXPECT_EQ(page(L"page_layout"), 1);
  EXPECT_TRUE(runUntil([&] { return window_->GetProgressValue() >= 1; }, seconds(10)));
  runUntil([] { return false; }, milliseconds(30));  // the label follows the bar
  screenshot("running_page.png");

  ASSERT_TRUE(runUntil([&] { return !started_.empty(); }, seconds(60)));
  EXPECT_GE(window_->GetProgressValue(), 98);
  const std::wstring installed =
      common::utf8ToWide(dir_.file("Program Files")) + L"/OrlaStudio/Orlastra/Orlastra.exe";
  EXPECT_EQ(started_[0], L"\"" + installed + L"\"");
  EXPECT_TRUE(std::filesystem::exists(common::wideToUtf8(installed)));
  // The product's uninstall key, which its installer made, carries the
  // setup's language in the product's own code.
  platform::RegistryValue language;
  ASSERT_EQ(platform::registryRead(
                platform::RegistryHive::kLocalMachine,
                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Orlastra}_is1",
                "Inno Setup: Language", &language),
            platform::PlatformResult::kOk);
  EXPECT_EQ(language.text, "en");
  EXPECT_TRUE(runUntil([&] { return !window_->IsWindowVisible(); }, seconds(5)));
  // The automatic start (NeedStartFlag, no splash) leaves from the running
  // page, which the close codes read as the end of installing.
  EXPECT_TRUE(runUntil([&] { return !events_->labels("Close").empty(); }, seconds(5)));
  EXPECT_EQ(events_->labels("Close"), std::vector<std::string>{"close03"});

  const auto events = actions(*events_, "event");
  for (const char* step :
       {"Download/1.Launch", "Download/2.DownStart", "Download/3.Downloading...",
        "Download/4.DownFinsh", "Download/5.ProgramInstall", "Download/6.ProgramFinsh",
        "Download/7.ProgramLaunch", "Download/9.StartWindow"}) {
    EXPECT_TRUE(contains(events, step)) << step;
  }
  EXPECT_EQ(events_->labels("3.Downloading..."), std::vector<std::string>{"First"});
  EXPECT_EQ(events_->labels("SetLanguage").size(), 1u);
  // Nothing raised a flow error on the good road.
  EXPECT_TRUE(events_->labels("FlowError").empty());
  const auto pairs = actions(*events_, "funnelEx");
  EXPECT_TRUE(contains(pairs, "StartDownloader/PrivacyAgreementPopup"));
  EXPECT_TRUE(contains(pairs, "RunningTime/Estimated Duration"));
}

TEST_F(WindowFixture, DisagreeingWithTheLicenceStaysOnTheSettingPage) {
  openWindow();
  answerNextBox(L"btn_no");
  ASSERT_TRUE(click(L"install_btn"));
  EXPECT_EQ(boxKinds_, std::vector<int>{install::kMsgAgree});
  EXPECT_EQ(page(L"main_tablayout"), 0);
  bool disagreed = false;
  for (const auto& e : events_->ofKind("funnelEx")) {
    disagreed |= e.detail == "PrivacyAgreementPopupType=Disagree;";
  }
  EXPECT_TRUE(disagreed);
  // Ticking the box itself only enables Install; the next click goes on.
  ASSERT_TRUE(click(L"license_checkbox"));
  EXPECT_TRUE(window_->FindControl<ui::CCheckBoxUI>(L"license_checkbox")->GetCheck());
}

// Settings and licence share the lower area: the window grows to 560 and
// shrinks back to 360; switching panels keeps it open.
TEST_F(WindowFixture, LowerAreaTogglesResizeTheWindow) {
  openWindow();
  auto clickLicenceLink = [this] {
    // The link notification as the text control sends it.
    ui::CControlUI* link = window_->FindControl(L"license_link");
    ASSERT_NE(link, nullptr);
    window_->GetPaintManager().SendNotify(link, L"link", 0);
  };
  ASSERT_TRUE(click(L"install_setting"));
  EXPECT_EQ(windowHeight(), 560);
  EXPECT_EQ(page(L"set_layout"), 1);
  screenshot("settings_open.png");
  // Choosing Simplified Chinese re-texts the window at once.
  ASSERT_TRUE(ui::automation::ChooseComboItem(window_.get(), L"language_combox", 2));
  EXPECT_EQ(window_->CurrentLanguage(), window::kChineseSimplified);
  EXPECT_EQ(text(L"install_btn"), L"安装");
  screenshot("settings_open_chinese.png");
  ASSERT_TRUE(ui::automation::ChooseComboItem(window_.get(), L"language_combox", 0));
  EXPECT_EQ(text(L"install_btn"), L"Install");
  clickLicenceLink();
  EXPECT_EQ(windowHeight(), 560);
  EXPECT_EQ(page(L"set_layout"), 0);
  screenshot("licence_open.png");
  clickLicenceLink();
  EXPECT_EQ(windowHeight(), 360);
  ASSERT_TRUE(click(L"install_setting"));
  EXPECT_EQ(windowHeight(), 560);
  ASSERT_TRUE(click(L"install_setting"));
  EXPECT_EQ(windowHeight(), 360);
}

// A download that fails in every attempt ends on the retry page; Try
// again starts over from 0 and its events say "Retry".
TEST_F(WindowFixture, FailedDownloadOffersTryAgain) {
  setMode("config.mode", "404");  // embedded configuration: a URL nobody serves
  env_.install.downloadAttempts = 2;
  env_.modulePath = "/opt/setup/setup_12345.exe";
  openWindow();
  window_->FindControl<ui::CCheckBoxUI>(L"license_checkbox")->SetCheck(true);
  answerNextBox(L"btn_yes", "box_download_failed.png");
  ASSERT_TRUE(click(L"install_btn"));
  ASSERT_TRUE(runUntil([&] { return visible(L"text_fail_advice"); }, seconds(120)));
  EXPECT_EQ(boxKinds_.size(), 1u);
  EXPECT_EQ(page(L"main_tablayout"), 0);
  EXPECT_EQ(page(L"page_layout"), 1);
  EXPECT_EQ(window_->CloseMode(), 1);
  EXPECT_EQ(text(L"start_app"),
            window::GetLanguageText(L"install_page", L"retry_btn", window_->CurrentLanguage()));
  screenshot("retry_page.png");
  EXPECT_EQ(events_->labels("8.DownFail"), std::vector<std::string>{"First"});

  // The advice link offers the installer itself, tagged with this setup.
  window_->GetPaintManager().SendNotify(window_->FindControl(L"text_fail_advice"), L"link", 0);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0],
            L"http://download.orlastra.example/downloads/setup_orlastra.exe"
            L"?rnclid=12345&package=setup_12345.exe");
  EXPECT_EQ(events_->labels("8-2.ClickInstallLink"), std::vector<std::string>{"First"});

  answerNextBox(L"btn_yes");
  ASSERT_TRUE(click(L"start_app"));
  EXPECT_EQ(window_->GetProgressValue(), 0);
  EXPECT_EQ(page(L"main_tablayout"), 1);
  ASSERT_TRUE(runUntil([&] { return events_->labels("8.DownFail").size() == 2; }, seconds(120)));
  EXPECT_EQ(events_->labels("8-1.ClickTryAgain"), std::vector<std::string>{"First"});
  EXPECT_EQ(events_->labels("3.Downloading...").back(), "Retry");
  // The start date and hour go once per process, not per click.
  EXPECT_EQ(events_->labels("StartTimeDate").size(), 1u);
}

// AutoRun presses Install after 2 s and, after a failure, Try again 1 s
// after the retry page appeared; one-button boxes confirm themselves.
TEST_F(WindowFixture, AutoRunPressesTheButtonsItself) {
  setMode("config.mode", "404");
  env_.autoRun = true;
  env_.install.downloadAttempts = 1;
  openWindow();
  ASSERT_TRUE(
      runUntil([&] { return events_->labels("8-1.ClickTryAgain").size() == 1; }, seconds(60)));
  EXPECT_EQ(events_->labels("8.DownFail").size(), 1u);
}

// The folder picker answers whenever the person is done with it. Until
// it has, Install takes no click (the button shows it is off), so a run
// never starts on one folder and then finds the answer's folder, which
// nobody checked or created, under its feet.
TEST_F(WindowFixture, InstallWaitsForTheFolderPickersAnswer) {
  std::function<void(std::optional<std::wstring>)> answer;
  int asked = 0;
  env_.pickFolder = [&](const std::wstring&,
                        std::function<void(std::optional<std::wstring>)> done) {
    ++asked;
    answer = std::move(done);
  };
  openWindow();
  window_->FindControl<ui::CCheckBoxUI>(L"license_checkbox")->SetCheck(true);
  ASSERT_TRUE(click(L"install_setting"));
  auto pressInstall = [this] {
    // Where a person presses it, whether it looks pressable or not.
    const ui::UiRect r = window_->FindControl(L"install_btn")->GetPos();
    ASSERT_TRUE(
        ui::automation::ClickAt(window_.get(), (r.left + r.right) / 2, (r.top + r.bottom) / 2));
    runUntil([] { return false; }, milliseconds(50));
  };
  // The answer comes on a thread of the desktop's.
  auto answerWith = [&](std::optional<std::wstring> folder) {
    std::thread([&] { answer(folder); }).join();
    return runUntil([&] { return window_->FindControl(L"install_btn")->IsEnabled(); }, seconds(5));
  };

  ASSERT_TRUE(click(L"browser_btn"));
  ASSERT_EQ(asked, 1);
  screenshot("picker_open.png");
  pressInstall();
  EXPECT_EQ(page(L"main_tablayout"), 0);
  EXPECT_TRUE(events_->labels("2.DownStart").empty());
  // A second picker does not open over the first.
  EXPECT_FALSE(click(L"browser_btn"));
  EXPECT_EQ(asked, 1);
  // Cancelled: the folder stays, the buttons come back.
  const std::wstring before = text(L"install_file_path_edit");
  ASSERT_TRUE(answerWith(std::nullopt));
  EXPECT_EQ(text(L"install_file_path_edit"), before);

  ASSERT_TRUE(click(L"browser_btn"));
  ASSERT_EQ(asked, 2);
  pressInstall();
  EXPECT_EQ(page(L"main_tablayout"), 0);
  const std::wstring chosen = common::utf8ToWide(dir_.file("chosen"));
  ASSERT_TRUE(answerWith(chosen));
  EXPECT_EQ(text(L"install_file_path_edit"), chosen + L"/OrlaStudio");
  pressInstall();
  EXPECT_EQ(page(L"main_tablayout"), 1);
  EXPECT_EQ(window_->GetInstallPath(), chosen + L"/OrlaStudio/Orlastra");
  EXPECT_EQ(events_->labels("2.DownStart").size(), 1u);
}

TEST_F(WindowFixture, ProgressNeverGoesBackAcrossThreads) {
  openWindow();
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int v = t; v <= 85; v += 4) window_->SetInstallProgress(v);
      window_->SetInstallProgress(3);  // a late, lower value
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(window_->GetProgressValue(), 85);
  runUntil([] { return false; }, milliseconds(50));
  EXPECT_NE(text(L"install_label").find(L"85%"), std::wstring::npos)
      << common::wideToUtf8(text(L"install_label"));
}

// The run-up after the installer ended: from 95 the last-progress timer
// climbs to 99 and then releases the install thread; from 98 the next
// install tick releases it at once without raising the bar.
TEST_F(WindowFixture, InstallerEndingBelowTheEndFinishesTheBar) {
  openWindow();
  install::InstallShared& shared = window_->Shared();
  window_->SetInstallProgress(95);
  shared.installerFinished = true;
  window_->SendUiMessage(ui::kWmTimer, window::kTimerInstallProgress);
  EXPECT_EQ(window_->GetProgressValue(), 95);
  EXPECT_FALSE(shared.progressFinish100.isSet());
  for (int expected = 96; expected <= 99; ++expected) {
    window_->SendUiMessage(ui::kWmTimer, window::kTimerLastProgress);
    EXPECT_EQ(window_->GetProgressValue(), expected);
  }
  EXPECT_FALSE(shared.progressFinish100.isSet());
  window_->SendUiMessage(ui::kWmTimer, window::kTimerLastProgress);
  EXPECT_TRUE(shared.progressFinish100.isSet());

  shared.progressFinish100.reset();
  window_->Shared().installerFinished = true;
  // 98 % showing: the next tick of the install timer ends it.
  window_->SetInstallProgress(98);
  window_->SendUiMessage(ui::kWmTimer, window::kTimerInstallProgress);
  EXPECT_EQ(window_->GetProgressValue(), 99);  // already raised past 98 above
}

// One second of installer per 17 920 000 bytes of package.
TEST(WindowRulesTest, InstallEstimate) {
  using window::InstallUIMainWnd;
  EXPECT_EQ(InstallUIMainWnd::EstimateInstallSeconds(17920000), 1);
  EXPECT_EQ(InstallUIMainWnd::EstimateInstallSeconds(179200000), 10);
  EXPECT_EQ(InstallUIMainWnd::EstimateInstallSeconds(0), 0);
}

}  // namespace
}  // namespace window_test
