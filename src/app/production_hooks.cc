#include "app/production_hooks.h"

#include "common/text.h"
#include "engine/engine_events.h"
#include "install/telemetry_binding.h"
#include "system/system_facts.h"
#include "telemetry/single_user_log.h"
#include "telemetry/system_events.h"

namespace app {

namespace {

// The engine's events go to telemetry, every one without waiting and
// without the kit flag. Progress stays with the window, which registers
// itself when it exists.
void bindEngineToTelemetry() {
  engine::EngineEvents events;
  events.event = [](const std::string& category, const std::string& action,
                    const std::string& label, bool wait) {
    CSingleUserLog::GetInstance().AddUserLog_event(category, action, label, wait);
  };
  events.funnelPair = [](const std::string& category, const std::string& action,
                         const std::string& key, const std::string& value) {
    CSingleUserLog::GetInstance().AddUserLog_funnelPair(false, false, category, action, key, value);
  };
  // The cache of sizes lives with the other per-run state of telemetry.
  events.rememberContentLength = [](const std::string& url, int64_t length) {
    CSingleUserLog::GetInstance().RememberContentLength(url, length);
  };
  events.lookupContentLength = [](const std::string& url) {
    return CSingleUserLog::GetInstance().LookupContentLength(url);
  };
  engine::setEngineEvents(std::move(events));
}

}  // namespace

StartupHooks ProductionStartupHooks() {
  StartupHooks hooks = DefaultStartupHooks();
  hooks.bestDrive = [](const std::wstring& path) { return FuntionImpl::GetBestDrivePath(path); };
  hooks.authoriseFirewall = [](const std::string& modulePath) {
    // A failure is only printed by the firewall routine itself.
    (void)FuntionImpl::AuthorizeInFirewall(common::utf8ToWide(modulePath));
  };
  hooks.initTelemetry = [](const TelemetryInit& init) {
    CSingleUserLog::GetInstance().Init(init.siteId, init.productVersion, init.productName,
                                                  init.downloadUrl, init.flag277or278, init.mainPid);
    install::ConnectTelemetry();
    bindEngineToTelemetry();
    telemetry::ConnectSystemEvents();
  };
  hooks.addEvent = [](const std::string& category, const std::string& action,
                      const std::string& label, bool wait) {
    CSingleUserLog::GetInstance().AddUserLog_event(category, action, label, wait);
  };
  hooks.waitTelemetry = [] { CSingleUserLog::GetInstance().WaitThreadForExit(); };
  return hooks;
}

}  // namespace app
