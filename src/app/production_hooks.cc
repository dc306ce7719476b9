#include "app/production_hooks.h"

#include "common/text.h"
#include "common/events.h"
#include "system/system_facts.h"
#include "app/startup.h"
#include "telemetry/single_user_log.h"
#include "window/run_window.h"

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
  hooks.runWindow = [](const std::wstring& windowClass,
                       const std::function<void(std::function<void()>)>& setActivationHandler) {
    window::ProcessWindowRunner().Run(windowClass, setActivationHandler, [] {
      if (platform::InstanceLock* lock = SingleInstanceLock()) lock->release();
    });
  };
  hooks.waitWindowThreads = [] { window::ProcessWindowRunner().WaitThreads(); };
  return hooks;
}

}  // namespace app
