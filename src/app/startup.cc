#include "app/startup.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cstdio>

#include <memory>

#include "app/command_line.h"
#include "common/log.h"
#include "crash/crash_context.h"
#include "system/file_trust.h"
#include "common/text.h"
#include "config/logging_setup.h"
#include "config/product_config.h"
#include "config/run_locations.h"
#include "platform/activation.h"
#include "platform/dev_settings.h"
#include "platform/paths.h"
#include "platform/system_info.h"

namespace app {

namespace {

constexpr wchar_t kWindowClassPrefix[] = L"QM_UI_Frame_";
constexpr wchar_t kDefaultWindowClass[] = L"QM_UI_Frame";

// Process-wide values that the crash handler and the install thread read.
std::unique_ptr<platform::InstanceLock> g_instanceLock;
int32_t g_downloaderId = 0;
std::wstring g_windowClass;

std::string mutexName(int32_t downloaderId) {
  return "QLM_Downloader_" + std::to_string(downloaderId);
}

void runReport(const ReportArguments& args, bool withDump, const StartupHooks& hooks) {
  if (hooks.uploadReport) hooks.uploadReport(args.argument, args.label, withDump);
}

// Steps of setup mode up to the window. Returns false when this process
// must end here (another instance, or a refused system).
bool passSetupChecks(const config::ProductConfig& product, const platform::DevSettings& dev,
                     const StartupHooks& hooks) {
  if (!product.downloaderIdText.empty()) {
    g_windowClass = kWindowClassPrefix + product.downloaderIdText;
    // An automated run may start beside a running setup and must not raise it.
    if (!dev.autoRun && platform::requestActivation(common::wideToUtf8(g_windowClass))) return false;
  }

  g_downloaderId = product.downloaderId;
  crash::CrashContext& crashContext = crash::CrashContext::Get();
  crashContext.downloaderId = product.downloaderId;
  const platform::PlatformResult rc = platform::InstanceLock::acquire(mutexName(product.downloaderId), &g_instanceLock);
  if (g_instanceLock) crashContext.instanceLockFd = g_instanceLock->descriptor();
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
  if (hooks.initTelemetry) hooks.initTelemetry(init);

  if (ShouldRefuse32BitSystem(product.support32System, platform::is64BitOs())) {
    if (hooks.addEvent) hooks.addEvent("Other", "32bitStartupForbided", "", true);
    if (hooks.show32BitRefusal) hooks.show32BitRefusal();
    return false;
  }
  return true;
}

// True when every thread has ended, so global state may be torn down.
bool runWindowAndShutDown(const StartupHooks& hooks) {
  if (hooks.authoriseFirewall) hooks.authoriseFirewall(platform::modulePath());

  // Later instances ask this one to come forward through the listener; the
  // window tells it how once it exists.
  auto listener = platform::ActivationListener::listen(common::wideToUtf8(WindowClassName()), nullptr);
  auto setActivationHandler = [&listener](std::function<void()> raise) {
    if (listener) listener->setCallback(std::move(raise));
  };
  if (hooks.runWindow) hooks.runWindow(WindowClassName(), setActivationHandler);
  listener.reset();

  if (g_instanceLock) g_instanceLock->release();
  crash::CrashContext::Get().instanceLockFd = -1;
  LOG(INFO) << " Wait exit 1";
  if (hooks.waitWindowThreads) hooks.waitWindowThreads();
  // Only now may the lock object go: the window's threads release it too.
  g_instanceLock.reset();
  LOG(INFO) << " Wait exit 2";
  const bool telemetryEnded = !hooks.waitTelemetry || hooks.waitTelemetry();
  LOG(INFO) << " Wait exit 3";
  return telemetryEnded;
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
  config::loadProductConfig(&product);
  curl_global_init(CURL_GLOBAL_ALL);
  config::setUpLogging(product.downloadUrl, &config::processRunLocations(), hooks.bestDrive);
  fillCrashContext(config::processRunLocations());

  const EnumRunMode mode = ChooseRunMode(commandLine);
  if (mode == EnumRunMode::kCrashReport) {
    runReport(CrashReportArguments(commandLine), true, hooks);
    return 0;
  }
  if (mode == EnumRunMode::kCloseReport) {
    runReport(CloseReportArguments(commandLine), false, hooks);
    return 0;
  }

  const platform::DevSettings dev = platform::readDevSettings();
  if (!passSetupChecks(product, dev, hooks)) return 0;
  if (!runWindowAndShutDown(hooks)) {
    // The sender is still in a request: libcurl's global state and the
    // program's static objects stay as they are, and the process ends
    // without the clean-up and the destructors that would run under it.
    LOG(INFO) << " Telemetry sender still running: exit without clean-up";
    el::Loggers::flushAll();
    std::fflush(nullptr);
    _exit(0);
  }
  curl_global_cleanup();
  return 0;
}

bool ShouldRefuse32BitSystem(const std::wstring& support32System, bool is64BitSystem) {
  return support32System == L"0" && !is64BitSystem;
}

platform::InstanceLock* SingleInstanceLock() { return g_instanceLock.get(); }

int32_t DownloaderId() { return g_downloaderId; }

std::wstring WindowClassName() { return g_windowClass.empty() ? kDefaultWindowClass : g_windowClass; }

}  // namespace app
