#ifndef WEBSETUP_APP_STARTUP_HOOKS_H_
#define WEBSETUP_APP_STARTUP_HOOKS_H_

// What start-up needs of the other subsystems, as four small interfaces.
// The entry point implements them (production_hooks.h); each has a default
// that only says in the log what it stands in for, so a test or a tool
// replaces the one it cares about and keeps the others.

#include <cstdint>
#include <functional>
#include <string>

#include "common/process_identity.h"

namespace app {

// What telemetry is initialised with.
struct TelemetryInit {
  int32_t siteId = 0;
  std::string productVersion;  // UTF-8
  std::string productName;     // UTF-8
  std::string downloadUrl;     // UTF-8
  bool flag277or278 = false;   // downloader id 277 or 278
  int32_t mainPid = 0;
};

// The telemetry hub. Main thread.
class TelemetryHooks {
 public:
  virtual ~TelemetryHooks() = default;
  // From here on every module's reports reach the hub.
  virtual void Init(const TelemetryInit& init) = 0;
  virtual void AddEvent(const std::string& category, const std::string& action,
                        const std::string& label, bool wait) = 0;
  // Waits for the sender; true when it has ended (false: it is still in a
  // request, so nothing it uses may be torn down).
  virtual bool WaitForExit() = 0;
};

// Receives, once the window exists, the function that brings it to the
// front; later instances ask for it through the activation listener.
using ActivationRegistrar = std::function<void(std::function<void()>)>;

// The setup window. Main thread.
class WindowRunnerHooks {
 public:
  virtual ~WindowRunnerHooks() = default;
  // Creates the setup window for `identity` and runs the message loop
  // until the window has closed.
  virtual void Run(const common::ProcessIdentity& identity,
                   const ActivationRegistrar& setActivationHandler) = 0;
  // Stops the window's worker threads and waits for them; true when all
  // have ended (false: one still runs, so nothing it uses may be torn
  // down, and what the window holds stays to the end of the process).
  virtual bool WaitThreads() = 0;
  // The refusal message box on a 32-bit system; returns when it closes.
  virtual void Show32BitRefusal() = 0;
};

// The second process of a crash or close report. Main thread.
class ReportUploaderHooks {
 public:
  virtual ~ReportUploaderHooks() = default;
  // Packs and uploads a report (argument text, label, with-dump flag). Its
  // result is ignored: the run ends either way.
  virtual void Upload(const std::wstring& argument, const std::string& label, bool withDump) = 0;
};

// The machine, through the system services.
class SystemHooks {
 public:
  virtual ~SystemHooks() = default;
  // Moves a path onto the best local drive (the download cache's volume).
  virtual std::wstring BestDrive(const std::wstring& path) = 0;
  // Authorises the executable in the firewall; failures are only printed.
  virtual void AuthoriseFirewall(const std::string& modulePath) = 0;
};

// Borrowed for the run; none is null.
struct StartupHooks {
  TelemetryHooks* telemetry;
  WindowRunnerHooks* window;
  ReportUploaderHooks* reports;
  SystemHooks* system;
};

// Hooks that only log what they stand in for. The default window waits for
// SIGINT or SIGTERM, the quit of a program without a window.
StartupHooks DefaultStartupHooks();

}  // namespace app

#endif  // WEBSETUP_APP_STARTUP_HOOKS_H_
