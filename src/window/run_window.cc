#include "window/run_window.h"

#include <atomic>

#include "common/log.h"
#include "common/text.h"
#include "platform/quit_signal.h"
#include "system/system_facts.h"
#include "telemetry/single_user_log.h"
#include "uiframework/message_loop.h"
#include "window/languages.h"
#include "window/message_box_wnd.h"

namespace window {
namespace {

// The display as the window found it, for threads that ask later.
std::atomic<int> g_screenWidth{0};
std::atomic<int> g_screenHeight{0};

}  // namespace

WindowRunner::WindowRunner(BannerTransport banners) : banners_(std::move(banners)) {}
WindowRunner::~WindowRunner() = default;

void WindowRunner::Run(const common::ProcessIdentity& identity,
                       const std::function<void(std::function<void()>)>& setActivationHandler) {
  WindowEnvironment env = WindowEnvironment::FromProcess();
  env.install.releaseInstanceLock = identity.releaseInstanceLock;
  env.banners = banners_;
  window_ = std::make_unique<InstallUIMainWnd>(identity.windowClass, std::move(env));
  // The title names the product for the taskbar and window lists.
  std::wstring title = L"Setup";
  if (!window_->Create(0, title, 0, 0, 650, 560)) {
    LOG(INFO) << " Setup window not created: " << window_->GetLoadError();
    return;
  }
  if (ui::WindowHost* host = window_->GetHost()) {
    const ui::UiSize screen = host->ScreenSize();
    g_screenWidth = screen.cx;
    g_screenHeight = screen.cy;
  }
  FuntionImpl::SetScreenSource([](int* width, int* height, int* logical) {
    *width = g_screenWidth.load();
    *height = g_screenHeight.load();
    *logical = *width;
    return *width > 0;
  });
  telemetry::CSingleUserLog::GetInstance().SetMainWindow(window_.get());
  InstallUIMainWnd* raw = window_.get();
  const ui::WindowHandle handle = raw->GetHWND();
  setActivationHandler([raw, handle] {
    ui::MessageLoop::Get()->PostTask([raw, handle] {
      if (ui::MessageLoop::Get()->IsWindow(handle)) raw->Activate();
    });
  });
  window_->CenterWindow();
  window_->ShowWindow(true);
  LOG(INFO) << " Setup window shown (" << (window_->GetHost()->IsHeadless() ? "headless" : "display")
            << ")";
  // The session ending the program closes the window as the close button
  // does, without the question.
  platform::QuitSignalWatcher quit;
  quit.start([raw, handle](int sig) {
    ui::MessageLoop::Get()->PostTask([raw, handle, sig] {
      LOG(INFO) << " Quit on signal " << sig;
      if (ui::MessageLoop::Get()->IsWindow(handle)) raw->RequestClose();
    });
  });
  ui::MessageLoop::Get()->Run();
  quit.stop();
  setActivationHandler([] {});
  telemetry::CSingleUserLog::GetInstance().SetMainWindow(nullptr);
}

bool WindowRunner::WaitThreads() {
  if (!window_) return true;
  if (!window_->WaitForAllThreadExit()) {
    LOG(INFO) << " Window threads still running: the window stays until the process ends";
    (void)window_.release();  // a running thread still uses it
    return false;
  }
  window_.reset();
  return true;
}

void ShowUnsupportedSystemBox() {
  (void)MessageBoxWnd::Show(nullptr, install::kMsgNotSupportSystem, GetLanguageByLocalSystem(),
                            FuntionImpl::IsAutoRun());
}

}  // namespace window
