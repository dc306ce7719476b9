#ifndef WEBSETUP_WINDOW_INSTALL_UI_MAIN_WND_H_
#define WEBSETUP_WINDOW_INSTALL_UI_MAIN_WND_H_

// InstallUIMainWnd: the one setup window of a run. Built from
// InstallMainWnd.xml; it lets the user pick the language and the install
// folder, accept the licence and press Install, shows the running page
// with the progress bar while the install flow downloads and installs, and
// ends on the finished page (Start, or Try again after a failure).
//
// Owned by its runner (run_window.h); lives on the UI thread. It
// implements the install flow's IInstallWindow: the members the flow calls
// from its threads only read copies kept under mu_ or post to the UI
// thread; everything else is UI thread only, which debug builds check
// (uiThread_).

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/mutex.h"
#include "common/thread_checker.h"
#include "common/thread_tools.h"
#include "config/configure.h"
#include "config/label_source.h"
#include "install/install_flow.h"
#include "install/install_window.h"
#include "telemetry/single_user_log.h"
#include "uiframework/controls.h"
#include "uiframework/window.h"
#include "window/banner.h"
#include "window/carousel.h"
#include "window/close_report.h"

namespace window {

// Timer ids of the window.
inline constexpr uint32_t kTimerSlowProgress = 1920;
inline constexpr uint32_t kTimerInstallProgress = 1921;
inline constexpr uint32_t kTimerOneSecond = 1922;
inline constexpr uint32_t kTimerLastProgress = 1923;
inline constexpr uint32_t kTimerAnimation = 1000;
inline constexpr uint32_t kTimerAutoInstall = 666;
inline constexpr uint32_t kTimerAutoRetry = 888;

// What the window takes from the process beyond its layout.
struct WindowEnvironment {
  common::EventSink* events = nullptr;     // never null once built
  install::InstallSettings install;        // the flow's settings
  std::wstring programFilesDir;            // the default install folder's parent
  std::string bannerBase;                  // the banner service (TestEnv: its test host)
  BannerTransport banners;                 // how banners travel; empty: no banners
  bool autoRun = false;                    // developer setting AutoRun
  bool crashTest = false;                  // developer setting CrashTest
  std::string modulePath;                  // the running executable
  std::wstring runTimestamp;
  // The screen size for the log and the once-per-machine events.
  std::function<void(int* width, int* height)> screenSize;
  // Opens a URL or a folder on the desktop.
  std::function<void(const std::wstring& target)> open;
  // Starts the installed product (quoted command line, admin flag): 0 or -1.
  std::function<int(const std::wstring& commandLine, int adminFlag)> startProduct;
  // The folder picker: calls `done` (on any thread) with the chosen folder,
  // or with nullopt when cancelled or unavailable.
  std::function<void(const std::wstring& start,
                     std::function<void(std::optional<std::wstring>)> done)>
      pickFolder;
  // Shows the downloaded file in its folder.
  std::function<void(const std::wstring& path)> showInFolder;
  // Taskbar progress (0-100) and state; may be empty.
  std::function<void(int percent)> taskbarProgress;
  std::function<void(int state)> taskbarState;  // 0 none, 1 normal, 2 error
  // Starts the hidden close-report run with these arguments ("-close02",
  // the log file's name); the default starts this executable detached.
  std::function<void(const std::vector<std::string>& arguments)> startCloseReport;
  // The log file of this run (the close report uploads it).
  std::wstring logFilePath;

