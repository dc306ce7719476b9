// The Install click's checks, on the window thread, before any byte is
// downloaded: the product is not running, the disks can take the download
// and the installation, the install folder can be made.

#include <optional>

#include "common/flow_errors.h"
#include "common/log.h"
#include "common/text.h"
#include "install/install_flow.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace install {
namespace {

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

// The volume of a path, as the drive letter of a Windows path is.
std::string volumeOf(const std::wstring& path) { return platform::driveRoot(narrow(path)); }

}  // namespace

std::string ProductServiceOf(int32_t softwareId) {
  switch (softwareId) {
    case 6: return "QuillmontHelperService";
    case 105: return "QuillmontScanService";
    default: return "";
  }
}

CInstallFlow::RecordFacts CInstallFlow::FactsForChecks() const {
  RecordFacts facts;
  if (const std::optional<config::ConfigureFields> fields = record_->tryCopy()) {
    facts.fromServer = fields->state == config::CConfigure::kFilled &&
                       fields->source == config::CConfigure::kSourceServer;
    facts.fileSize = fields->fileSize;
    facts.softwareId = fields->softwareId;
    facts.processName = fields->processName;
  } else {
    // A request is in flight: never wait for it on the window's thread.
    facts.softwareId = common::parseLeadingInt32(labels_->getLabelText(L"Software_id"));
    facts.processName = labels_->getLabelText(L"Process_name");
  }
  return facts;
}

int CInstallFlow::BeginInstallTask() {
  if (!AppIsRunning()) {
    Flow(common::flow::kProductRunning);
    LOG(INFO) << "app is running";
    return -1;
  }
  if (!PreDownloadChecks()) return -1;
  (void)StopProductService();
  window_->PrepareForInstall();
  window_->StartBannerThreadIfNeeded();
  // A previous run (Try again) has ended before its page offered the button.
  installThread_.close();
  shared_->progressFinish100.reset();
  if (!installThread_.start([this] { (void)InstallThreadFunc(); })) {
    LOG(INFO) << " install thread not started";
  }
  return 0;
}

bool CInstallFlow::AppIsRunning() {
  facts_ = FactsForChecks();
  std::vector<platform::ProcessEntry> processes;
  if (platform::snapshotProcesses(&processes) != platform::PlatformResult::kOk) return false;
  const std::string wanted = narrow(facts_.processName);
  // The first entry is the system's own first process, as in a snapshot.
  for (size_t i = 1; i < processes.size(); ++i) {
    if (processes[i].name != wanted) continue;
    LOG(INFO) << processes[i].name << "," << wanted << "ID:" << processes[i].pid;
    (void)window_->ShowMessageBox(kMsgAppRunning);
    return false;
  }
  return true;
}

int CInstallFlow::EnoughFreeSpace(bool /*flag*/, int64_t size, uint64_t* freeBytes) {
  if (size == 0 || !settings_.freeSpace) return 1;
  uint64_t free = 0;
  if (settings_.freeSpace(narrow(settings_.cacheDir), &free) && free <= uint64_t(size)) {
    *freeBytes = free;
    LOG(INFO) << " PC space not enough1: " << free << "<=" << size;
    Flow(common::flow::kNoSpace);
    events_->Event("Other", "NoEnoughSpace", "download_" + std::to_string(free), false);
    return -1;
  }
  const std::wstring installDir = window_->GetInstallPath();
  const uint64_t factor = volumeOf(installDir) == volumeOf(settings_.cacheDir) ? 3 : 2;
  // The folder may not exist yet: its volume is the one that will hold it.
  std::string probe = narrow(installDir);
  while (!probe.empty() && !platform::pathExists(probe)) {
    const size_t slash = probe.rfind('/');
    probe = slash == std::string::npos || slash == 0 ? "/" : probe.substr(0, slash);
  }
  if (settings_.freeSpace(probe, &free) && free <= factor * uint64_t(size)) {
    *freeBytes = free;
    LOG(INFO) << " PC space not enough2: " << free << "<=" << factor * uint64_t(size);
    return -2;
  }
  return 1;
}

bool CInstallFlow::PreDownloadChecks() {
  facts_ = FactsForChecks();
  if (facts_.fromServer) {
    uint64_t free = 0;
    int r = EnoughFreeSpace(false, facts_.fileSize, &free);
    if (r == -2 && settings_.bestDrive) {
      window_->SetInstallPathText(settings_.bestDrive(window_->GetInstallPath()));
      r = EnoughFreeSpace(false, facts_.fileSize, &free);
      if (r == -2) {
        Flow(common::flow::kNoSpace);
        events_->Event("Other", "NoEnoughSpace", "install_" + std::to_string(free), false);
      }
    }
    if (r != 1) {
      (void)window_->ShowMessageBox(kMsgNoSpace);
      return false;
    }
  }
  const std::wstring installDir = window_->GetInstallPath();
  (void)platform::createDirectoryChain(narrow(installDir));
  if (!platform::pathExists(narrow(installDir))) {
    Flow(common::flow::kInstallDirNotCreated);
    (void)window_->ShowMessageBox(kMsgPathError);
    return false;
  }
  events_->FunnelPair("Download", "DownloadEnvReady", "", "");
  if (PendingRenameNames(installDir)) {
    events_->Event("Other", "ProcessNeedRestartSign", "", false);
  }
  window_->ShowProgressPage();
  return true;
}

int CInstallFlow::StopProductService() {
  facts_ = FactsForChecks();
  const std::string service = ProductServiceOf(facts_.softwareId);
  if (service.empty() || !settings_.stopService) return 0;
  return settings_.stopService(service);
}

bool CInstallFlow::PendingRenameNames(const std::wstring& directory) const {
  if (!settings_.pendingRenames) return false;
  const std::string needle = narrow(directory) + "/";
  for (const std::string& entry : settings_.pendingRenames()) {
    if (entry.find(needle) != std::string::npos) return true;
  }
  return false;
}

}  // namespace install
