#ifndef WEBSETUP_TELEMETRY_SINGLE_USER_LOG_H_
#define WEBSETUP_TELEMETRY_SINGLE_USER_LOG_H_

// The process-wide telemetry hub. Every module reports through it: each
// event call becomes a GA4 record and/or a funnel record in one of two
// queues, and one sender thread hands the records to the web-log object,
// putting failed ones back up to three times. Calls with bWait true send on
// the caller's thread instead.
//
// It also holds a few process-wide values for other modules: the per-run
// locations of the logging set-up, two integers of the download
// configuration and a URL -> content-length cache.
//
// Thread-safe: every public operation may be called from any thread.

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "common/events.h"
#include "common/mutex.h"
#include "config/run_locations.h"
#include "common/thread_tools.h"
#include "weblog/iweblog.h"

namespace telemetry {

// What the hub reads about this machine and program, once, at construction.
struct TelemetryFacts {
  std::string setupVersion;    // file version of the running program
  std::string modulePath;      // path of the running program
  std::string osName;          // the operating system's name
  bool os64 = false;           // 64-bit operating system
  std::string uiLanguageName;  // "Language_Country" of the UI language
};

// The facts of this process, from the system services.
TelemetryFacts CollectTelemetryFacts();

// One queued report. GA4 records carry category, action and label; funnel
// records carry the JSON text.
struct UserLogRecord {
  std::string json;
  std::string action;
  std::string label;
  std::string category;
  int32_t retry = 0;
};

// What funnel records read from the setup window. Implemented by the
// window; called on the thread that builds a record, without a lock.
class FunnelWindowSource {
 public:
  virtual ~FunnelWindowSource() = default;
  // Software_version of the window's download configuration; empty when it
  // holds none.
  virtual std::string SoftwareVersion() const = 0;
  // Web code of the current language ("en").
  virtual std::string LanguageWebCode() const = 0;
};

// How an instance is made. GetInstance() uses the defaults; tests replace
// the web-log object, the facts, and shorten the waits.
struct SingleUserLogOptions {
  // Developer setting AutoRun: no sender thread; every operation gives -99.
  bool autoRun = false;
  std::function<IWebLog*()> createWebLog = &CreateExportObj;
  std::function<void(IWebLog*)> destroyWebLog = &DestroyExportObj;
  TelemetryFacts facts;
  // Longest wait of WaitThreadForExit for the queues to drain.
  std::chrono::milliseconds exitWait{600000};
  // The sender's pause when both queues are empty.
  std::chrono::milliseconds idlePause{500};
  // Longest wait for a queue's guard; the record is dropped after it.
  std::chrono::milliseconds guardLimit{200};
  // How long the sender may wait for StartSending() before its first
  // request; records queued meanwhile are kept. 0: no wait.
  std::chrono::milliseconds startHold{0};
  // Per-run locations; null: config::processRunLocations().
  const config::RunLocations* runLocations = nullptr;

  // The options of this process: developer settings, system facts, the
  // real web-log object. Also hands the deployment's brand table (services
  // file) to the system services, whose brand label the hits carry.
  static SingleUserLogOptions ForProcess();
};

// Also the process's EventSink: start-up installs the instance with
// common::SetEventSink, and every module's reports arrive here.
class CSingleUserLog : public common::EventSink {
 public:
  // Result of every operation while AutoRun is on.
  static constexpr int kAutoRun = -99;
  // Result of a synchronous send without a web-log object.
  static constexpr int kNoWebLog = -1;

  // The instance of this process, made on the first call (concurrent first
  // calls make one). It is never destroyed: a thread or a static destructor
  // may still raise an event during exit. At process exit (EndOfProcess)
  // it drops its web-log object once the sender has ended; later events
  // are then queued for nobody or answered -1, never sent through freed
  // memory.
  static CSingleUserLog& GetInstance();

  // True once the sender thread has returned (or never ran).
  bool SenderEnded() LOCKS_EXCLUDED(wakeMu_);

  // The at-exit step of the process instance: sets the exit flag and, when
  // the sender has ended, lets the web-log object go (after any send still
  // running on another thread). A sender still running keeps it.
  void EndOfProcess() LOCKS_EXCLUDED(wakeMu_, webLogMu_);

