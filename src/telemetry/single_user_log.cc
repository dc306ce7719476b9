#include "telemetry/single_user_log.h"

#include <cstdlib>

#include "common/log.h"
#include "common/thread_tools.h"
#include "common/text.h"
#include "config/services.h"
#include "platform/dev_settings.h"
#include "platform/paths.h"
#include "system/file_trust.h"
#include "system/system_facts.h"
#include "telemetry/galog.h"

namespace telemetry {

namespace {

constexpr int kIdentityAttempts = 3;
constexpr int kMaxRetries = 3;

CSingleUserLog* processInstance = nullptr;

void EndProcessInstance() { processInstance->EndOfProcess(); }

}  // namespace

std::string ExeNameTagOf(const std::string& modulePath) {
  const size_t slash = modulePath.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
  const size_t underscore = name.rfind('_');
  const size_t dot = name.rfind('.');
  if (underscore == std::string::npos || dot == std::string::npos || dot < underscore) {
    return std::string();
  }
  return name.substr(underscore + 1, dot - underscore - 1);
}

TelemetryFacts CollectTelemetryFacts() {
  TelemetryFacts facts;
  facts.modulePath = platform::modulePath();
  facts.setupVersion = FuntionImpl::GetFileVersion(common::utf8ToWide(facts.modulePath));
  float unusedNumber = 0.0f;
  facts.osName = FuntionImpl::GetSystemName(&unusedNumber);
  facts.os64 = FuntionImpl::IsSystem64Bit();
  facts.uiLanguageName = FuntionImpl::GetSystemLanguageName();
  return facts;
}

SingleUserLogOptions SingleUserLogOptions::ForProcess() {
  FuntionImpl::SetBrandTable(config::processServices().brands());
  SingleUserLogOptions options;
  options.autoRun = platform::readDevSettings().autoRun;
  options.facts = CollectTelemetryFacts();
  // The identity request and the first hits would take the CPU the first
  // frame needs; start-up releases the sender once that frame is out.
  options.startHold = std::chrono::milliseconds(3000);
  return options;
}

CSingleUserLog& CSingleUserLog::GetInstance() {
  static CSingleUserLog* const instance = [] {
    // Never deleted: a late event at exit must still find a live object.
    processInstance = new CSingleUserLog(SingleUserLogOptions::ForProcess());
    std::atexit(&EndProcessInstance);
    return processInstance;
  }();
  return *instance;
}

CSingleUserLog::CSingleUserLog(SingleUserLogOptions options) : options_(std::move(options)) {
  const TelemetryFacts& facts = options_.facts;
  setupVersion_ = facts.setupVersion;
  exeNameTag_ = ExeNameTagOf(facts.modulePath);
  osDescription_ = facts.osName + (facts.os64 ? " 64bit" : " 32bit");
  const size_t underscore = facts.uiLanguageName.find('_');
  uiLanguage_ = facts.uiLanguageName.substr(0, underscore);
  if (underscore != std::string::npos) uiCountry_ = facts.uiLanguageName.substr(underscore + 1);
  if (options_.createWebLog) {
    if (IWebLog* created = options_.createWebLog()) {
      webLog_ = std::shared_ptr<IWebLog>(created, [destroy = options_.destroyWebLog](IWebLog* p) {
        if (destroy) destroy(p);
      });
    }
  }
  if (options_.autoRun) {
    senderDone_ = true;
    return;
  }
  sender_ = common::StartThread([this] { SenderLoop(); });
}

CSingleUserLog::~CSingleUserLog() {
  abandon_.store(true);
  exit_.store(true);
  NotifySender();
  if (sender_.joinable()) sender_.join();
  std::shared_ptr<IWebLog> webLog;
  {
    common::MutexLock lock(&webLogMu_);
    webLog.swap(webLog_);
  }
}

bool CSingleUserLog::SenderEnded() {
  common::MutexLock lock(&wakeMu_);
  return senderDone_;
}

void CSingleUserLog::EndOfProcess() {
  exit_.store(true);
  NotifySender();
  // A sender still in a request uses the object: the process ending takes
  // both.
  if (!SenderEnded()) {
    LOG(INFO) << " CSingleUserLog sender still running at exit; left in place";
    return;
  }
  std::shared_ptr<IWebLog> webLog;
  {
    common::MutexLock lock(&webLogMu_);
    webLog.swap(webLog_);
  }
  // Destroyed here, or by the last synchronous send still holding it.
}

std::shared_ptr<IWebLog> CSingleUserLog::WebLogRef() const {
  common::MutexLock lock(&webLogMu_);
  return webLog_;
}

void CSingleUserLog::Init(int siteId, const std::string& /*productVersion*/,
                          const std::string& productName, const std::string& downloadUrl,
                          bool flag277, int mainPid) {
  const bool isNew = IsFirstRunToday();
  common::MutexLock lock(&initMu_);
  siteId_ = siteId;
  productName_ = productName;
  downloadUrl_ = downloadUrl;
  flag277_ = flag277;
  mainPid_ = mainPid;
  isNew_ = isNew;
}

bool CSingleUserLog::WaitThreadForExit() {
  LOG(INFO) << " CSingleUserLog WaitThreadForExit";
  exit_.store(true);
  NotifySender();
  if (!sender_.joinable()) return true;
  bool ended;
  {
    common::MutexLock lock(&wakeMu_);
    const auto done = [this]() EXCLUSIVE_LOCKS_REQUIRED(wakeMu_) { return senderDone_; };
    ended = senderDoneCv_.wait_for(wakeMu_, options_.exitWait, done);
  }
  if (ended) {
    sender_.join();
  } else {
    // Whatever is still queued would keep it sending while the process
    // tears down under it: it stops after the request it is in.
    abandon_.store(true);
    LOG(INFO) << " CSingleUserLog sender did not drain in time; abandoned after its current request";
  }
  return true;
}

const config::RunLocations& CSingleUserLog::Locations() const {
  return options_.runLocations != nullptr ? *options_.runLocations
                                          : config::processRunLocations();
}

std::wstring CSingleUserLog::GetLogFilePath() const { return Locations().getLogFilePath(); }
std::wstring CSingleUserLog::GetLogDirectory() const { return Locations().getLogDirectory(); }
std::wstring CSingleUserLog::GetCacheDirectory() const { return Locations().getCacheDirectory(); }
std::wstring CSingleUserLog::GetRunTimestamp() const { return Locations().getRunTimestamp(); }

void CSingleUserLog::RememberContentLength(const std::string& url, int64_t length) {
  if (url.empty() || length == 0) return;
  common::MutexLock lock(&cacheMu_);
  contentLengths_[url] = length;
}

int64_t CSingleUserLog::LookupContentLength(const std::string& url) {
  if (url.empty()) return 0;
  common::MutexLock lock(&cacheMu_);
  auto it = contentLengths_.find(url);
  return it == contentLengths_.end() ? 0 : it->second;
}

std::string CSingleUserLog::GalogPath() const {
  const std::wstring dir = GetLogDirectory();
  if (dir.empty()) return std::string();
  return common::wideToUtf8(dir) + "/galog.json";
}

bool CSingleUserLog::IsFirstRunToday() {
  const std::string path = GalogPath();
  // Before the logging set-up there is no place for the file: every start
  // then counts as the first of the day.
  if (path.empty()) return true;
  return IsFirstRunTodayAt(path, platform::localTime());
}

void CSingleUserLog::UpdateGalogVersion() {
  const std::string path = GalogPath();
  if (!path.empty()) UpdateGalogVersionAt(path, setupVersion_);
}

// --- Queues and the sender thread ---

bool CSingleUserLog::TryPush(GuardedQueue* queue, const UserLogRecord& record) {
  if (!queue->guard.TryAcquire(options_.guardLimit)) return false;
  queue->records.push_back(record);
  queue->size.store(queue->records.size());
  queue->guard.Release();
  NotifySender();
  return true;
}

bool CSingleUserLog::TryPop(GuardedQueue* queue, UserLogRecord* record) {
  if (!queue->guard.TryAcquire(options_.guardLimit)) return false;
  const bool any = !queue->records.empty();
  if (any) {
    *record = std::move(queue->records.front());
    queue->records.pop_front();
    queue->size.store(queue->records.size());
  }
  queue->guard.Release();
  return any;
}

void CSingleUserLog::PutBack(GuardedQueue* queue, UserLogRecord record, int rc,
                             const char* what) {
  if (record.retry < kMaxRetries) {
    if (!queue->guard.TryAcquire(options_.guardLimit)) return;  // dropped
    ++record.retry;
    queue->records.push_back(record);
    queue->size.store(queue->records.size());
    queue->guard.Release();
  }
  if (record.retry == kMaxRetries) {
    LOG(INFO) << " send " << what << " fail in " << what << " queue, retry is max, retcode = " << rc
              << ", " << record.category << "###" << record.action;
  }
}

void CSingleUserLog::StartSending() {
  common::MutexLock lock(&wakeMu_);
  sendingStarted_ = true;
  wake_.notify_all();
}

void CSingleUserLog::WaitForStart() {
  if (options_.startHold.count() <= 0) return;
  common::MutexLock lock(&wakeMu_);
  wake_.wait_for(wakeMu_, options_.startHold, [this]() EXCLUSIVE_LOCKS_REQUIRED(wakeMu_) {
    return sendingStarted_ || exit_.load() || abandon_.load();
  });
}

void CSingleUserLog::NotifySender() {
  common::MutexLock lock(&wakeMu_);
  wake_.notify_all();
}

// The idle pause of a pass that found both queues empty; a push or the
// exit flag ends it early.
void CSingleUserLog::WaitForWork() {
  common::MutexLock lock(&wakeMu_);
  wake_.wait_for(wakeMu_, options_.idlePause, [this] {
    return exit_.load() || ga4_.size.load() != 0 || funnel_.size.load() != 0;
  });
}

void CSingleUserLog::SenderLoop() {
  WaitForStart();
  try {
    if (const std::shared_ptr<IWebLog> webLog = WebLogRef()) {
      for (int i = 0; i < kIdentityAttempts && !abandon_.load(); ++i) {
        const char* guid = nullptr;
        const char* userId = nullptr;
        webLog->GetUserIdentity(&guid, &userId);
        if (guid != nullptr || userId != nullptr) break;
      }
    }
    while (!abandon_.load()) {
      if (ga4_.size.load() == 0 && funnel_.size.load() == 0) {
        if (exit_.load()) break;
        WaitForWork();
        continue;
      }
      UserLogRecord record;
      if (ga4_.size.load() != 0 && TryPop(&ga4_, &record) && WebLogRef() != nullptr) {
        const int rc = SendGA4Event(record.category, record.action, record.label);
        if (rc != 0) PutBack(&ga4_, std::move(record), rc, "ga4");
      }
      if (abandon_.load()) break;
      if (funnel_.size.load() != 0 && TryPop(&funnel_, &record)) {
        if (const std::shared_ptr<IWebLog> webLog = WebLogRef()) {
          const int rc = webLog->SoftDataReport(record.json.c_str());
          if (rc != 0) PutBack(&funnel_, std::move(record), rc, "funnel");
        }
      }
    }
  } catch (...) {
    LOG(INFO) << " CSingleUserLog sender stopped by an exception";
  }
  common::MutexLock lock(&wakeMu_);
  senderDone_ = true;
  senderDoneCv_.notify_all();
}

}  // namespace telemetry
