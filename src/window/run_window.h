#ifndef WEBSETUP_WINDOW_RUN_WINDOW_H_
#define WEBSETUP_WINDOW_RUN_WINDOW_H_

// Runs the setup window for start-up: creates it, shows it, runs the
// message loop until the window has closed, and afterwards waits for the
// window's worker threads. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "common/process_identity.h"
#include "window/install_ui_main_wnd.h"

namespace window {

class WindowRunner {
 public:
  WindowRunner();
  ~WindowRunner();

  // Creates the window of `identity`'s class and runs the loop until it
  // closes. `setActivationHandler` receives the function that raises the
  // window (a second instance asks for it); it is called on the UI thread.
  // The identity's lock release lets the automated restart hand the lock on.
  void Run(const common::ProcessIdentity& identity,
           const std::function<void(std::function<void()>)>& setActivationHandler);
  // After Run: waits up to 10 minutes per thread, then frees the window.
  void WaitThreads();

 private:
  std::unique_ptr<InstallUIMainWnd> window_;
};

// The refusal on a system the product does not support: the box of kind
// 13 in the system's language, before any window exists. Returns when it
// is closed. Main thread.
void ShowUnsupportedSystemBox();

}  // namespace window

#endif  // WEBSETUP_WINDOW_RUN_WINDOW_H_