  // A separate instance (tests). Starts the sender thread unless autoRun.
  explicit CSingleUserLog(SingleUserLogOptions options);
  // Stops the sender thread after its current send (queued records are
  // dropped), then destroys the web-log object.
  ~CSingleUserLog() override;
  CSingleUserLog(const CSingleUserLog&) = delete;
  CSingleUserLog& operator=(const CSingleUserLog&) = delete;

  // Start-up values of the records. `productVersion` is not kept. Sets the
  // is-new flag from IsFirstRunToday(). Main thread, once.
  void Init(int siteId, const std::string& productVersion, const std::string& productName,
            const std::string& downloadUrl, bool flag277, int mainPid) LOCKS_EXCLUDED(initMu_);

  // Sets the exit flag and waits (at most the exit wait) for the sender to
  // send everything queued, retries included. When the wait runs out the
  // sender is abandoned: it ends after its current request, and what is
  // still queued is lost; SenderEnded() tells whether it has. Always true.
  bool WaitThreadForExit() LOCKS_EXCLUDED(wakeMu_);

  // Per-run locations (wide copies; empty before the logging set-up).
  std::wstring GetLogFilePath() const;
  std::wstring GetLogDirectory() const;
  std::wstring GetCacheDirectory() const;
  std::wstring GetRunTimestamp() const;

  // Content-length cache of the download engine. Remember ignores an empty
  // URL or a length of 0; Lookup gives 0 for an unknown URL.
  void RememberContentLength(const std::string& url, int64_t length) LOCKS_EXCLUDED(cacheMu_);
  int64_t LookupContentLength(const std::string& url) LOCKS_EXCLUDED(cacheMu_);

  // Integers of the download configuration's answer.
  void SetDownloaderConfig(int32_t value) { downloaderConfig_.store(value); }
  int32_t GetDownloaderConfig() const { return downloaderConfig_.load(); }
  void SetAdditionalTime(int32_t value) { additionalTime_.store(value); }
  int32_t GetAdditionalTime() const { return additionalTime_.load(); }

  // Lets a sender held by the start hold begin (the first frame is out).
  // Any thread; later calls do nothing.
  void StartSending() LOCKS_EXCLUDED(wakeMu_);

  // The setup window, once it exists (null again before it goes).
  void SetMainWindow(const FunnelWindowSource* window) { mainWindow_.store(window); }

  // --- Events. Each returns -99 at once under AutoRun. ---

  // A GA4 event; "Other"/"FlowError" also reports the error code to the
  // data collector. Result of AddUserLog.
  int AddUserLog_event(const std::string& category, const std::string& action,
                       const std::string& label, bool bWait);
  // A GA4 event with the core-function bookkeeping of flow errors. 0 when
  // queued; with bWait the last send result, or -1 without web-log object.
  int AddUserLog(int unused1, const char* action, bool bWait, int unused2, const char* unused3,
                 const char* label, const char* category);
  // A funnel record. Results as AddUserLog, with the collector's result.
  int AddUserLog_funnel(const std::string& eventType, const std::string& coreFuncName,
                        int32_t step, const std::string& category, const std::string& action,
                        const std::string& label, bool bWait, bool kit);
  // A funnel record with extra string members (empty values left out).
  int AddUserLog_funnelEx(const std::string& category, const std::string& action,
                          const std::map<std::string, std::string>& extra, bool bWait, bool kit);
  // AddUserLog_funnelEx with one pair.
  int AddUserLog_funnelPair(bool bWait, bool kit, const std::string& category,
                            const std::string& action, const std::string& key,
                            const std::string& value);

  // --- common::EventSink: the same calls for modules below telemetry. ---
  void Event(const std::string& category, const std::string& action, const std::string& label,
             bool wait) override;
  void Funnel(const std::string& eventType, const std::string& coreFunc, int32_t step,
              const std::string& category, const std::string& action, const std::string& label,
              bool wait, bool kit) override;
  void FunnelEx(const std::string& category, const std::string& action,
                const common::FunnelMembers& members, bool wait, bool kit) override;
  // Keeps Downloader_config and Additional_time; other tags are ignored.
  void ServerInteger(const std::string& tag, int32_t value) override;

