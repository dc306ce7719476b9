// The launch splash of a product configured with Gif_duration: shown
// modally after Start, cycling its pictures, starting the product, and on
// a failed start reporting DL019 once behind the shortcut hint.

#include <filesystem>
#include <regex>

#include "common/text.h"
#include "uiframework/automation.h"
#include "uiframework/message_loop.h"
#include "window/languages.h"
#include "window/message_box_wnd.h"
#include "window/splash_wnd.h"
#include "window_test_support.h"

namespace window_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// Runs `action` on the UI thread once `ready` holds, polling from inside
// whatever modal loop runs then (the splash's).
void when(std::function<bool()> ready, std::function<void()> action) {
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [ready, action, poll] {
    if (!ready()) {
      ui::MessageLoop::Get()->PostTask([poll] { (*poll)(); });
      return;
    }
    action();
    *poll = nullptr;  // breaks the cycle
  };
  ui::MessageLoop::Get()->PostTask([poll] { (*poll)(); });
}

class SplashTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    std::string configure = VariantArchive::Source("configure/configure.xml");
    configure = std::regex_replace(configure, std::regex(R"(name="Gif_duration" text="0")"),
                                   R"(name="Gif_duration" text="1")");
    variant_ = std::make_unique<VariantArchive>(std::map<std::string, std::string>{
        {"configure/configure.xml", configure}});
  }
  void TearDown() override {
    WindowFixture::TearDown();
    variant_.reset();
  }
  void install() {
    openWindow();
    window_->FindControl<ui::CCheckBoxUI>(L"license_checkbox")->SetCheck(true);
    ASSERT_TRUE(click(L"install_btn"));
  }
  std::unique_ptr<VariantArchive> variant_;
};

TEST_F(SplashTest, ShownForItsDurationWhileTheProductStarts) {
  int width = 0, height = 0, firstPicture = -1, laterPicture = -1;
  bool mainHidden = false;
  Clock::time_point shownAt, goneAt;
  when([] { return window::CAlientWnd::Active() != nullptr; }, [&] {
    shownAt = Clock::now();
    window::CAlientWnd* splash = window::CAlientWnd::Active();
    width = splash->GetWindowRect().width();
    height = splash->GetWindowRect().height();
    mainHidden = !window_->IsWindowVisible();
    firstPicture = window::CAlientWnd::PictureCounter();
    when([shownAt] { return Clock::now() - shownAt > milliseconds(400); }, [&] {
      laterPicture = window::CAlientWnd::PictureCounter();
      std::filesystem::create_directories(WINDOW_ARTIFACT_DIR);
      if (window::CAlientWnd* s = window::CAlientWnd::Active()) {
        EXPECT_TRUE(ui::automation::Screenshot(s, std::string(WINDOW_ARTIFACT_DIR) + "/splash.png"));
      }
      when([] { return window::CAlientWnd::Active() == nullptr; }, [&] { goneAt = Clock::now(); });
    });
  });
  install();
  ASSERT_TRUE(runUntil([&] { return !events_->labels("Close").empty(); }, seconds(90)));
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 320);
  EXPECT_TRUE(mainHidden);
  // 50 ms a picture: several went by in the first 400 ms.
  EXPECT_GE(laterPicture - firstPicture, 4);
  EXPECT_GE(goneAt - shownAt, milliseconds(900));
  EXPECT_EQ(started_.size(), 1u);
  EXPECT_EQ(events_->labels("Close"), std::vector<std::string>{"close07"});
  EXPECT_EQ(events_->labels("9.StartWindow"), std::vector<std::string>{"1"});
  EXPECT_TRUE(events_->labels("FlowError").empty());
}

TEST_F(SplashTest, FailedStartReportsOnceAndClosesAfterTheHint) {
  env_.startProduct = [this](const std::wstring& commandLine, int) {
    started_.push_back(commandLine);
    return -1;
  };
  bool plain = false, animating = false;
  std::wstring hintText;
  when([] { return window::MessageBoxWnd::Active() != nullptr && window::CAlientWnd::Active() != nullptr; }, [&] {
    window::MessageBoxWnd* hint = window::MessageBoxWnd::Active();
    plain = hint->IsPlain();
    hintText = ui::automation::Text(hint, L"msg_describe");
    const int before = window::CAlientWnd::PictureCounter();
    const Clock::time_point at = Clock::now();
    // The splash keeps animating behind the hint, which then is read.
    when([at] { return Clock::now() - at > milliseconds(300); }, [&, before] {
      animating = window::CAlientWnd::PictureCounter() > before;
      if (window::MessageBoxWnd* box = window::MessageBoxWnd::Active()) {
        EXPECT_TRUE(ui::automation::Click(box, L"btn_yes"));
      }
    });
  });
  install();
  ASSERT_TRUE(runUntil([&] { return !events_->labels("Close").empty(); }, seconds(90)));
  EXPECT_TRUE(plain);
  EXPECT_TRUE(animating);
  EXPECT_EQ(hintText, window::GetLanguageText(L"message_page", L"ClickShortcutToLaunchText",
                                              window_->CurrentLanguage()));
  EXPECT_EQ(events_->labels("FlowError"), std::vector<std::string>{"DL019"});
  EXPECT_EQ(started_.size(), 1u);
  EXPECT_EQ(window::CAlientWnd::Active(), nullptr);
}

}  // namespace
}  // namespace window_test
