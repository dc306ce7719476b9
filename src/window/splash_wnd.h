#ifndef WEBSETUP_WINDOW_SPLASH_WND_H_
#define WEBSETUP_WINDOW_SPLASH_WND_H_

// CAlientWnd: the launch splash. A borderless 320 x 320 card (transWnd.xml,
// transparent around the card) that can be dragged anywhere, cycling the
// 21 pictures skin/gif/bg00.png ... bg20.png every 50 ms while a launch
// thread starts the product; it closes Gif_duration seconds after the
// product started, or once the person has read the shortcut hint when the
// start failed. Shown modally on the UI thread; deletes itself.

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/events.h"
#include "common/thread_tools.h"
#include "uiframework/window.h"

namespace window {

class CAlientWnd : public ui::WindowImplBase {
 public:
  struct Launch {
    int adminFlag = 0;
    std::wstring executable;  // quoted, as StartTargetMainExe takes it
    std::wstring title;       // Software_name
    int durationSeconds = 0;  // Gif_duration
    int language = 0;
    bool autoRun = false;
    common::EventSink* events = nullptr;
    std::function<int(const std::wstring& commandLine, int adminFlag)> startProduct;
  };

  // Creates the splash without an owner, centres it and runs it modally
  // until it closes. Returns the modal result.
  static int Show(Launch launch);

  // The splash being shown now, or null. Automation only.
  static CAlientWnd* Active();
  // The process-wide picture counter (never reset).
  static int PictureCounter();

  std::string GetWindowClassName() const override { return "CALIENTWND_UI_Frame"; }
  std::string GetSkinFile() const override { return "transWnd.xml"; }

 protected:
  void InitWindow() override;
  void OnClick(ui::TNotifyUI& msg) override;
  intptr_t HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  void OnFinalMessage(ui::WindowHandle handle) override;

 private:
  explicit CAlientWnd(Launch launch);
  ~CAlientWnd() override;

  Launch launch_;
  ui::CControlUI* foreImage_ = nullptr;
  // The launch thread waits on closed_ instead of sleeping, so a splash
  // closed early (Alt+F4) lets it end at once; it is joined on the way out.
  std::shared_ptr<common::ManualResetEvent> closed_;
  std::thread thread_;
};

}  // namespace window

#endif  // WEBSETUP_WINDOW_SPLASH_WND_H_
