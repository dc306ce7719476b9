#include "install/telemetry_binding.h"

#include <map>

#include "config/configure.h"
#include "install/install_events.h"
#include "telemetry/single_user_log.h"

namespace install {

void ConnectTelemetry() {
  InstallEvents hooks;
  hooks.event = [](const std::string& category, const std::string& action,
                   const std::string& label, bool wait) {
    CSingleUserLog::GetInstance().AddUserLog_event(category, action, label, wait);
  };
  hooks.funnelEx = [](const std::string& category, const std::string& action,
                      const FunnelMembers& members, bool wait, bool kit) {
    const std::map<std::string, std::string> extra(members.begin(), members.end());
    CSingleUserLog::GetInstance().AddUserLog_funnelEx(category, action, extra, wait, kit);
  };
  hooks.funnelPair = [](const std::string& category, const std::string& action,
                        const std::string& key, const std::string& value) {
    CSingleUserLog::GetInstance().AddUserLog_funnelPair(false, false, category, action, key,
                                                        value);
  };
  setInstallEvents(std::move(hooks));
  config::setServerIntegerSink([](const std::string& tag, int32_t value) {
    if (tag == "Downloader_config") {
      CSingleUserLog::GetInstance().SetDownloaderConfig(value);
    } else if (tag == "Additional_time") {
      CSingleUserLog::GetInstance().SetAdditionalTime(value);
    }
  });
}

}  // namespace install