  // First start of the day according to galog.json in the log directory.
  bool IsFirstRunToday();
  // Stores the setup version in galog.json.
  void UpdateGalogVersion();

  // Sends one GA4 hit now. -99 AutoRun, -1 no web-log object, else the
  // web-log object's result (0 sent).
  int SendGA4Event(const std::string& category, const std::string& action,
                   const std::string& label);
  // The "&ep.cd1=...&ep.cd8=N" tail of a GA4 event query.
  std::string BuildCustomDimensions() LOCKS_EXCLUDED(initMu_);

  // Derived at construction (exposed for tests).
  const std::string& ExeNameTag() const { return exeNameTag_; }
  const std::string& OsDescription() const { return osDescription_; }

 private:
  // A queue and the guard that must be held (with a time limit) to touch it.
  struct GuardedQueue {
    common::TimedGuard guard;
    std::deque<UserLogRecord> records;  // only while `guard` is held
    std::atomic<size_t> size{0};
  };

  bool TryPush(GuardedQueue* queue, const UserLogRecord& record);
  bool TryPop(GuardedQueue* queue, UserLogRecord* record);
  void PutBack(GuardedQueue* queue, UserLogRecord record, int rc, const char* what);
  void SenderLoop();
  void WaitForWork() LOCKS_EXCLUDED(wakeMu_);
  void WaitForStart() LOCKS_EXCLUDED(wakeMu_);
  void NotifySender() LOCKS_EXCLUDED(wakeMu_);
  std::string BuildFunnelJson(const Json::Value& actions, bool kit) LOCKS_EXCLUDED(initMu_);
  int SendFunnel(const std::string& json, const std::string& category, const std::string& action,
                 bool bWait);
  std::string GalogPath() const;
  // The web-log object, kept alive by the caller's copy while it sends;
  // null once it has been let go.
  std::shared_ptr<IWebLog> WebLogRef() const LOCKS_EXCLUDED(webLogMu_);
  const config::RunLocations& Locations() const;

  const SingleUserLogOptions options_;

  // Derived at construction; read-only afterwards.
  std::string setupVersion_;
  std::string exeNameTag_;
  std::string osDescription_;
  std::string uiLanguage_;
  std::string uiCountry_;

  // Init values: written once by the main thread, read by every thread.
  common::Mutex initMu_;
  int32_t siteId_ GUARDED_BY(initMu_) = 0;
  std::string productName_ GUARDED_BY(initMu_);
  std::string downloadUrl_ GUARDED_BY(initMu_);
  bool flag277_ GUARDED_BY(initMu_) = false;
  int32_t mainPid_ GUARDED_BY(initMu_) = 0;
  bool isNew_ GUARDED_BY(initMu_) = false;

  std::atomic<bool> flowErrorStarted_{false};
  std::atomic<bool> toolkitErrorStarted_{false};
  std::atomic<int32_t> flowErrorStep_{1};
  std::atomic<int32_t> toolkitErrorStep_{1};
  std::atomic<bool> firstFunnel_{true};
  std::atomic<const FunnelWindowSource*> mainWindow_{nullptr};
  std::atomic<int32_t> downloaderConfig_{0};
  std::atomic<int32_t> additionalTime_{0};

  common::Mutex cacheMu_;
  std::map<std::string, int64_t> contentLengths_ GUARDED_BY(cacheMu_);

  mutable common::Mutex webLogMu_;
  // Set at construction; reset at destruction or at the end of the process.
  std::shared_ptr<IWebLog> webLog_ GUARDED_BY(webLogMu_);
  GuardedQueue ga4_;
  GuardedQueue funnel_;
  std::atomic<bool> exit_{false};
  std::atomic<bool> abandon_{false};
  common::Mutex wakeMu_;
  std::condition_variable_any wake_;
  bool senderDone_ GUARDED_BY(wakeMu_) = false;
  bool sendingStarted_ GUARDED_BY(wakeMu_) = false;
  std::condition_variable_any senderDoneCv_;
  std::thread sender_;
};

// The text between the last '_' and the last '.' of the file name of
// `modulePath`; empty when the name has no '_' or no '.' after it.
std::string ExeNameTagOf(const std::string& modulePath);

}  // namespace telemetry

#endif  // WEBSETUP_TELEMETRY_SINGLE_USER_LOG_H_
