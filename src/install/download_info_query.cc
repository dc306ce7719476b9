#include "install/download_info_query.h"

#include <curl/curl.h>

#include "common/events.h"
#include "common/log.h"
#include "config/download_info_url.h"
#include "config/services.h"
#include "engine/libcurl_tool.h"
#include "platform/clock.h"
#include "system/system_facts.h"

namespace install {

namespace {

void reportTransportFailure(int code) {
  if (code == CURLE_COULDNT_RESOLVE_HOST) {
    common::Events().Event("Other", "FlowError", "DL003", false);
  } else if (code == CURLE_OPERATION_TIMEDOUT) {
    common::Events().Event("Other", "FlowError", "DL002", false);
  }
}

int queryLocked(config::CConfigure* record, bool sync, bool cn, const QueryEnvironment& env)
    EXCLUSIVE_LOCKS_REQUIRED(record->fetchMutex()) {
  if (!record->rawAnswer.empty()) return 0;
  const uint32_t start = platform::tickCount();
  // A system that names no version number is not taken for a legacy
  // Windows: it gets the current package.
  float version = config::kModernOsVersion;
  const std::string osName = env.systemName ? env.systemName(&version) : std::string();

  const char* domain = env.testEnv ? "test" : (cn ? "cn" : "com");
  const std::string& base = env.testEnv ? env.testBase : (cn ? env.cnBase : env.comBase);
  record->queryUrl = config::buildQueryUrl(base, record->languageId, record->downloaderId,
                                           record->siteId, version);

  std::string body;
  int code = CURLE_FAILED_INIT;
  {
    engine::CLibcurlTool curl;
    code = curl.httpGet(record->queryUrl.c_str(), body, false);
  }
  reportTransportFailure(code);
  LOG(INFO) << " GetCbsInfo New interface V2(" << (sync ? "Sync " : "Async ") << domain
            << "): " << code << ", " << body.size() << ", " << osName << ", " << version;
  const uint32_t seconds = (platform::tickCount() - start) / 1000;
  common::Events().Event("Other", sync ? "SyncGetCbsTime" : "AsyncGetCbsTime", std::to_string(seconds),
                   false);

  std::string block;
  if (!config::frameDownloaderBlock(body, &block)) return 0;
  record->rawAnswer = std::move(block);
  // Names the host the flag asked for, also when TestEnv sent the request
  // elsewhere: the funnel counts answers per production host.
  common::Events().FunnelEx("Download", "Get download configuration",
                      {{"Download configurationType", "Success"},
                       {"Configuration URL", config::hostOfBaseUrl(cn ? env.cnBase : env.comBase)}},
                      false, false);
  return 1;
}

}  // namespace

QueryEnvironment QueryEnvironment::FromProcess() {
  const config::Services& services = config::processServices();
  QueryEnvironment env;
  env.comBase = services.url(config::service::kUpdateCom);
  env.cnBase = services.url(config::service::kUpdateCn);
  env.testBase = services.url(config::service::kUpdateTest);
  env.testEnv = FuntionImpl::IsTestEnv();
  env.systemName = [](float* version) { return FuntionImpl::GetSystemName(version); };
  return env;
}

int getDownloadInfoXml(config::CConfigure* record, bool sync, bool cn,
                       const QueryEnvironment& env) {
  common::MutexLock lock(record->fetchMutex());
  return queryLocked(record, sync, cn, env);
}

bool RunAsyncConfigurationFetch(config::CConfigure* record, const std::atomic<bool>& abandon,
                                const QueryEnvironment& env) {
  // The lock is taken per step, and the flag read under it: an install
  // thread that has set the flag waits for one request at most, and after
  // it this sequence writes nothing more.
  int result = 0;
  {
    common::MutexLock lock(record->fetchMutex());
    if (abandon.load()) return false;
    result = queryLocked(record, false, false, env);
  }
  if (result != 1) {
    common::MutexLock lock(record->fetchMutex());
    if (abandon.load()) return false;
    queryLocked(record, false, true, env);
  }
  common::MutexLock lock(record->fetchMutex());
  // A block stored by an earlier run also counts: the parse is what is
  // still missing. A filled record is never parsed again, which would
  // append its URLs to the list a second time.
  if (abandon.load() || record->state == config::CConfigure::kFilled) return false;
  return record->parseRawAnswer();
}

void CompleteConfiguration(config::CConfigure* record, const config::ILabelSource& labels,
                           const QueryEnvironment& env) {
  common::MutexLock lock(record->fetchMutex());
  if (record->state == config::CConfigure::kFilled) return;
  if (queryLocked(record, true, false, env) != 1) queryLocked(record, true, true, env);
  // Whatever the parse made of the answer, the labels fill a record it
  // left unfilled.
  (void)record->parseRawAnswer();
  if (record->state != config::CConfigure::kFilled) record->fillFromLabels(labels, true);
}

}  // namespace install
