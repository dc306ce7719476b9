#include "app/production_hooks.h"

#include "common/text.h"
#include "common/events.h"
#include "crash/crash_context.h"
#include "crash/report_upload.h"
#include "system/system_facts.h"
#include "app/startup.h"
#include "telemetry/single_user_log.h"
#include "window/run_window.h"

namespace app {

namespace {

// The hub, with the one server value the crash handler needs kept where a
// signal handler can read it.
class ProcessEventSink : public common::EventSink {
 public:
  void Event(const std::string& category, const std::string& action, const std::string& label,
             bool wait) override {
    hub().Event(category, action, label, wait);
  }
  void Funnel(const std::string& eventType, const std::string& coreFunc, int32_t step,
              const std::string& category, const std::string& action, const std::string& label,
              bool wait, bool kit) override {
    hub().Funnel(eventType, coreFunc, step, category, action, label, wait, kit);
  }
  void FunnelEx(const std::string& category, const std::string& action,
                const common::FunnelMembers& members, bool wait, bool kit) override {
    hub().FunnelEx(category, action, members, wait, kit);
  }
  void ServerInteger(const std::string& tag, int32_t value) override {
    if (tag == "Downloader_config") crash::CrashContext::Get().downloaderConfig = value;
    hub().ServerInteger(tag, value);
  }

 private:
  static CSingleUserLog& hub() { return CSingleUserLog::GetInstance(); }
};

}  // namespace

StartupHooks ProductionStartupHooks() {
  StartupHooks hooks = DefaultStartupHooks();
  hooks.bestDrive = [](const std::wstring& path) { return FuntionImpl::GetBestDrivePath(path); };
  hooks.authoriseFirewall = [](const std::string& modulePath) {
    // A failure is only printed by the firewall routine itself.
    (void)FuntionImpl::AuthorizeInFirewall(common::utf8ToWide(modulePath));
  };
  hooks.uploadReport = [](const std::wstring& argument, const std::string& label, bool withDump) {
    (void)crash::PackAndUpload(argument, label, std::wstring(), withDump,
                               crash::ReportEnvironment::FromProcess());
  };
  hooks.initTelemetry = [](const TelemetryInit& init) {
    CSingleUserLog::GetInstance().Init(init.siteId, init.productVersion, init.productName,
                                                  init.downloadUrl, init.flag277or278, init.mainPid);
    // From here on every module's reports reach the hub.
    static ProcessEventSink sink;
    common::SetEventSink(&sink);
  };
  hooks.addEvent = [](const std::string& category, const std::string& action,
                      const std::string& label, bool wait) {
    CSingleUserLog::GetInstance().AddUserLog_event(category, action, label, wait);
  };
  hooks.waitTelemetry = [] {
    CSingleUserLog& hub = CSingleUserLog::GetInstance();
    hub.WaitThreadForExit();
    return hub.SenderEnded();
  };
  hooks.runWindow = [](const std::wstring& windowClass,
                       const std::function<void(std::function<void()>)>& setActivationHandler) {
    window::ProcessWindowRunner().Run(windowClass, setActivationHandler, [] {
      // The crash handler must not close the descriptor once it is freed.
      crash::CrashContext::Get().instanceLockFd = -1;
      if (platform::InstanceLock* lock = SingleInstanceLock()) lock->release();
    });
  };
  hooks.waitWindowThreads = [] { window::ProcessWindowRunner().WaitThreads(); };
  hooks.show32BitRefusal = [] { window::ShowUnsupportedSystemBox(); };
  return hooks;
}

}  // namespace app
