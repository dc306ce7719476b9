// The event operations: what a call becomes (GA4 record, funnel records,
// the core-function bookkeeping of flow errors) and how it is sent.

#include <cstdio>

#include "common/log.h"
#include "system/system_facts.h"
#include "telemetry/single_user_log.h"

namespace telemetry {

namespace {

constexpr int kSyncAttempts = 3;
constexpr char kGa4Tid[] = "G-Q7RM2XK4PD";

std::string Str(const char* p) { return p == nullptr ? std::string() : std::string(p); }

std::string Styled(const Json::Value& value) {
  Json::StreamWriterBuilder writer;
  return Json::writeString(writer, value);
}

}  // namespace

int CSingleUserLog::AddUserLog_event(const std::string& category, const std::string& action,
                                     const std::string& label, bool bWait) {
  if (options_.autoRun) return kAutoRun;
  if (category == "Other" && action == "FlowError") {
    AddUserLog_funnelPair(bWait, false, "ErrorReporting", "Error", "MainErrorType", label);
  }
  return AddUserLog(0, action.c_str(), bWait, 0, nullptr, label.c_str(), category.c_str());
}

int CSingleUserLog::AddUserLog(int /*unused1*/, const char* actionText, bool bWait,
                               int /*unused2*/, const char* /*unused3*/, const char* labelText,
                               const char* categoryText) {
  if (options_.autoRun) return kAutoRun;
  const std::string action = Str(actionText);
  const std::string label = Str(labelText);
  const std::string category = Str(categoryText);

  // Each error of a run gets its own step number even when errors are
  // raised on several threads at once, hence the atomic counters.
  auto errorRecords = [&](std::atomic<bool>* started, std::atomic<int32_t>* step,
                          const char* coreFunc, bool kit) {
    if (!started->exchange(true)) {
      AddUserLog_funnel("CoreFuncEvent", coreFunc, 0, "Download", "CoreFuncStart", "null", false,
                        false);
    }
    const int32_t n = step->fetch_add(1);
    AddUserLog_funnel("CoreFuncEvent", coreFunc, n, "Download", label, "null", false, kit);
  };
  if (action == "FlowErrorIsChToolKitErrorCode") {
    errorRecords(&toolkitErrorStarted_, &toolkitErrorStep_, "FlowIsChToolKitError", true);
  } else if (action == "FlowError") {
    errorRecords(&flowErrorStarted_, &flowErrorStep_, "FlowError", false);
  } else if (category == "CrashRate" && action == "Close") {
    if (flowErrorStarted_.load()) {
      AddUserLog_funnel("CoreFuncEvent", "FlowError", 0, "Download", "CoreFuncEnd", "null", true,
                        false);
    }
    if (toolkitErrorStarted_.load()) {
      AddUserLog_funnel("CoreFuncEvent", "FlowIsChToolKitError", 0, "Download", "CoreFuncEnd",
                        "null", true, false);
    }
  }

  if (!bWait) {
    UserLogRecord record;
    record.action = action;
    record.label = label;
    record.category = category;
    TryPush(&ga4_, record);  // a record the guard keeps out is dropped
    return 0;
  }
  if (WebLogRef() == nullptr) return kNoWebLog;
  int rc = 0;
  for (int i = 0; i < kSyncAttempts; ++i) {
    rc = SendGA4Event(category, action, label);
    if (rc == 0) return 0;
  }
  LOG(INFO) << " send ga4 fail, bWait = true, retry is max, retcode = " << rc << ", " << category
            << "###" << action;
  return rc;
}

std::string CSingleUserLog::BuildFunnelJson(const Json::Value& actions, bool kit) {
  if (firstFunnel_.exchange(false)) UpdateGalogVersion();
  const FunnelWindowSource* window = mainWindow_.load();
  Json::Value root(Json::objectValue);
  common::MutexLock lock(&initMu_);
  root["is_new"] = isNew_ ? 1 : 0;
  root["brand"] = "PC";
  root["model"] = "PC";
  root["product"] = productName_;
  root["product_version"] = window != nullptr ? window->SoftwareVersion() : std::string();
  root["email"] = "";
  root["phone"] = "";
  root["cross_end_id"] = exeNameTag_;
  root["rnclid"] = exeNameTag_;
  root["source_type"] = "downloader";
  root["tools_version"] = setupVersion_;
  root["tools_lang"] = window != nullptr ? window->LanguageWebCode() : std::string();
  root["kit_type"] = kit ? 2 : (flag277_ ? 1 : 0);
  root["actions"] = actions;
  root["pid"] = mainPid_;
  return Styled(root);
}

int CSingleUserLog::SendFunnel(const std::string& json, const std::string& category,
                               const std::string& action, bool bWait) {
  if (!bWait) {
    UserLogRecord record;
    record.json = json;
    TryPush(&funnel_, record);
    return 0;
  }
  const std::shared_ptr<IWebLog> webLog = WebLogRef();
  if (webLog == nullptr) return kNoWebLog;
  int rc = 0;
  for (int i = 0; i < kSyncAttempts; ++i) {
    rc = webLog->SoftDataReport(json.c_str());
    if (rc == 0) return 0;
  }
  LOG(INFO) << " send funnel fail, bWait = true, retry is max, retcode = " << rc << ", "
            << category << "###" << action;
  return rc;
}

int CSingleUserLog::AddUserLog_funnel(const std::string& eventType,
                                      const std::string& coreFuncName, int32_t step,
                                      const std::string& category, const std::string& action,
                                      const std::string& label, bool bWait, bool kit) {
  if (options_.autoRun) return kAutoRun;
  Json::Value actions(Json::objectValue);
  actions["event_category"] = category;
  actions["event_action"] = action;
  actions["event_label"] = label;
  if (!coreFuncName.empty()) {
    actions["core_func_name"] = coreFuncName;
    actions["func_step"] = step;
  }
  actions["event_type"] = eventType.empty() ? std::string("event") : eventType;
  return SendFunnel(BuildFunnelJson(actions, kit), category, action, bWait);
}

int CSingleUserLog::AddUserLog_funnelEx(const std::string& category, const std::string& action,
                                        const std::map<std::string, std::string>& extra,
                                        bool bWait, bool kit) {
  if (options_.autoRun) return kAutoRun;
  Json::Value actions(Json::objectValue);
  actions["event_type"] = "event";
  actions["event_category"] = category;
  actions["event_action"] = action;
  for (const auto& [key, value] : extra) {
    if (!value.empty()) actions[key] = value;
  }
  return SendFunnel(BuildFunnelJson(actions, kit), category, action, bWait);
}

int CSingleUserLog::AddUserLog_funnelPair(bool bWait, bool kit, const std::string& category,
                                          const std::string& action, const std::string& key,
                                          const std::string& value) {
  if (options_.autoRun) return kAutoRun;
  return AddUserLog_funnelEx(category, action, {{key, value}}, bWait, kit);
}

std::string CSingleUserLog::BuildCustomDimensions() {
  int32_t siteId;
  std::string productName, downloadUrl;
  bool flag277;
  {
    common::MutexLock lock(&initMu_);
    siteId = siteId_;
    productName = productName_;
    downloadUrl = downloadUrl_;
    flag277 = flag277_;
  }
  return "&ep.cd1=" + setupVersion_ + "&ep.cd2=" + FuntionImpl::GetSiteTrafficType(siteId) +
         "&ep.cd3=" + FuntionImpl::GetBrandLabel(siteId, downloadUrl) + "&ep.cd4=" + productName +
         "&ep.cd5=" + uiCountry_ + "&ep.cd6=" + uiLanguage_ + "&ep.cd7=" + osDescription_ +
         "&ep.cd8=" + (flag277 ? "0" : "1");
}

int CSingleUserLog::SendGA4Event(const std::string& category, const std::string& action,
                                 const std::string& label) {
  if (options_.autoRun) return kAutoRun;
  const std::shared_ptr<IWebLog> webLog = WebLogRef();
  if (webLog == nullptr) return kNoWebLog;
  // Composed without a fixed-size buffer, so a long label is never cut.
  const std::string query = std::string("&tid=") + kGa4Tid +
                            "&ep.qm_productname=Downloader&ep.qm_productversion=" + setupVersion_ +
                            "&ep.qm_category=" + category + "&ep.qm_action=" + action +
                            "&ep.qm_label=" + label + "&en=" + action + BuildCustomDimensions();
  return webLog->SendGa4Event(query.c_str());
}

void CSingleUserLog::Event(const std::string& category, const std::string& action,
                           const std::string& label, bool wait) {
  (void)AddUserLog_event(category, action, label, wait);
}

void CSingleUserLog::Funnel(const std::string& eventType, const std::string& coreFunc,
                            int32_t step, const std::string& category, const std::string& action,
                            const std::string& label, bool wait, bool kit) {
  (void)AddUserLog_funnel(eventType, coreFunc, step, category, action, label, wait, kit);
}

void CSingleUserLog::FunnelEx(const std::string& category, const std::string& action,
                              const common::FunnelMembers& members, bool wait, bool kit) {
  const std::map<std::string, std::string> extra(members.begin(), members.end());
  (void)AddUserLog_funnelEx(category, action, extra, wait, kit);
}

void CSingleUserLog::ServerInteger(const std::string& tag, int32_t value) {
  if (tag == "Downloader_config") {
    SetDownloaderConfig(value);
  } else if (tag == "Additional_time") {
    SetAdditionalTime(value);
  }
}

}  // namespace telemetry
