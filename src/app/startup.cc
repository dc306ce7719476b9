#include "app/startup.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "app/command_line.h"
#include "common/log.h"
#include "common/process_identity.h"
#include "common/text.h"
#include "config/logging_setup.h"
#include "config/product_config.h"
#include "config/run_locations.h"
#include "crash/crash_context.h"
#include "platform/activation.h"
#include "platform/dev_settings.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/system_info.h"
#include "system/file_trust.h"

namespace app {

namespace {

constexpr wchar_t kWindowClassPrefix[] = L"QM_UI_Frame_";
constexpr wchar_t kDefaultWindowClass[] = L"QM_UI_Frame";

std::string mutexName(int32_t downloaderId) {
  return "QLM_Downloader_" + std::to_string(downloaderId);
}

// What this run holds while its window lives: the identity handed down to
// the window and the single-instance lock behind its release.
struct SetupProcess {
  common::ProcessIdentity identity;
  std::unique_ptr<platform::InstanceLock> instanceLock;
};

// Steps of setup mode up to the window. Returns false when this process
// must end here (another instance, or a refused system).
bool passSetupChecks(const config::ProductConfig& product, const platform::DevSettings& dev,
                     const StartupHooks& hooks, SetupProcess* process) {
  common::ProcessIdentity& identity = process->identity;
  identity.windowClass = product.downloaderIdText.empty()
                             ? std::wstring(kDefaultWindowClass)
                             : kWindowClassPrefix + product.downloaderIdText;
  // An automated run may start beside a running setup and must not raise it.
  if (!product.downloaderIdText.empty() && !dev.autoRun &&
      platform::requestActivation(common::wideToUtf8(identity.windowClass))) {
    return false;
  }

  identity.downloaderId = product.downloaderId;
  crash::CrashContext& crashContext = crash::CrashContext::Get();
  crashContext.downloaderId = product.downloaderId;
  const platform::PlatformResult rc =
      platform::InstanceLock::acquire(mutexName(product.downloaderId), &process->instanceLock);
  if (platform::InstanceLock* lock = process->instanceLock.get()) {
    crashContext.instanceLockFd = lock->descriptor();
    identity.releaseInstanceLock = [lock] {
      // The crash handler must not close the descriptor once it is freed.
      crash::CrashContext::Get().instanceLockFd = -1;
      lock->release();
    };
  }
  if (rc == platform::PlatformResult::kAlreadyExists && !dev.autoRun) return false;
  if (rc != platform::PlatformResult::kOk && rc != platform::PlatformResult::kAlreadyExists) {
    LOG(INFO) << " Single-instance lock unavailable: " << platform::resultName(rc);
  }

  TelemetryInit init;
  init.siteId = product.siteId;
  init.productVersion = common::wideToUtf8(product.softwareVersion);
  init.productName = common::wideToUtf8(product.softwareName);
  init.downloadUrl = common::wideToUtf8(product.downloadUrl);
  init.flag277or278 = product.downloaderId == 277 || product.downloaderId == 278;
  init.mainPid = product.mainPid;
  hooks.telemetry->Init(init);

  if (ShouldRefuse32BitSystem(product.support32System, platform::is64BitOs())) {
    hooks.telemetry->AddEvent("Other", "32bitStartupForbided", "", true);
    hooks.window->Show32BitRefusal();
    return false;
  }
  return true;
}

// True when every thread has ended, so global state may be torn down.
bool runWindowAndShutDown(const StartupHooks& hooks, SetupProcess* process) {
  hooks.system->AuthoriseFirewall(platform::modulePath());

  // Later instances ask this one to come forward through the listener; the
  // window tells it how once it exists.
  const std::string windowClass = common::wideToUtf8(process->identity.windowClass);
  auto listener = platform::ActivationListener::listen(windowClass, nullptr);
  auto setActivationHandler = [&listener](std::function<void()> raise) {
    if (listener) listener->setCallback(std::move(raise));
  };
  hooks.window->Run(process->identity, setActivationHandler);
  listener.reset();

  process->identity.releaseInstanceLock();
  LOG(INFO) << " Wait exit 1";
  const bool windowThreadsEnded = hooks.window->WaitThreads();
  // Only now may the lock object go: the window's threads release it too.
  // While one still runs, the lock stays until the process ends.
  if (windowThreadsEnded) {
    process->identity.releaseInstanceLock = [] {};
    process->instanceLock.reset();
  }
  LOG(INFO) << " Wait exit 2";
  const bool telemetryEnded = hooks.telemetry->WaitForExit();
  LOG(INFO) << " Wait exit 3";
  return windowThreadsEnded && telemetryEnded;
}

// What the crash handler will need, once logging has named its files.
void fillCrashContext(const config::RunLocations& locations) {
  crash::CrashContext& c = crash::CrashContext::Get();
  c.modulePath.set(platform::modulePath());
  c.setupVersion.set(FuntionImpl::GetFileVersion(common::utf8ToWide(platform::modulePath())));
  c.logDirectory.set(common::wideToUtf8(locations.getLogDirectory()));
  const std::wstring file = locations.getLogFilePath();
  const size_t slash = file.rfind(L'/');
  c.logFileName.set(common::wideToUtf8(slash == std::wstring::npos ? file : file.substr(slash + 1)));
}

}  // namespace

int RunWebsetup(const std::wstring& commandLine, const StartupHooks& hooks) {
  config::ProductConfig product;
  // A skin without its product file leaves every value empty, and a
  // download address without a file name leaves the run without a log
  // file: the run goes on either way and fails, visibly, where a value is
  // needed.
  (void)config::loadProductConfig(&product);
  curl_global_init(CURL_GLOBAL_ALL);
  (void)config::setUpLogging(
      product.downloadUrl, &config::processRunLocations(),
      [&hooks](const std::wstring& path) { return hooks.system->BestDrive(path); });
  fillCrashContext(config::processRunLocations());

  const EnumRunMode mode = ChooseRunMode(commandLine);
  if (mode == EnumRunMode::kCrashReport) {
    const ReportArguments args = CrashReportArguments(commandLine);
    hooks.reports->Upload(args.argument, args.label, true);
    return 0;
  }
  if (mode == EnumRunMode::kCloseReport) {
    const ReportArguments args = CloseReportArguments(commandLine);
    hooks.reports->Upload(args.argument, args.label, false);
    return 0;
  }

  const platform::DevSettings dev = platform::readDevSettings();
  SetupProcess process;
  if (!passSetupChecks(product, dev, hooks, &process)) return 0;
  if (!runWindowAndShutDown(hooks, &process)) {
    // The sender is still in a request, or a window thread still runs:
    // libcurl's global state and the program's static objects stay as they
    // are, and the process ends without the clean-up and the destructors
    // that would run under it.
    LOG(INFO) << " A worker still running: exit without clean-up";
    el::Loggers::flushAll();
    std::fflush(nullptr);
    platform::endProcessNow(0);
  }
  curl_global_cleanup();
  return 0;
}

bool ShouldRefuse32BitSystem(const std::wstring& support32System, bool is64BitSystem) {
  return support32System == L"0" && !is64BitSystem;
}

}  // namespace app
