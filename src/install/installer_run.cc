// The install thread after a verified download: the installer's command
// line, its run with a time limit, and what follows its end.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <thread>

#include "common/flow_errors.h"
#include "common/log.h"
#include "common/text.h"
#include "install/install_flow.h"
#include "install/window_messages.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "system/processes.h"

namespace install {
namespace {

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

std::wstring trimmed(const std::wstring& text) {
  const size_t from = text.find_first_not_of(L' ');
  if (from == std::wstring::npos) return L"";
  return text.substr(from, text.find_last_not_of(L' ') - from + 1);
}

constexpr const wchar_t* kLanguageCodes[] = {
    L"en", L"ja", L"zhcn", L"es", L"de", L"fr", L"ru", L"pt", L"ar", L"it",
    L"zhtw", L"ko", L"nl", L"id", L"tr", L"hi", L"th", L"my", L"se", L"cz"};

constexpr const wchar_t* kProductPages[] = {
    L"product_url_english",    L"product_url_japanese",  L"product_url_chinesesimp",
    L"product_url_spanish",    L"product_url_german",    L"product_url_french",
    L"product_url_russian",    L"product_url_portuguese", L"product_url_arabic",
    L"product_url_italiano",   L"product_url_chinesetrad", L"product_url_korean",
    L"product_url_nederlands", L"product_url_indonesian", L"product_url_turkish",
    L"product_url_hindi",      L"product_url_thai",      L"product_url_malay",
    L"product_url_swedish",    L"product_url_czech"};

void removeIfPresent(const std::wstring& path) { std::remove(narrow(path).c_str()); }

// Removes the private copy of an installer that could not run from the
// cache, once the copy is no longer running.
struct CopyRemover {
  std::string folder;
  void now() const {
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

}  // namespace

std::wstring InstallerLanguageCode(int languageIndex, int32_t downloaderId) {
  if (languageIndex == 1) {
    switch (downloaderId) {
      case 117: case 118: case 119: case 120: case 122: case 123: case 124: case 125:
        return L"jp";
      default:
        return L"ja";
    }
  }
  if (languageIndex < 0 || languageIndex >= 20) return L"en";
  return kLanguageCodes[languageIndex];
}

std::wstring ProductPageControl(int index) {
  if (index < 0 || index >= 20) return L"";
  return kProductPages[index];
}

std::wstring ExecutableTag(const std::string& modulePath, bool useTag) {
  const size_t slash = modulePath.rfind('/');
  const std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
  if (useTag && name.find('_') != std::string::npos) return common::utf8ToWide(name);
  return L"null";
}

bool InstallerSucceeded(int exitCode) { return exitCode == 0 || exitCode == 8; }

std::wstring InstallerLogName(const std::wstring& softwareName, const platform::LocalTime& now) {
  std::wstring name = softwareName;
  for (wchar_t& c : name) {
    if (c < 0x20 || c == 0x7F || std::wcschr(L"/\\:*?\"<>|", c) != nullptr) c = L'_';
  }
  wchar_t stamp[64] = {};
  std::swprintf(stamp, 64, L"_Setup_%.4d%.2d%.2d%.2d%.2d%.2d.log", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  return name + stamp;
}

std::vector<std::wstring> CInstallFlow::BuildInstallerArguments(
    const platform::LocalTime& now) const {
  return {L"/VERYSILENT",
          L"/SP-",
          L"/NORESTART",
          L"/DIR=" + window_->GetInstallPath(),
          L"/LANG=" + InstallerLanguageCode(window_->LanguageIndex(), record_->downloaderId),
          L"/LOG=" + settings_.logDir + L"/" + InstallerLogName(record_->softwareName, now),
          L"/sptrack",
          ExecutableTag(settings_.modulePath, settings_.exeTagFlag)};
}

std::wstring CInstallFlow::BuildInstallerCommandLine(const platform::LocalTime& now) const {
  // The folders are shown in quotes, as a person would type them; the
  // installer gets each switch as an argument of its own.
  std::wstring line;
  for (const std::wstring& arg : BuildInstallerArguments(now)) {
    const bool quoted = arg.rfind(L"/DIR=", 0) == 0 || arg.rfind(L"/LOG=", 0) == 0;
    line += L' ';
    line += quoted ? arg.substr(0, 5) + L'"' + arg.substr(5) + L'"' : arg;
  }
  return line;
}

std::wstring CInstallFlow::ProductExePath() const {
  if (record_->state != config::CConfigure::kFilled) return L"";
  const std::wstring dir = trimmed(window_->GetInstallPath());
  const std::wstring direct = dir + L"/" + record_->processName;
  if (platform::pathExists(narrow(direct))) return direct;
  const std::wstring below = FuntionImpl::FindFileInSubfolders(dir + L"/", record_->processName);
  return below.empty() ? direct : below;
}

uint32_t CInstallFlow::EndAsTimedOut(const char* code) {
  shared_->installerFinished = true;
  Flow(code);
  Funnel("Installing", 0, "Download", "CoreFuncEnd");
  window_->PostInstallMessage(MSG_INSTALL_TIMEOUT, 0);
  return kInstallFailed;
}

platform::PlatformResult CInstallFlow::StartInstaller(const platform::HeldFile& installer,
                                                      platform::SpawnOptions spawn, int* pid,
                                                      int* osError, std::string* copyFolder) {
  spawn.program = installer.path();
  platform::PlatformResult started = platform::spawnProcess(spawn, pid, osError);
  if (started != platform::PlatformResult::kAccessDenied) return started;
  // A data volume mounted noexec: the verified bytes run from a private
  // copy on a volume that allows programs.
  for (const std::string& parent : settings_.runFolders) {
    if (parent.empty() || !platform::volumeRunsPrograms(parent)) continue;
    std::string folder;
    if (platform::makeUniqueFolder(parent, "websetup-run-", &folder) !=
        platform::PlatformResult::kOk) {
      continue;
    }
    const std::string base = installer.origin().substr(installer.origin().rfind('/') + 1);
    const std::string copy = folder + "/" + base;
    if (installer.copyTo(copy) != platform::PlatformResult::kOk) {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
      continue;
    }
    LOG(INFO) << " Installer volume does not allow programs; running a private copy: " << copy;
    spawn.program = copy;
    started = platform::spawnProcess(spawn, pid, osError);
    if (started == platform::PlatformResult::kOk) {
      *copyFolder = folder;
    } else {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    }
    return started;
  }
  return started;
}

uint32_t CInstallFlow::RunInstaller(uint32_t downloadEnd, const InstallerFiles& files,
                                    const platform::HeldFile& held) {
  shared_->slowProgressStop = 1;
  window_->SetAnimationTimer(false);
  events_->Event("Download", "4.DownFinsh", shared_->firstOrRetry(), false);

  const platform::LocalTime now = platform::localTime();
  const std::wstring commandLine = BuildInstallerCommandLine(now);
  shared_->installStartTick = platform::tickCount();
  LOG(INFO) << " [Download File Path]: " << narrow(files.installer);
  LOG(INFO) << " [Start Install CmdLine]: " << narrow(commandLine);
  events_->Event("Download", "5.ProgramInstall", shared_->firstOrRetry(), false);
  Funnel("Installing", 0, "Download", "CoreFuncStart");
  Funnel("Installing", 1, "Download", "ProgramInstall");

  // A cut command line would run the installer into a truncated folder.
  if (commandLine.size() > kMaxCommandLine) {
    LOG(INFO) << " Installer command line too long (" << commandLine.size()
              << " characters); not started";
    return EndAsTimedOut(common::flow::kInstallerTimedOut);
  }
  // A close the user confirmed during the verification: nothing new runs.
  if (shared_->closing.load()) {
    LOG(INFO) << " Install thread ends: the window closed before the installer started";
    return kInstallFailed;
  }
  int exitCode = -1;
  const char* failure = StartAndWait(files, held, now, &exitCode);
  if (failure != nullptr) return EndAsTimedOut(failure);

  // An installer that failed installed nothing that Start could run.
  const std::wstring exe = ProductExePath();
  if (!InstallerSucceeded(exitCode) || !platform::pathExists(narrow(exe))) {
    LOG(INFO) << " Installer failed: exit code " << exitCode << ", product executable "
              << narrow(exe) << (platform::pathExists(narrow(exe)) ? " found" : " missing");
    events_->Event("Other", "InstallerExitCode", std::to_string(exitCode), false);
    return EndAsTimedOut(common::flow::kInstallerFailed);
  }
  ReportInstallerSucceeded();
  OpenProductPage();
  window_->WriteProductLanguage();

  shared_->progressFinish100.wait();
  if (shared_->closing.load()) {
    LOG(INFO) << " Install thread ends: the window closed before the progress finished";
    return kInstallRan;
  }
  window_->PostInstallMessage(MSG_INSTALL_COMPLETED, 0);
  const double minutes =
      std::trunc(double(platform::tickCount() - downloadEnd) / 1000 / 60 * 100) / 100;
  char text[64] = {};
  std::snprintf(text, sizeof(text), "%.1f", minutes);
  LOG(INFO) << " Install Totally Take " << text << " minutes And Send To Server";
  ClearInstallerFiles(files);

  if (settings_.autoRun) RestartForAutomatedRun(files);
  if (common::parseLeadingInt32(labels_->getLabelText(L"NeedStart_flag")) == 1) {
    window_->ClickStartApp();
  }
  return kInstallRan;
}

const char* CInstallFlow::StartAndWait(const InstallerFiles& files, const platform::HeldFile& held,
                                       const platform::LocalTime& now, int* exitCode) {
  platform::SpawnOptions spawn;
  spawn.argv.push_back(narrow(files.installer));
  for (const std::wstring& arg : BuildInstallerArguments(now)) spawn.argv.push_back(narrow(arg));
  int pid = -1, osError = 0;
  std::string copyFolder;
  const platform::PlatformResult started = StartInstaller(held, spawn, &pid, &osError, &copyFolder);
  // The copy goes once the installer ended; one left running keeps it.
  const CopyRemover removeCopy{copyFolder};
  shared_->installerFinished = false;
  window_->PostInstallMessage(MSG_INSTALLER_STARTED, 0);
  if (started != platform::PlatformResult::kOk) {
    // Waiting the whole limit for a process that never started helps nobody.
    LOG(INFO) << " Installer not started: " << platform::resultName(started) << ", " << osError;
    LOG(INFO) << " Cmd nWaitSeconds timed out: " << record_->installTimeout;
    return common::flow::kInstallerTimedOut;
  }
  const uint32_t limit = static_cast<uint32_t>(record_->installTimeout);
  uint32_t n = 0;
  for (;;) {
    const platform::PlatformResult w =
        platform::waitProcess(pid, std::chrono::milliseconds(1000), exitCode);
    if (w == platform::PlatformResult::kOk) {
      removeCopy.now();
      break;
    }
    if (w != platform::PlatformResult::kTimedOut || n > limit) {
      LOG(INFO) << " Cmd nWaitSeconds timed out: " << record_->installTimeout;
      return common::flow::kInstallerTimedOut;
    }
    ++n;
  }
  const uint32_t s = (platform::tickCount() - shared_->installStartTick.load()) / 1000;
  events_->Event("Other", "MInstallTime", std::to_string(s), false);
  Funnel("Installing", 2, "Download", "ProgramFinsh");
  LOG(INFO) << " install Finished, nWaitSeconds: " << n;
  return nullptr;
}

void CInstallFlow::ReportInstallerSucceeded() {
  shared_->installerFinished = true;
  const int p = window_->GetProgressValue();
  LOG(INFO) << " install Finished, progress: " << p;
  if (p >= 99) shared_->progressFinish100.set();
  events_->Event("Download", "6.ProgramFinsh", shared_->firstOrRetry(), false);
  Funnel("Installing", 0, "Download", "CoreFuncEnd");
  const uint32_t s = (platform::tickCount() - shared_->installStartTick.load()) / 1000;
  events_->Event("Other", "InstallTime", std::to_string(s), false);
  if (!record_->softwareVersion.empty()) {
    events_->Event("Other", "ProductVersion", narrow(record_->softwareVersion), false);
  }
  events_->FunnelPair("RunningTime", "ActualTime", "InstCompletedClosed", std::to_string(s) + "S");
}

void CInstallFlow::OpenProductPage() {
  const int pageIndex =
      window_->ProductPageIndex() == -1 ? window_->LanguageIndex() : window_->ProductPageIndex();
  const std::wstring pageControl = ProductPageControl(pageIndex);
  const std::wstring page = pageControl.empty() ? L"" : labels_->getLabelText(pageControl);
  if (page.empty()) return;
  LOG(INFO) << " Open Url: " << narrow(page);
  if (settings_.openUrl) settings_.openUrl(page);
}

void CInstallFlow::RestartForAutomatedRun(const InstallerFiles& files) {
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  LOG(INFO) << " Force Exit 1";
  removeIfPresent(files.installer);
  LOG(INFO) << " Force Exit 2";
  removeIfPresent(files.taskFile());
  LOG(INFO) << " Force Exit 3";
  removeIfPresent(files.hashRecord());
  LOG(INFO) << " Force Exit 4";
  if (settings_.releaseInstanceLock) settings_.releaseInstanceLock();
  LOG(INFO) << " Force Exit 5";
  const std::string self = settings_.modulePath;
  LOG(INFO) << " Force Exit 6";
  const int r = settings_.restartSelf ? settings_.restartSelf(self) : -1;
  LOG(INFO) << " Force Exit 7 error code = " << r << ", " << errno;
  window_->RequestClose();
  LOG(INFO) << " Force Exit 8";
}

}  // namespace install
