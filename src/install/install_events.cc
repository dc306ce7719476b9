#include "install/install_events.h"

#include <mutex>

#include "common/log.h"

namespace install {

namespace {

std::mutex hooksMu;

InstallEvents& hooks() {
  static InstallEvents current;
  return current;
}

InstallEvents currentHooks() {
  std::lock_guard<std::mutex> lock(hooksMu);
  return hooks();
}

}  // namespace

void setInstallEvents(InstallEvents next) {
  std::lock_guard<std::mutex> lock(hooksMu);
  hooks() = std::move(next);
}

void resetInstallEvents() { setInstallEvents(InstallEvents()); }

void AddUserLog_event(const std::string& category, const std::string& action,
                      const std::string& label, bool wait) {
  // Called outside the lock: a hook may queue, block briefly or log.
  const InstallEvents h = currentHooks();
  if (h.event) {
    h.event(category, action, label, wait);
    return;
  }
  LOG(INFO) << " event: " << category << ", " << action << ", " << label;
}

void AddUserLog_funnelEx(const std::string& category, const std::string& action,
                         const FunnelMembers& members, bool wait, bool kit) {
  const InstallEvents h = currentHooks();
  if (h.funnelEx) {
    h.funnelEx(category, action, members, wait, kit);
    return;
  }
  std::string text;
  for (const auto& [key, value] : members) text += ", " + key + "=" + value;
  LOG(INFO) << " funnel: " << category << ", " << action << text;
}

void AddUserLog_funnelPair(const std::string& category, const std::string& action,
                           const std::string& key, const std::string& value) {
  const InstallEvents h = currentHooks();
  if (h.funnelPair) {
    h.funnelPair(category, action, key, value);
    return;
  }
  LOG(INFO) << " funnel: " << category << ", " << action << ", " << key << "=" << value;
}

}  // namespace install
