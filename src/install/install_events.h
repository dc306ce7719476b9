#ifndef WEBSETUP_INSTALL_INSTALL_EVENTS_H_
#define WEBSETUP_INSTALL_INSTALL_EVENTS_H_

// The telemetry calls of the configuration fetch and the install flow.
// Until the telemetry singleton exists the hooks default to a log line;
// the singleton (or a test) installs real hooks with setInstallEvents().
// Thread-safe; hooks may be called on any thread.

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace install {

using FunnelMembers = std::vector<std::pair<std::string, std::string>>;

struct InstallEvents {
  // AddUserLog_event (category, action, label, bWait).
  std::function<void(const std::string&, const std::string&, const std::string&, bool)> event;
  // AddUserLog_funnelEx (category, action, extra members, bWait, kit flag).
  std::function<void(const std::string&, const std::string&, const FunnelMembers&, bool, bool)>
      funnelEx;
  // AddUserLog_funnelPair (category, action, key, value).
  std::function<void(const std::string&, const std::string&, const std::string&,
                     const std::string&)>
      funnelPair;
};

// Replaces the hooks; an empty hook falls back to a log line.
void setInstallEvents(InstallEvents hooks);
// Restores the logging hooks.
void resetInstallEvents();

void AddUserLog_event(const std::string& category, const std::string& action,
                      const std::string& label, bool wait = false);
void AddUserLog_funnelEx(const std::string& category, const std::string& action,
                         const FunnelMembers& members, bool wait = false, bool kit = false);
void AddUserLog_funnelPair(const std::string& category, const std::string& action,
                           const std::string& key, const std::string& value);

}  // namespace install

#endif  // WEBSETUP_INSTALL_INSTALL_EVENTS_H_
