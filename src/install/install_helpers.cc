// The flow's small operations: its settings, cache clearing, proxy
// discovery, the asynchronous configuration fetch and the shutdown wait.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "common/log.h"
#include "common/text.h"
#include "config/run_locations.h"
#include "config/services.h"
#include "install/install_flow.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service_control.h"
#include "system/file_trust.h"
#include "system/processes.h"
#include "system/system_facts.h"

namespace install {
namespace {

constexpr uint32_t kThreadWaitMs = 600000;
constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::vector<std::string> readPendingRenames() {
  platform::RegistryValue value;
  if (platform::registryRead(platform::RegistryHive::kLocalMachine, kSessionManagerKey,
                             "PendingFileRenameOperations", &value) != platform::PlatformResult::kOk) {
    return {};
  }
  if (value.type == platform::RegistryType::kMultiString) return value.texts;
  return {value.text};
}

int restartDetached(const std::string& path) {
  platform::SpawnOptions options;
  options.argv = {path};
  options.detach = true;
  int pid = 0, error = 0;
  return platform::spawnProcess(options, &pid, &error) == platform::PlatformResult::kOk ? 42
                                                                                          : error;
}

}  // namespace

InstallSettings InstallSettings::FromProcess() {
  const config::RunLocations& locations = config::processRunLocations();
  InstallSettings s;
  s.cacheDir = locations.getCacheDirectory();
  s.logDir = locations.getLogDirectory();
  s.query = QueryEnvironment::FromProcess();
  s.reports = ReportEnvironment::FromProcess();
  s.autoRun = FuntionImpl::IsAutoRun();
  s.modulePath = platform::modulePath();
  s.freeSpace = [](const std::string& path, uint64_t* bytes) {
    return platform::freeSpace(path, bytes) == platform::PlatformResult::kOk;
  };
  s.bestDrive = [](const std::wstring& path) { return FuntionImpl::GetBestDrivePath(path); };
  s.verifySignature = [](const std::wstring& path) {
    return FuntionImpl::VerifyPinnedSignature(path, config::processServices().signerPins());
  };
  s.openUrl = [](const std::wstring& url) { (void)FuntionImpl::ShellOpen(url); };
  s.restartSelf = &restartDetached;
  s.stopService = [](const std::string& name) {
    return static_cast<int>(platform::stopService(name));
  };
  s.pendingRenames = &readPendingRenames;
  s.runFolders = {platform::tempDir(), common::wideToUtf8(s.logDir), platform::homeDir()};
  return s;
}

CInstallFlow::CInstallFlow(config::CConfigure* record, IInstallWindow* window,
                           const config::ILabelSource* labels, InstallShared* shared,
                           common::EventSink* events, InstallSettings settings)
    : record_(record),
      window_(window),
      labels_(labels),
      shared_(shared),
      events_(events),
      settings_(std::move(settings)) {}

CInstallFlow::~CInstallFlow() {
  // The threads use this object: it never goes while one runs. Its owner
  // waits with the limit first (WaitForAllThreadExit) and keeps the flow
  // to the end of the process when a thread outlives it, so these waits
  // end at once; they stop anyone else from freeing it under a thread.
  OnWindowClosing();
  for (common::CThreadHandle* thread : {&asyncThread_, &installThread_}) {
    while (!thread->waitFor(kThreadWaitMs))
      LOG(INFO) << " Waiting for a thread of the install flow";
    thread->close();
  }
}

void CInstallFlow::ClearAPPData(bool mayWait) { ClearInstallerFiles(FilesOfRecord(mayWait)); }

int CInstallFlow::GetIEProxyConfig() {
  // The environment is this platform's per-user proxy setting; the names
  // in upper case are read too, as most programs do.
  auto read = [](const char* lower, const char* upper) {
    std::optional<std::string> v = platform::getEnv(lower);
    if (!v || v->empty()) v = platform::getEnv(upper);
    return v && !v->empty() ? *v : std::string();
  };
  const std::string autoConfig = read("auto_proxy", "AUTO_PROXY");
  std::string proxy = read("https_proxy", "HTTPS_PROXY");
  if (proxy.empty()) proxy = read("http_proxy", "HTTP_PROXY");
  if (proxy.empty()) proxy = read("all_proxy", "ALL_PROXY");
  const std::string bypass = read("no_proxy", "NO_PROXY");
  LOG(INFO) << " Get proxy: " << 1 << ", " << 0;
  int last = 0;
  if (!autoConfig.empty()) {
    LOG(INFO) << " Proxy info1: " << autoConfig;
    last = 1;
  }
  if (!proxy.empty()) {
    LOG(INFO) << " Proxy info2: " << proxy;
    last = 2;
  }
  if (!bypass.empty()) {
    LOG(INFO) << " Proxy info3: " << bypass;
    last = 3;
  }
  return last;
}

void CInstallFlow::OnWindowClosing() {
  shared_->closing = true;
  shared_->progressFinish100.set();
}

void CInstallFlow::StartAsyncFetch() {
  if (!asyncThread_.start([this] { AsyncGetCbsInfoThreadFunc(); })) {
    LOG(INFO) << " configuration thread not started";
  }
}

void CInstallFlow::AsyncGetCbsInfoThreadFunc() {
  try {
    if (!RunAsyncConfigurationFetch(record_, shared_->abandon, settings_.query) &&
        shared_->abandon.load()) {
      LOG(INFO) << " GetDownloaderInfo(Async) abandon";
    }
  } catch (...) {
    LOG(INFO) << " configuration thread ended by an exception";
  }
}

int CInstallFlow::WaitForAllThreadExit() {
  LOG(INFO) << "InstallUIMainWnd WaitForAllThreadExit";
  // One limit for both: the threads run side by side, so a second full
  // wait would only double the time a stuck one keeps the process.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kThreadWaitMs);
  int running = 0;
  for (common::CThreadHandle* thread : {&asyncThread_, &installThread_}) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!thread->waitFor(static_cast<uint32_t>(std::max<int64_t>(0, left.count())))) ++running;
  }
  if (running > 0) LOG(INFO) << " Install flow threads still running: " << running;
  return running;
}

}  // namespace install
