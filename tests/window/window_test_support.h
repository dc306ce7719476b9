#ifndef WEBSETUP_TESTS_WINDOW_WINDOW_TEST_SUPPORT_H_
#define WEBSETUP_TESTS_WINDOW_WINDOW_TEST_SUPPORT_H_

// A headless setup window against a real maker-services that serves the
// signed sample installer, with every place it writes inside a temporary
// folder, and helpers to drive it as a user would.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/maker_services.h"
#include "support/recording_event_sink.h"
#include "support/temp_dir.h"
#include "window/install_ui_main_wnd.h"
#include "window/message_box_wnd.h"

namespace window_test {

// An archive with some of its files replaced (or, with an empty text,
// left out), as a variant build ships; in force while the object lives.
class VariantArchive {
 public:
  explicit VariantArchive(const std::map<std::string, std::string>& replaced);
  ~VariantArchive();
  // A file of the shipped archive's sources.
  static std::string Source(const std::string& name);

 private:
  testing_support::TempDir dir_;
};

class WindowFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Builds and shows the window with `env` as prepared by SetUp (tests
  // change env_ before calling).
  void openWindow();
  // Runs the loop until `done` holds or `limit` passes. Returns done().
  bool runUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Presses `button` of the next message box that appears; records its
  // kind, and saves a screenshot of the box as `shot` when given.
  void answerNextBox(const std::wstring& button, const std::string& shot = "");
  // Does `dismiss` to the next message box that appears (a key, the
  // desktop's close); records its kind.
  void dismissNextBox(std::function<void(window::MessageBoxWnd* box)> dismiss);
  bool click(const std::wstring& name);
  std::wstring text(const std::wstring& name);
  bool visible(const std::wstring& name);
  int page(const std::wstring& tab);
  int windowHeight();
  void screenshot(const std::string& name);
  // Sets a run-time mode of maker-services.
  void setMode(const std::string& key, const std::string& value);

  testing_support::TempDir dir_;
  std::unique_ptr<testing_support::MakerServices> server_;
  std::unique_ptr<testing_support::RecordingEventSink> events_;
  window::WindowEnvironment env_;
  std::unique_ptr<window::InstallUIMainWnd> window_;
  std::vector<int> boxKinds_;         // kinds of the boxes answered
  std::vector<std::wstring> started_; // product command lines started
  std::vector<std::wstring> opened_;  // URLs and folders opened
  bool closed_ = false;
};

}  // namespace window_test

#endif  // WEBSETUP_TESTS_WINDOW_WINDOW_TEST_SUPPORT_H_
