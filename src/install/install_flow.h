#ifndef WEBSETUP_INSTALL_INSTALL_FLOW_H_
#define WEBSETUP_INSTALL_INSTALL_FLOW_H_

// The road of one installation from the Install click to the installed
// product: the pre-install checks (window thread), the install thread
// (configuration, URL, cache, up to twelve download attempts,
// verification, the installer run and its completion), the asynchronous
// configuration fetch, cache clearing and the shutdown wait.
//
// Owned by the setup window (one per window), which implements
// IInstallWindow. The window thread calls BeginInstallTask, StartAsyncFetch,
// ClearAPPData and WaitForAllThreadExit; the threads the flow starts call
// back only through IInstallWindow's "any thread" members. The destructor
// requires WaitForAllThreadExit to have returned.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/thread_tools.h"
#include "config/configure.h"
#include "config/label_source.h"
#include "install/download_info_query.h"
#include "install/error_report.h"
#include "install/install_window.h"
#include "install/installer_cache.h"
#include "platform/clock.h"
#include "platform/held_file.h"
#include "platform/process.h"

namespace install {

// What the flow takes from the process; FromProcess() gives the real
// values, tests replace what they must.
struct InstallSettings {
  std::wstring cacheDir;  // the download cache (logging set-up)
  std::wstring logDir;    // where the installer's log goes
  QueryEnvironment query;
  ReportEnvironment reports;
  bool autoRun = false;   // developer setting AutoRun
  // Pass the executable's own name as /sptrack (the window sets it).
  bool exeTagFlag = true;
  std::string modulePath;  // the running executable
  // Free bytes for the caller on the volume of `path`; false when the
  // query fails (which counts as enough space).
  std::function<bool(const std::string& path, uint64_t* freeBytes)> freeSpace;
  // Moves a path onto the best local drive.
  std::function<std::wstring(const std::wstring&)> bestDrive;
  // True when the file carries a valid signature of the maker.
  std::function<bool(const std::wstring& path)> verifySignature;
  // Opens a URL in the user's browser.
  std::function<void(const std::wstring& url)> openUrl;
  // Releases the single-instance lock before the automated restart.
  std::function<void()> releaseInstanceLock;
  // Starts the executable again (the automated restart); its result is
  // only logged.
  std::function<int(const std::string& path)> restartSelf;
  // The product services the flow stops before installing, by software id.
  std::function<int(const std::string& service)> stopService;
  // Pending file renames of the system (PendingFileRenameOperations).
  std::function<std::vector<std::string>()> pendingRenames;
  // Folders where a private copy of the verified installer may run when
  // the cache's volume does not allow programs (first that does).
  std::vector<std::string> runFolders;
  // Download attempts (12) and the engine's knobs.
  int downloadAttempts = 12;
  int downloadThreads = 0;

  static InstallSettings FromProcess();
};

// Results of InstallThreadFunc.
inline constexpr uint32_t kInstallRan = 0;
inline constexpr uint32_t kPackageOnly = 1;
inline constexpr uint32_t kInstallFailed = 0xFFFFFFFF;

// The longest command line the installer is started with, in characters.
inline constexpr size_t kMaxCommandLine = 1023;

class CInstallFlow {
 public:
  // `labels` serves the embedded product configuration; it outlives the
  // flow and is read from its threads.
  CInstallFlow(config::CConfigure* record, IInstallWindow* window,
               const config::ILabelSource* labels, InstallShared* shared, common::EventSink* events,
               InstallSettings settings);
  ~CInstallFlow();
  CInstallFlow(const CInstallFlow&) = delete;
  CInstallFlow& operator=(const CInstallFlow&) = delete;

  // --- window thread ---
  // The Install click's checks; on success the window shows its running
  // page and the install thread starts. Returns 0 started, -1 refused.
  [[nodiscard]] int BeginInstallTask();
  // True when no process of the product's name runs; else message box 3.
  bool AppIsRunning();
  // Space, install folder, pending renames; then the progress page.
  bool PreDownloadChecks();
  // 1 enough space, -1 the cache drive is short, -2 the install drive is
  // short; *freeBytes then holds the short drive's free bytes.
  [[nodiscard]] int EnoughFreeSpace(bool flag, int64_t size, uint64_t* freeBytes);
  // Stops the product service of the record's software id: 0 done or
  // nothing to do, 2 not opened, 3 status not read, 4 stop refused.
  [[nodiscard]] int StopProductService();

  // What the click's checks read of the record. The asynchronous fetch
  // may be writing it meanwhile; a fetch holding the lock means the answer
  // is not in yet, and the checks see the embedded configuration.
  struct RecordFacts {
    bool fromServer = false;  // filled from the server's answer
    int64_t fileSize = 0;
    int32_t softwareId = 0;
    std::wstring processName;
  };
  RecordFacts FactsForChecks() const;
  // True when `directory` + '/' occurs in a pending rename.
  bool PendingRenameNames(const std::wstring& directory) const;
  // Starts the asynchronous configuration fetch.
  void StartAsyncFetch();
  // Waits up to 10 minutes in all for the threads the flow started.
  // Returns how many still run (0: all have ended).
  [[nodiscard]] int WaitForAllThreadExit();

