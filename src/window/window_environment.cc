// The window's environment in the shipped program.

#include "common/events.h"
#include "common/text.h"
#include "platform/dev_settings.h"
#include "platform/paths.h"
#include "system/processes.h"
#include "system/system_facts.h"
#include "telemetry/single_user_log.h"
#include "window/install_ui_main_wnd.h"

namespace window {

WindowEnvironment WindowEnvironment::FromProcess() {
  WindowEnvironment env;
  // The sink start-up installed: the telemetry hub.
  env.events = &common::Events();
  env.install = install::InstallSettings::FromProcess();
  env.programFilesDir = common::utf8ToWide(platform::programFilesDir());
  env.autoRun = FuntionImpl::IsAutoRun();
  env.crashTest = FuntionImpl::IsCrashTest();
  env.modulePath = platform::modulePath();
  env.runTimestamp = CSingleUserLog::GetInstance().GetRunTimestamp();
  env.screenSize = [](int* width, int* height) { (void)FuntionImpl::GetScreenSize(width, height); };
  env.open = [](const std::wstring& target) { (void)FuntionImpl::ShellOpen(target); };
  env.startProduct = [](const std::wstring& commandLine, int adminFlag) {
    return FuntionImpl::StartTargetMainExe(commandLine, adminFlag);
  };
  env.showInFolder = [](const std::wstring& path) {
    const size_t slash = path.rfind(L'/');
    (void)FuntionImpl::ShellOpen(slash == std::wstring::npos ? path : path.substr(0, slash));
  };
  return env;
}

}  // namespace window
