// The window's environment in the shipped program.

#include "common/events.h"
#include "common/log.h"
#include "common/text.h"
#include "config/services.h"
#include "platform/desktop.h"
#include "platform/dev_settings.h"
#include "platform/paths.h"
#include "platform/process.h"
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
  env.bannerBase = config::processServices().url(FuntionImpl::IsTestEnv() ? config::service::kBannerTest
                                                                         : config::service::kBanner);
  env.autoRun = FuntionImpl::IsAutoRun();
  env.crashTest = FuntionImpl::IsCrashTest();
  env.modulePath = platform::modulePath();
  env.runTimestamp = telemetry::CSingleUserLog::GetInstance().GetRunTimestamp();
  env.screenSize = [](int* width, int* height) { (void)FuntionImpl::GetScreenSize(width, height); };
  env.open = [](const std::wstring& target) { (void)FuntionImpl::ShellOpen(target); };
  env.startProduct = [](const std::wstring& commandLine, int adminFlag) {
    return FuntionImpl::StartTargetMainExe(commandLine, adminFlag);
  };
  env.showInFolder = [](const std::wstring& path) {
    platform::showItemInFolder(common::wideToUtf8(path));
  };
  env.pickFolder = [](const std::wstring& start,
                      std::function<void(std::optional<std::wstring>)> done) {
    platform::pickFolder("Choose the install folder", common::wideToUtf8(start),
                         [done = std::move(done)](std::optional<std::string> folder) {
                           if (!folder) return done(std::nullopt);
                           done(common::utf8ToWide(*folder));
                         });
  };
  env.logFilePath = telemetry::CSingleUserLog::GetInstance().GetLogFilePath();
  env.startCloseReport = [](const std::vector<std::string>& arguments) {
    platform::SpawnOptions options;
    options.argv.push_back(platform::modulePath());
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.detach = true;
    int pid = 0;
    if (platform::spawnProcess(options, &pid) != platform::PlatformResult::kOk) {
      LOG(INFO) << " Close report not started";
    }
  };
  // One entry per process: the dock shows the bar on the setup's icon.
  static platform::TaskbarProgress taskbar("websetup");
  env.taskbarProgress = [](int percent) { taskbar.setProgress(percent / 100.0); };
  env.taskbarState = [](int state) {
    taskbar.setState(state == kTaskbarError    ? platform::TaskbarState::kError
                     : state == kTaskbarNormal ? platform::TaskbarState::kNormal
                                               : platform::TaskbarState::kNoProgress);
  };
  return env;
}

}  // namespace window
