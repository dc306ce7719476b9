#ifndef WEBSETUP_WINDOW_RUN_WINDOW_H_
#define WEBSETUP_WINDOW_RUN_WINDOW_H_

// Runs the setup window for start-up: creates it, shows it, runs the
// message loop until the window has closed, and afterwards waits for the
// window's worker threads. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "common/process_identity.h"
#include "window/banner.h"
#include "window/install_ui_main_wnd.h"

namespace window {

class WindowRunner {
 public:
  // `banners` carries the carousel's banners; the composition root gives
  // the process's transport, so the window needs none of its own.
  explicit WindowRunner(BannerTransport banners);
  ~WindowRunner();

  // Creates the window of `identity`'s class and runs the loop until it
  // closes. `setActivationHandler` receives the function that raises the
  // window (a second instance asks for it); it is called on the UI thread.
  // The identity's lock release lets the automated restart hand the lock on.
  void Run(const common::ProcessIdentity& identity,
           const std::function<void(std::function<void()>)>& setActivationHandler);
  // After Run: stops the window's threads and waits for them within their
  // limits, then frees the window. Returns false when a thread still runs:
  // the window is then never freed, and the process must end without the
  // destructors that would run under that thread.
  bool WaitThreads();

 private:
  BannerTransport banners_;
  std::unique_ptr<InstallUIMainWnd> window_;
};

// The refusal on a system the product does not support: the box of kind
// 13 in the system's language, before any window exists. Returns when it
// is closed. Main thread.
void ShowUnsupportedSystemBox();

}  // namespace window

#endif  // WEBSETUP_WINDOW_RUN_WINDOW_H_