  // The process's: telemetry hub, system services, desktop.
  static WindowEnvironment FromProcess();
};

// Taskbar states the window sets.
inline constexpr int kTaskbarNoProgress = 0;
inline constexpr int kTaskbarNormal = 1;
inline constexpr int kTaskbarError = 2;

class InstallUIMainWnd : public ui::WindowImplBase,
                         public install::IInstallWindow,
                         public telemetry::FunnelWindowSource {
 public:
  // `windowClass` is the start-up's class name ("" for the default).
  InstallUIMainWnd(std::wstring windowClass, WindowEnvironment environment);
  ~InstallUIMainWnd() override;

  // --- ui::WindowImplBase ---
  std::string GetWindowClassName() const override;
  std::string GetSkinFolder() const override { return "skin/"; }
  std::string GetSkinFile() const override { return "InstallMainWnd.xml"; }
  void Notify(ui::TNotifyUI& msg) override;

  // --- the window's own operations (UI thread) ---
  int ShowMessageBox(install::EnumMsgType kind) override;
  std::wstring GetInstallPathText() const;
  void SetInstallProgress(int percent);  // any thread: raises only
  void ShowRetryPage();
  void StartProductAndClose();
  void OnDownloadProgress(int64_t downloaded, int64_t total) override;
  // Stops the window's workers and waits for them (the banner thread up
  // to 10 s, the install flow's up to 10 minutes). False when one still
  // runs: the window must then stay until the process ends.
  bool WaitForAllThreadExit();
  // Brings the window to the front (a second instance asked).
  void Activate();
  // The estimate of the installer's run in seconds for `packageSize` bytes.
  static int64_t EstimateInstallSeconds(int64_t packageSize);

  // State for tests and automation.
  int CurrentLanguage() const { return language_.load(); }
  int CloseMode() const { return closeMode_.load(); }
  install::InstallShared& Shared() { return shared_; }
  config::CConfigure* Record() { return record_.get(); }
  install::CInstallFlow* Flow() { return flow_.get(); }

  // The product configuration's label `name` (any thread).
  std::wstring getLabelText(const std::wstring& name) const;

  // --- install::IInstallWindow, any thread ---
  void PostInstallMessage(uint32_t message, uintptr_t wparam) override;
  int GetProgressValue() const override { return progress_.load(); }
  std::wstring GetInstallPath() const override;
  void SetAnimationTimer(bool on) override;
  int LanguageIndex() const override { return language_.load(); }
  int ProductPageIndex() const override { return -1; }
  void WriteProductLanguage() override;
  void ClickStartApp() override;
  void RequestClose() override;
  // --- install::IInstallWindow, UI thread ---
  void SetInstallPathText(const std::wstring& path) override;
  void ShowProgressPage() override;
  void PrepareForInstall() override;
  void StartBannerThreadIfNeeded() override;

  // --- FunnelWindowSource, any thread ---
  std::string SoftwareVersion() const override;
  std::string LanguageWebCode() const override;

 protected:
  void InitWindow() override;
  void OnClick(ui::TNotifyUI& msg) override;
  void OnItemSelect(ui::TNotifyUI& msg) override;
  intptr_t HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  intptr_t HandleCustomMessage(uint32_t message, uintptr_t wparam, intptr_t lparam,
                               bool& handled) override;
  intptr_t OnClose(uint32_t message, uintptr_t wparam, intptr_t lparam, bool& handled) override;
  void OnFinalMessage(ui::WindowHandle handle) override;
  // Alt+F4, Escape and the desktop's close ask as the close button does.
  void OnHostCloseRequest() override;

 private:
  // InitWindow's parts.
  void FindControls();
  void ReadProductConfig();
  // The log lines that say what runs where: the program, the screen, the
  // product configuration asked for.
  void LogWhereItRuns();
  void SendLaunchEvents();
  void ScreenSize(int* width, int* height);
  // Languages.
  void SelectLanguageItem(int language);
  int32_t RecordSiteId() const;
  void ApplyLanguage();
  // Clicks.
  void OnInstallClick();
  void OnStartAppClick();
  void OnAdviceLink();
  void ToggleLowerArea(bool settings);
  void SetLowerAreaOpen(bool open);
  void OnBrowse();
  // While the folder picker is open, Install and Browse take no clicks.
  void SetPickerOpen(bool open);
  // Measures `folder` and shows the space texts; an empty folder re-applies
  // the formats to the kept figures (after a language change).
  void UpdateSpaceLabels(const std::wstring& folder);
  void PressButton(const wchar_t* name);
  // Progress.
  void OnTimer(uint32_t id);
  // The progress bar's timers (the slow creep, the installer's estimate,
  // the last stretch, the first step); false for any other timer.
  bool OnProgressTimer(uint32_t id);
  void ApplyProgressToControls();
  void StartInstallEstimate();
  // Ends timers 1920, 1921 and 1923 (a run has ended).
  void StopProgressTimers();
  void EndOfRun();
  void Taskbar(int state);
  // Closing.
  void OnCloseRequest();
  void ReportClose();
  uint32_t TickOf(DurationStart start) const;
  // Carousel.
  void MakeCarousel();
  void StartCarousel();
  void OnSelectChanged(ui::TNotifyUI& msg) override;

  std::wstring windowClass_;
  WindowEnvironment env_;
  common::EventSink* events_;

  // Controls, looked up once.
  ui::CTabLayoutUI* mainTab_ = nullptr;
  ui::CTabLayoutUI* pageTab_ = nullptr;
  ui::CTabLayoutUI* setTab_ = nullptr;
  ui::CControlUI* closeBtn_ = nullptr;
  ui::CControlUI* minBtn_ = nullptr;
  ui::CCheckBoxUI* licenseCheck_ = nullptr;
  ui::CControlUI* installBtn_ = nullptr;
  ui::CProgressUI* progressBar_ = nullptr;
  ui::CControlUI* progressLabel_ = nullptr;
  ui::CComboUI* languageCombo_ = nullptr;
  ui::CControlUI* pathEdit_ = nullptr;
  ui::CControlUI* startApp_ = nullptr;
  ui::CControlUI* failRetry_ = nullptr;
  ui::CControlUI* failAdvice_ = nullptr;
  ui::CControlUI* warning_ = nullptr;
  ui::CControlUI* startShortcut_ = nullptr;
  ui::CControlUI* background_ = nullptr;

  // Product configuration values.
  int32_t downloaderId_ = 0, siteId_ = 0, languageId_ = 0, gifDuration_ = 0;
  int32_t needStartFlag_ = 0, chooseLicense_ = 0, adminFlag_ = 0, mainPid_ = 0;
  std::wstring softwareName_;
  std::wstring defaultInstallFolder_;
  // Language formats.
  std::wstring progressFormat_, spaceNeedFormat_, spaceFreeFormat_;
  float freeGigabytes_ = 0;

  // Made in InitWindow, before the flow's threads exist; its banner
  // thread ends before it goes.
  std::unique_ptr<Carousel> carousel_;

  std::unique_ptr<config::CConfigure> record_;
  install::InstallShared shared_;
  std::unique_ptr<install::CInstallFlow> flow_;

  std::atomic<int> language_{0};
  std::atomic<int> closeMode_{2};
  std::atomic<int> progress_{0};        // the bar's value; raised by CAS
  std::atomic<bool> labelUpdatePosted_{false};
  bool launching_ = false;
  bool addPackageParameters_ = true;
  bool exeTagFlag_ = true;
  bool settingsOpen_ = false;
  bool licenceOpen_ = false;
  bool startTimeSent_ = false;
  bool lowerOpen_ = false;
  bool pickerOpen_ = false;

  // The product configuration, read from the layout once in InitWindow
  // before the flow exists, then only read (the flow's threads too).
  config::LabelTable productLabels_;
  // A copy of the install path box for the flow's threads.
  mutable common::Mutex mu_;
  std::wstring pathText_ GUARDED_BY(mu_);
  std::atomic<bool> alive_{true};
  // The thread that made the window: its message loop's, the only one that
  // may touch controls, timers' state or the carousel.
  common::ThreadChecker uiThread_;
};

}  // namespace window

#endif  // WEBSETUP_WINDOW_INSTALL_UI_MAIN_WND_H_
