// The progress bar, the window's timers and the custom messages the
// install flow posts.

#include <algorithm>
#include <cstdio>

#include "common/log.h"
#include "common/text.h"
#include "install/window_messages.h"
#include "uiframework/message_loop.h"
#include "window/install_ui_main_wnd.h"
#include "window/languages.h"

namespace window {
namespace {

constexpr uint32_t kMinTimerPeriodMs = ui::kMinTimerPeriodMs;
// The longest Additional_time the install bar follows: an hour, far beyond
// any installer's run.
constexpr int64_t kMaxAdditionalSeconds = 3600;

}  // namespace

void InstallUIMainWnd::SetInstallProgress(int percent) {
  if (progressBar_ == nullptr || progressLabel_ == nullptr) return;
  // Raising is one compare-and-swap: a late, lower value from another
  // thread can never overwrite a higher one.
  int current = progress_.load();
  do {
    if (current >= percent) return;
  } while (!progress_.compare_exchange_weak(current, percent));
  progressBar_->SetValue(percent);
  if (env_.taskbarProgress) env_.taskbarProgress(percent);
  if (env_.taskbarState) env_.taskbarState(kTaskbarNormal);
  // The label belongs to the UI thread: one pending update carries the
  // latest value, however many raises came in between.
  if (!labelUpdatePosted_.exchange(true)) {
    const ui::WindowHandle self = GetHWND();
    ui::MessageLoop::Get()->PostTask([this, self] {
      if (!ui::MessageLoop::Get()->IsWindow(self)) return;
      labelUpdatePosted_ = false;
      ApplyProgressToControls();
    });
  }
}

void InstallUIMainWnd::ApplyProgressToControls() {
  const int value = progress_.load();
  if (progressBar_ != nullptr) progressBar_->SetValue(value);
  if (progressLabel_ != nullptr && !progressFormat_.empty()) {
    progressLabel_->SetText(FormatLanguageNumber(progressFormat_, double(value)));
  }
}

void InstallUIMainWnd::OnDownloadProgress(int64_t downloaded, int64_t total) {
  int64_t expected = 0;
  if (shared_.packageSize.compare_exchange_strong(expected, total)) {
    char size[64];
    std::snprintf(size, sizeof(size), "%.2fMB", double(static_cast<float>(total) / 1048576.0f));
    events_->Event("Other", "PackageSize", size, false);
  }
  if (total <= 0) return;
  const int percent = static_cast<int>(static_cast<float>(downloaded) / static_cast<float>(total) * 85.0f);
  SetInstallProgress(percent < 0 ? 0 : percent);
}

int64_t InstallUIMainWnd::EstimateInstallSeconds(int64_t packageSize) {
  return ((packageSize * 4) / 716800 * 10) / 1000;
}

void InstallUIMainWnd::StartInstallEstimate() {
  KillTimer(kTimerSlowProgress);
  SetInstallProgress(90);
  const int64_t estimate = EstimateInstallSeconds(shared_.packageSize.load());
  // The answer's Additional_time, which telemetry keeps as well. It comes
  // from the server: a negative one would make the bar race to its end, a
  // huge one would wrap the timer's period.
  const int64_t answered = record_->additionalTime;
  const int64_t extra = std::clamp<int64_t>(answered, 0, kMaxAdditionalSeconds);
  if (extra != answered) {
    LOG(INFO) << " Additional time " << answered << " s taken as " << extra << " s";
  }
  int64_t period = (estimate + extra) * 100;
  if (period < kMinTimerPeriodMs) {
    // A tiny package would make the timer spin; timers are never faster.
    LOG(INFO) << " Install timer period " << period << " ms raised to " << kMinTimerPeriodMs;
    period = kMinTimerPeriodMs;
  }
  SetTimer(kTimerInstallProgress, static_cast<uint32_t>(period));
  LOG(INFO) << " Estimate install time is " << estimate << ", extra install time is " << extra
            << ", timer elapse is " << period;
  events_->FunnelPair("RunningTime", "Estimated Duration", "EstimatedDurationPar",
                      std::to_string(estimate) + "S");
}

void InstallUIMainWnd::StopProgressTimers() {
  for (uint32_t id : {kTimerSlowProgress, kTimerInstallProgress, kTimerLastProgress}) KillTimer(id);
}

void InstallUIMainWnd::Taskbar(int state) {
  if (env_.taskbarState) env_.taskbarState(state);
}

// What every end of a run does: the setting page with the finished page,
// and closing needs no question any more. The bar's timers end with the
// run: one left over would raise the next run's bar and release its
// install thread early.
void InstallUIMainWnd::EndOfRun() {
  StopProgressTimers();
  if (carousel_) carousel_->Stop();
  if (mainTab_ != nullptr) mainTab_->SelectItem(0);
  closeMode_ = 1;
}

intptr_t InstallUIMainWnd::HandleCustomMessage(uint32_t message, uintptr_t wparam, intptr_t,
                                               bool& handled) {
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
  handled = false;
  switch (message) {
    case install::MSG_CLEAR_DATA:
      flow_->ClearAPPData(false);  // never waits for a fetch in flight
      break;
    case install::MSG_DOWNLOAD_FAILED: {
      StopProgressTimers();  // timers keep firing under the message box
      Taskbar(kTaskbarError);
      const install::EnumMsgType kind = wparam == 9    ? install::kMsgInternetFail
                                        : wparam == 10 ? install::kMsgInternetTimeout
                                                       : install::kMsgUrlFail;
      (void)ShowMessageBox(kind);
      if (closeBtn_ != nullptr) closeBtn_->SetEnabled(true);
      events_->Event("Download", "8.DownFail", shared_.firstOrRetry(), false);
      ShowRetryPage();
      EndOfRun();
      KillTimer(kTimerAnimation);
      break;
    }
    case install::MSG_PACKAGE_DOWNLOADED:
      SetInstallProgress(100);
      WriteProductLanguage();
      if (closeBtn_ != nullptr) closeBtn_->SetEnabled(true);
      EndOfRun();
      break;
    case install::MSG_VERIFY_STARTED:
      SetInstallProgress(85);
      SetTimer(kTimerSlowProgress, 2000);
      break;
    case install::MSG_INSTALLER_STARTED:
      StartInstallEstimate();
      break;
    case install::MSG_INSTALL_TIMEOUT:
      StopProgressTimers();  // timers keep firing under the message box
      KillTimer(kTimerAnimation);
      ShowRetryPage();
      Taskbar(kTaskbarError);
      (void)ShowMessageBox(install::kMsgInstallTimeout);
      EndOfRun();
      break;
    case install::MSG_INSTALL_COMPLETED:
      if (closeBtn_ != nullptr) closeBtn_->SetEnabled(true);
      if (carousel_) carousel_->Stop();
      if (!(needStartFlag_ == 1 && gifDuration_ == 0)) {
        if (mainTab_ != nullptr) mainTab_->SelectItem(0);
        closeMode_ = 1;
        if (startApp_ != nullptr) startApp_->SetVisible(true);
        if (startShortcut_ != nullptr) startShortcut_->SetVisible(false);
      }
      Taskbar(kTaskbarNoProgress);
      break;
    case install::MSG_VERIFY_FAILED:
      StopProgressTimers();  // timers keep firing under the message box
      Taskbar(kTaskbarError);
      (void)ShowMessageBox(install::kMsgVerifyFailed);
      if (closeBtn_ != nullptr) closeBtn_->SetEnabled(true);
      ShowRetryPage();
      EndOfRun();
      break;
    case install::MSG_BANNERS_READY:
      if (carousel_) carousel_->OnBannersReady();
      break;
    default:
      break;
  }
  return 0;
}

intptr_t InstallUIMainWnd::HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
  if (message == ui::kWmTimer) OnTimer(static_cast<uint32_t>(wparam));
  return WindowImplBase::HandleMessage(message, wparam, lparam);
}

