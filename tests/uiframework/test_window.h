#ifndef WEBSETUP_TESTS_UIFRAMEWORK_TEST_WINDOW_H_
#define WEBSETUP_TESTS_UIFRAMEWORK_TEST_WINDOW_H_

// A headless window of a given layout that records what it is told.

#include <string>
#include <vector>

#include "common/text.h"
#include "uiframework/window.h"

namespace ui::testing_window {

class RecordingWindow : public WindowImplBase {
 public:
  explicit RecordingWindow(std::string file) : file_(std::move(file)) {}
  std::string GetWindowClassName() const override { return "TEST_Frame"; }
  std::string GetSkinFile() const override { return file_; }

  // "type:sender" of every notification, in order.
  std::vector<std::string> events;
  std::vector<std::pair<uint32_t, uintptr_t>> messages;  // custom messages and timers
  bool veto_close = false;
  int close_requests = 0;  // how often OnClose ran
  bool* destroyed = nullptr;

  void Notify(TNotifyUI& msg) override {
    events.push_back(common::wideToUtf8(msg.sType) + ":" +
                     (msg.pSender ? common::wideToUtf8(msg.pSender->GetName()) : ""));
    WindowImplBase::Notify(msg);
  }

 protected:
  intptr_t HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    if (message == kWmTimer) messages.emplace_back(message, wparam);
    return WindowImplBase::HandleMessage(message, wparam, lparam);
  }
  intptr_t HandleCustomMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                               bool& handled) override {
    (void)lparam;
    messages.emplace_back(message, wparam);
    handled = false;
    return 0;
  }
  intptr_t OnClose(uint32_t, uintptr_t, intptr_t, bool& handled) override {
    ++close_requests;
    handled = veto_close;
    return 0;
  }
  void OnFinalMessage(WindowHandle) override {
    if (destroyed != nullptr) *destroyed = true;
  }

 private:
  std::string file_;
};

}  // namespace ui::testing_window

#endif  // WEBSETUP_TESTS_UIFRAMEWORK_TEST_WINDOW_H_
