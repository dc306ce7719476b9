#include "app/startup_hooks.h"

#include "common/log.h"
#include "common/text.h"
#include "platform/quit_signal.h"

namespace app {

namespace {

// The quit message of a process that has no window yet: SIGINT or SIGTERM,
// which main() blocks in every thread so that only this wait takes them.
void waitForQuitSignal() {
  const int sig = platform::waitForQuitSignal();
  LOG(INFO) << " Quit on signal " << sig;
}

class LoggingTelemetry : public TelemetryHooks {
 public:
  void Init(const TelemetryInit& init) override {
    LOG(INFO) << " [seam] telemetry not built yet: site " << init.siteId << ", product "
              << init.productName << " " << init.productVersion << ", url " << init.downloadUrl;
  }
  void AddEvent(const std::string& category, const std::string& action, const std::string& label,
                bool) override {
    LOG(INFO) << " [seam] event " << category << "/" << action << "/" << label;
  }
  bool WaitForExit() override { return true; }
};

class LoggingWindow : public WindowRunnerHooks {
 public:
  void Run(const common::ProcessIdentity& identity,
           const ActivationRegistrar& setActivationHandler) override {
    setActivationHandler([] { LOG(INFO) << " Activation requested by another instance"; });
    LOG(INFO) << " [seam] no setup window yet (" << common::wideToUtf8(identity.windowClass)
              << "): running until SIGINT or SIGTERM";
    waitForQuitSignal();
  }
  bool WaitThreads() override { return true; }
  void Show32BitRefusal() override { LOG(INFO) << " [seam] 32-bit refusal message box"; }
};

class LoggingReports : public ReportUploaderHooks {
 public:
  void Upload(const std::wstring& argument, const std::string& label, bool withDump) override {
    LOG(INFO) << " [seam] report upload not built yet: label " << label << ", dump "
              << (withDump ? 1 : 0) << ", files " << common::wideToUtf8(argument);
  }
};

class LoggingSystem : public SystemHooks {
 public:
  std::wstring BestDrive(const std::wstring& path) override { return path; }
  void AuthoriseFirewall(const std::string& path) override {
    LOG(INFO) << " [seam] firewall authorisation of " << path;
  }
};

}  // namespace

StartupHooks DefaultStartupHooks() {
  // Stateless, so one of each serves every caller.
  static LoggingTelemetry telemetry;
  static LoggingWindow window;
  static LoggingReports reports;
  static LoggingSystem system;
  return StartupHooks{&telemetry, &window, &reports, &system};
}

}  // namespace app