  // --- any thread ---
  // Deletes the installer, its task file and its hash record. The window's
  // thread passes mayWait false (see InstallerPath).
  void ClearAPPData(bool mayWait = true);
  // Logs the proxy settings; 0 none, else 1/2/3 for the last one present.
  int GetIEProxyConfig();
  // The window is closing: running downloads and waits end.
  void OnWindowClosing();

  // The install thread's body, public for tests (which run it directly).
  uint32_t InstallThreadFunc();
  void AsyncGetCbsInfoThreadFunc();

  // --- rules over the record, any thread ---
  // The installer's files in the cache (installer_cache.h), named from the
  // embedded Extra_download_url and the record's version, read under the
  // record's lock. With mayWait false (the window's thread, which never
  // waits for a fetch in flight) a record being filled gives the embedded
  // configuration's version and URL instead.
  InstallerFiles FilesOfRecord(bool mayWait = true) const;
  std::wstring InstallerPath(bool mayWait = true) const;
  // The record's extra download URL names an installer program (or
  // nothing), read as FilesOfRecord reads it.
  bool ExtraUrlIsExe(bool mayWait = true) const;
  // The installed product's executable: install folder + process name,
  // else the first of that name in its subfolders; empty when unfilled.
  std::wstring ProductExePath() const;
  // The installer's switches, one element each: no text from the server
  // or the user can add, remove or split one.
  std::vector<std::wstring> BuildInstallerArguments(const platform::LocalTime& now) const;
  // The same switches as one line for the log and the length limit
  // (begins with a space).
  std::wstring BuildInstallerCommandLine(const platform::LocalTime& now) const;

 private:
  // The record's version and extra URL (see FilesOfRecord).
  void RecordNames(bool mayWait, std::wstring* version, std::wstring* extraUrl) const;
  void ClearInstallerFiles(const InstallerFiles& files);

  // The install thread's steps, in their order.
  [[nodiscard]] uint32_t InstallThreadBody();
  void CompleteTheConfiguration();
  // The URL to download from; empty when there is none (the failure is
  // reported and posted).
  std::wstring ChooseDownloadUrl();
  // The hash record decides what stays of an earlier download.
  void PrepareCache(const InstallerFiles& files);
  [[nodiscard]] int DownloadWithRetries(const std::wstring& url, const std::wstring& path);
  // The download's end events; returns the tick of its end.
  uint32_t ReportDownloadEnd(uint32_t downloadStart);
  void ReportDownloadSuccess(const std::wstring& used);
  // MD5 and signature of the held installer, with their events and error
  // report. True when the signature is the maker's (it decides).
  [[nodiscard]] bool VerifyInstaller(const InstallerFiles& files, const platform::HeldFile& held);
  // After a successful verification of the installer, which is held open
  // from its check to its start.
  [[nodiscard]] uint32_t RunInstaller(uint32_t downloadEnd, const InstallerFiles& files,
                                      const platform::HeldFile& held);
  // Starts the installer and waits for it within the time limit. nullptr
  // when it ended (its code in *exitCode), else the flow error to end with.
  const char* StartAndWait(const InstallerFiles& files, const platform::HeldFile& held,
                           const platform::LocalTime& now, int* exitCode);
  // Starts the held installer; when its volume may not start programs, a
  // private copy on one that may. *copyFolder names the copy's folder.
  platform::PlatformResult StartInstaller(const platform::HeldFile& installer,
                                          platform::SpawnOptions spawn, int* pid, int* osError,
                                          std::string* copyFolder);
  void ReportInstallerSucceeded();
  // The product page of the chosen language, in the browser.
  void OpenProductPage();
  // The automated run starts the setup again once it has installed.
  void RestartForAutomatedRun(const InstallerFiles& files);
  // The end of a failed installer run: as a time-out, without waiting for
  // the progress bar.
  [[nodiscard]] uint32_t EndAsTimedOut(const char* why);
  void Flow(const char* code);
  void Funnel(const std::string& coreFunc, int32_t step, const std::string& category,
              const std::string& action);

  config::CConfigure* record_;
  IInstallWindow* window_;
  const config::ILabelSource* labels_;
  InstallShared* shared_;
  common::EventSink* events_;
  InstallSettings settings_;
  RecordFacts facts_;  // window thread: taken at each Install click
  common::CThreadHandle asyncThread_;
  common::CThreadHandle installThread_;
};

// The language switch of the installer for `languageIndex`: "jp" instead
// of "ja" for the downloader ids that expect it.
std::wstring InstallerLanguageCode(int languageIndex, int32_t downloaderId);
// The product page control name of `index`, empty outside the table.
std::wstring ProductPageControl(int index);
// The /sptrack tag: the executable's file name when `useTag` and it holds
// '_', else "null".
std::wstring ExecutableTag(const std::string& modulePath, bool useTag);
// The installer's log file name for the product `softwareName` at `now`;
// characters a file name may not hold become '_'.
std::wstring InstallerLogName(const std::wstring& softwareName, const platform::LocalTime& now);
// The product service of a software id ("" for none).
std::string ProductServiceOf(int32_t softwareId);
// The installer ended well: exit code 0, or 8 (restart needed).
bool InstallerSucceeded(int exitCode);

}  // namespace install

#endif  // WEBSETUP_INSTALL_INSTALL_FLOW_H_
