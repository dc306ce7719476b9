#include "app/production_hooks.h"

#include "common/text.h"
#include "common/events.h"
#include "system/system_facts.h"
#include "telemetry/single_user_log.h"

namespace app {

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
    // From here on every module's reports reach the hub.
    common::SetEventSink(&CSingleUserLog::GetInstance());
  };
  hooks.addEvent = [](const std::string& category, const std::string& action,
                      const std::string& label, bool wait) {
    CSingleUserLog::GetInstance().AddUserLog_event(category, action, label, wait);
  };
  hooks.waitTelemetry = [] { CSingleUserLog::GetInstance().WaitThreadForExit(); };
  return hooks;
}

}  // namespace app
