#ifndef WEBSETUP_INSTALL_INSTALL_WINDOW_H_
#define WEBSETUP_INSTALL_INSTALL_WINDOW_H_

// What the install flow needs of the setup window, and the few values the
// two share. The install flow owns this interface; the window implements
// it, so install/ never includes window/ and the flow runs in tests
// against a small implementation without any window.
//
// Threads. The flow calls the window from two threads:
//   - the window's own thread (the UI thread): BeginInstallTask and its
//     checks, ClearAPPData after a message box; the calls marked "UI
//     thread" come only from there and may touch controls;
//   - the install thread: everything marked "any thread". Implementations
//     of those never touch controls: they read copies kept under a lock
//     and post the rest to the UI thread (PostTask, PostUiMessage).
// OnDownloadProgress comes on the downloader's thread; it too only
// raises a guarded value and posts the repaint.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/mutex.h"
#include "common/thread_tools.h"

namespace install {

// The kinds of message box (the window's ShowMessageBox).
enum EnumMsgType : int32_t {
  kMsgReplace = 0,
  kMsgPlain = 1,
  kMsgCancelInstall = 2,
  kMsgAppRunning = 3,
  kMsgPathError = 4,
  kMsgNetFramework = 5,
  kMsgInstallTimeout = 6,
  kMsgVerifyFailed = 7,
  kMsgUrlFail = 8,
  kMsgInternetFail = 9,
  kMsgInternetTimeout = 10,
  kMsgNoSpace = 11,
  kMsgClickShortcut = 12,
  kMsgNotSupportSystem = 13,
  kMsgAgree = 14,
};

// State written by one side and read by the other. Every member is safe to
// touch from any thread.
struct InstallShared {
  // Set by the install thread before it touches the record: the
  // asynchronous configuration fetch then stops before parsing.
  std::atomic<bool> abandon{false};
  // Set by Try again: the funnel labels say "Retry" instead of "First".
  std::atomic<bool> retry{false};
  // 0 while the installer runs, 1 when it ended or timed out.
  std::atomic<bool> installerFinished{false};
  // 0 lets the window's slow progress timer run (verification), 1 stops it.
  std::atomic<int32_t> slowProgressStop{1};
  // The installer's size as the first progress call gave it.
  std::atomic<int64_t> packageSize{0};
  std::atomic<int32_t> downloadPartIndex{0};
  // tickCount() values.
  std::atomic<uint32_t> startTick{0};
  std::atomic<uint32_t> installClickTick{0};
  std::atomic<uint32_t> verifyStartTick{0};
  std::atomic<uint32_t> downloadDoneTick{0};
  std::atomic<uint32_t> installStartTick{0};
  // The window closed: running downloads end, waits give up.
  std::atomic<bool> closing{false};
  // Signalled when the bar has reached its end after the installer ended
  // (the window's timers), or when the window closes, so the install
  // thread never waits for it forever.
  common::ManualResetEvent progressFinish100;

  const char* firstOrRetry() const { return retry.load() ? "Retry" : "First"; }
  void setUsedUrl(const std::wstring& url) LOCKS_EXCLUDED(mu_) {
    common::MutexLock lock(&mu_);
    usedUrl_ = url;
  }
  std::wstring usedUrl() const LOCKS_EXCLUDED(mu_) {
    common::MutexLock lock(&mu_);
    return usedUrl_;
  }

 private:
  mutable common::Mutex mu_;
  std::wstring usedUrl_ GUARDED_BY(mu_);
};

class IInstallWindow {
 public:
  virtual ~IInstallWindow() = default;

  // --- any thread ---
  // Queues custom message `message` (window_messages.h) for the UI thread.
  virtual void PostInstallMessage(uint32_t message, uintptr_t wparam) = 0;
  // The progress bar's current value, 0-100.
  virtual int GetProgressValue() const = 0;
  // The install folder: the path box with the product-name rule applied.
  virtual std::wstring GetInstallPath() const = 0;
  // Switches the carousel's animation timer (1000) on or off.
  virtual void SetAnimationTimer(bool on) = 0;
  // The download routine's progress (downloader's thread).
  virtual void OnDownloadProgress(int64_t downloaded, int64_t total) = 0;
  // The setup language (an EnumLanguage value) and the product page index
  // (-1: the language's).
  virtual int LanguageIndex() const = 0;
  virtual int ProductPageIndex() const = 0;
  // Stores the setup language for the installed product.
  virtual void WriteProductLanguage() = 0;
  // As a click on start_app: starts the product and closes the window.
  // Called on the install thread when the product starts by itself.
  virtual void ClickStartApp() = 0;
  // Asks the window to close (the automated restart).
  virtual void RequestClose() = 0;

  // --- UI thread ---
  // Shows a modal message box; returns the button (1 = first).
  virtual int ShowMessageBox(EnumMsgType kind) = 0;
  // Writes the path box (the space check moved the folder).
  virtual void SetInstallPathText(const std::wstring& path) = 0;
  // The running page: main_tablayout to page 1, page_layout to the
  // finished page underneath.
  virtual void ShowProgressPage() = 0;
  // The window before the download: 650 x 360 centred, the progress label
  // reset, failure texts hidden, start_app's text, the completed
  // background, timer 1922.
  virtual void PrepareForInstall() = 0;
  // Starts the banner thread unless the banners are loaded.
  virtual void StartBannerThreadIfNeeded() = 0;
};

}  // namespace install

#endif  // WEBSETUP_INSTALL_INSTALL_WINDOW_H_
