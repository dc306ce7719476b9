#include "app/production_hooks.h"

#include "common/events.h"
#include "common/text.h"
#include "crash/crash_context.h"
#include "crash/report_upload.h"
#include "engine/download_impl.h"
#include "engine/libcurl_tool.h"
#include "system/system_facts.h"
#include "telemetry/single_user_log.h"
#include "uiframework/window.h"
#include "window/run_window.h"

namespace app {

namespace {

telemetry::CSingleUserLog& hub() { return telemetry::CSingleUserLog::GetInstance(); }

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
};

class HubTelemetry : public TelemetryHooks {
 public:
  void Init(const TelemetryInit& init) override {
    hub().Init(init.siteId, init.productVersion, init.productName, init.downloadUrl,
               init.flag277or278, init.mainPid);
    // Never unset: a late event of any thread still finds the hub, which
    // is never deleted either.
    static ProcessEventSink sink;
    common::SetEventSink(&sink);
    // The hub holds its first request until the window shows (or a few
    // seconds pass): the first frame has the CPU to itself.
    ui::AfterFirstFrame([] { hub().StartSending(); });
  }
  void AddEvent(const std::string& category, const std::string& action, const std::string& label,
                bool wait) override {
    hub().AddUserLog_event(category, action, label, wait);
  }
  bool WaitForExit() override {
    hub().WaitThreadForExit();
    return hub().SenderEnded();
  }
};

// The carousel's banners travel as the installer does: the query through
// libcurl, the pictures through the engine, which ends a download within a
// second of its stop flag.
window::BannerTransport EngineBannerTransport() {
  window::BannerTransport transport;
  transport.get = [](const std::string& url, std::string* body) {
    engine::CLibcurlTool curl;
    return curl.httpGet(url.c_str(), *body, false);
  };
  transport.download = [](const std::wstring& url, const std::wstring& path,
                          const std::atomic<bool>* stop) {
    engine::DownloadOptions options;
    options.stop = stop;
    std::string cdn;
    return engine::CDownLoadImpl::SuperDownloadFile(url, path, &cdn, options);
  };
  return transport;
}

class SetupWindow : public WindowRunnerHooks {
 public:
  SetupWindow() : runner_(EngineBannerTransport()) {}
  void Run(const common::ProcessIdentity& identity,
           const ActivationRegistrar& setActivationHandler) override {
    runner_.Run(identity, setActivationHandler);
  }
  bool WaitThreads() override { return runner_.WaitThreads(); }
  void Show32BitRefusal() override { window::ShowUnsupportedSystemBox(); }

 private:
  window::WindowRunner runner_;
};

class ReportUpload : public ReportUploaderHooks {
 public:
  void Upload(const std::wstring& argument, const std::string& label, bool withDump) override {
    (void)crash::PackAndUpload(argument, label, std::wstring(), withDump,
                               crash::ReportEnvironment::FromProcess());
  }
};

class MachineServices : public SystemHooks {
 public:
  std::wstring BestDrive(const std::wstring& path) override {
    return FuntionImpl::GetBestDrivePath(path);
  }
  void AuthoriseFirewall(const std::string& modulePath) override {
    // A failure is only printed by the firewall routine itself.
    (void)FuntionImpl::AuthorizeInFirewall(common::utf8ToWide(modulePath));
  }
};

}  // namespace

struct ProductionServices::Parts {
  HubTelemetry telemetry;
  SetupWindow window;
  ReportUpload reports;
  MachineServices system;
};

ProductionServices::ProductionServices() : parts_(std::make_unique<Parts>()) {}
ProductionServices::~ProductionServices() = default;

StartupHooks ProductionServices::Hooks() {
  return StartupHooks{&parts_->telemetry, &parts_->window, &parts_->reports, &parts_->system};
}

}  // namespace app
