#ifndef WEBSETUP_APP_STARTUP_HOOKS_H_
#define WEBSETUP_APP_STARTUP_HOOKS_H_

// The services start-up calls into other subsystems. Each hook has a default
// (DefaultStartupHooks) that the entry point replaces as the subsystem
// lands; the defaults say in the log what they stand in for.

#include <cstdint>
#include <functional>
#include <string>

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

struct StartupHooks {
  // Moves a path onto the best local drive (the download cache's volume).
  std::function<std::wstring(const std::wstring&)> bestDrive;
  // Packs and uploads a crash or close report (argument text, label,
  // with-dump flag). Its result is ignored.
  std::function<void(const std::wstring& argument, const std::string& label, bool withDump)>
      uploadReport;
  // Telemetry.
  std::function<void(const TelemetryInit&)> initTelemetry;
  std::function<void(const std::string& category, const std::string& action,
                     const std::string& label, bool wait)>
      addEvent;
  // Waits for the telemetry sender; true when it has ended (false: it is
  // still in a request, so nothing it uses may be torn down).
  std::function<bool()> waitTelemetry;
  // The refusal message box on a 32-bit system; returns when it closes.
  std::function<void()> show32BitRefusal;
  // Authorises the executable in the firewall; failures are only printed.
  std::function<void(const std::string& modulePath)> authoriseFirewall;
  // Creates the setup window and runs the message loop until quit.
  // `windowClass` names the window; activation requests of later instances
  // arrive through `setActivationHandler`, which the window calls with the
  // function that brings it to the front.
  std::function<void(const std::wstring& windowClass,
                     const std::function<void(std::function<void()>)>& setActivationHandler)>
      runWindow;
  // Waits for the window's worker threads.
  std::function<void()> waitWindowThreads;
};

// Hooks that only log what they stand in for. The message loop of the
// default `runWindow` waits for SIGINT or SIGTERM, the quit of a program
// without a window yet.
StartupHooks DefaultStartupHooks();

}  // namespace app

#endif  // WEBSETUP_APP_STARTUP_HOOKS_H_
