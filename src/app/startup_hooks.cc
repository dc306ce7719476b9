#include "app/startup_hooks.h"

#include <signal.h>

#include "common/log.h"
#include "common/text.h"

namespace app {

namespace {

// The quit message of a process that has no window yet: SIGINT or SIGTERM,
// which main() blocks in every thread so that only this wait takes them.
void waitForQuitSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  int sig = 0;
  sigwait(&set, &sig);
  LOG(INFO) << " Quit on signal " << sig;
}

}  // namespace

StartupHooks DefaultStartupHooks() {
  StartupHooks hooks;
  hooks.bestDrive = [](const std::wstring& path) { return path; };
  hooks.uploadReport = [](const std::wstring& argument, const std::string& label, bool withDump) {
    LOG(INFO) << " [seam] report upload not built yet: label " << label << ", dump "
              << (withDump ? 1 : 0) << ", files " << common::wideToUtf8(argument);
  };
  hooks.initTelemetry = [](const TelemetryInit& init) {
    LOG(INFO) << " [seam] telemetry not built yet: site " << init.siteId << ", product "
              << init.productName << " " << init.productVersion << ", url " << init.downloadUrl;
  };
  hooks.addEvent = [](const std::string& category, const std::string& action,
                      const std::string& label, bool) {
    LOG(INFO) << " [seam] event " << category << "/" << action << "/" << label;
  };
  hooks.waitTelemetry = [] { return true; };
  hooks.show32BitRefusal = [] { LOG(INFO) << " [seam] 32-bit refusal message box"; };
  hooks.authoriseFirewall = [](const std::string& path) {
    LOG(INFO) << " [seam] firewall authorisation of " << path;
  };
  hooks.runWindow = [](const std::wstring& windowClass,
                       const std::function<void(std::function<void()>)>& setActivationHandler) {
    setActivationHandler([] { LOG(INFO) << " Activation requested by another instance"; });
    LOG(INFO) << " [seam] no setup window yet (" << common::wideToUtf8(windowClass)
              << "): running until SIGINT or SIGTERM";
    waitForQuitSignal();
  };
  hooks.waitWindowThreads = [] {};
  return hooks;
}

}  // namespace app