bool InstallUIMainWnd::OnProgressTimer(uint32_t id) {
  switch (id) {
    case kTimerSlowProgress: {
      const int v = progress_.load() + 1;
      if (shared_.slowProgressStop.load() == 1 || v > 90) {
        KillTimer(kTimerSlowProgress);
      } else {
        SetInstallProgress(v);
      }
      break;
    }
    case kTimerInstallProgress: {
      const int v = progress_.load() + 1;
      const bool finished = shared_.installerFinished.load();
      LOG(INFO) << " TIMER_INSTALLPROGRESS_ID: " << (finished ? 1 : 0) << ", " << v;
      if (!finished && v < 100) {
        SetInstallProgress(v);
      } else {
        KillTimer(kTimerInstallProgress);
        if (finished) {
          if (v > 98) {
            shared_.progressFinish100.set();
          } else {
            SetTimer(kTimerLastProgress, 500);
          }
        }
      }
      break;
    }
    case kTimerOneSecond:
      KillTimer(kTimerOneSecond);
      SetInstallProgress(1);
      break;
    case kTimerLastProgress: {
      const int v = progress_.load() + 1;
      LOG(INFO) << " TIMER_ATLASTPROGRESS_ID: " << (shared_.installerFinished.load() ? 1 : 0)
                << ", " << v;
      if (v < 100) {
        SetInstallProgress(v);
      } else {
        KillTimer(kTimerLastProgress);
        shared_.progressFinish100.set();
      }
      break;
    }
    default: return false;
  }
  return true;
}

void InstallUIMainWnd::OnTimer(uint32_t id) {
  DCHECK_CALLED_ON_VALID_THREAD(uiThread_);
  if (OnProgressTimer(id)) return;
  switch (id) {
    case kTimerCarousel:
      if (carousel_) carousel_->OnIntervalTimer();
      break;
    case kTimerSlide:
      if (carousel_) {
        carousel_->OnSlideTimer();
      } else {
        KillTimer(kTimerSlide);
      }
      break;
    case kTimerAutoInstall:
      if (env_.autoRun) {
        KillTimer(kTimerAutoInstall);
        PressButton(L"install_btn");
      }
      break;
    case kTimerAutoRetry:
      if (env_.autoRun) {
        KillTimer(kTimerAutoRetry);
        PressButton(L"start_app");
      }
      break;
    default:
      break;
  }
}

}  // namespace window
