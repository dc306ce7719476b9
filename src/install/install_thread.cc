// The install thread up to the verified installer: configuration, URL,
// cache, the download attempts and the verification table.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>

#include "common/flow_errors.h"
#include "common/log.h"
#include "common/text.h"
#include "engine/download_impl.h"
#include "engine/error_code.h"
#include "config/download_info_url.h"
#include "install/install_flow.h"
#include "install/source_selection.h"
#include "install/window_messages.h"
#include "platform/clock.h"
#include "platform/paths.h"

namespace install {
namespace {

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

const char* flowErrorOf(int result) {
  switch (result) {
    case engine::kErrNetworkNotAlive: return common::flow::kNetworkDown;
    case engine::kErrNoProgress: return common::flow::kNoProgress;
    case engine::kErrNoContentLength: return common::flow::kNoContentLength;
    case engine::kErrTooManyRedirects: return common::flow::kTooManyRedirects;
    case engine::kErrFileNotOpened: return common::flow::kFileNotOpened;
    case engine::kErrNoWorkerThread: return common::flow::kNoWorkerThread;
    case engine::kErrLengthShort: return common::flow::kLengthShort;
    case engine::kErrFileTooSmall: return common::flow::kFileTooSmall;
    default: return common::flow::kDownloadOther;
  }
}

// The default way a wide stream prints a double: "1234.5".
std::string defaultDouble(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

void CInstallFlow::Flow(const char* code) {
  events_->Event(common::flow::kCategory, common::flow::kAction, code, false);
}

void CInstallFlow::Funnel(const std::string& coreFunc, int32_t step, const std::string& category,
                          const std::string& action) {
  events_->Funnel("CoreFuncEvent", coreFunc, step, category, action, "null", false, false);
}

InstallerFiles CInstallFlow::FilesOfRecord(bool mayWait) const {
  std::wstring version, extraUrl;
  RecordNames(mayWait, &version, &extraUrl);
  return InstallerFilesFor(settings_.cacheDir, labels_->getLabelText(L"Extra_download_url"),
                           version, extraUrl);
}

void CInstallFlow::RecordNames(bool mayWait, std::wstring* version, std::wstring* extraUrl) const {
  const std::optional<config::ConfigureFields> fields = mayWait ? record_->copy()
                                                                : record_->tryCopy();
  if (fields) {
    *version = fields->softwareVersion;
    *extraUrl = fields->extraDownloadUrl;
  } else {
    *version = labels_->getLabelText(L"Software_version");
    *extraUrl = labels_->getLabelText(L"Extra_download_url");
  }
}

bool CInstallFlow::ExtraUrlIsExe(bool mayWait) const {
  std::wstring version, extraUrl;
  RecordNames(mayWait, &version, &extraUrl);
  return IsInstallerUrl(extraUrl);
}

std::wstring CInstallFlow::InstallerPath(bool mayWait) const {
  return FilesOfRecord(mayWait).installer;
}

void CInstallFlow::ClearInstallerFiles(const InstallerFiles& files) {
  int error = 0;
  const bool removed = RemoveInstallerFiles(files, &error);
  LOG(INFO) << " Clear cache: " << (removed ? 1 : 0) << ", " << error;
}

int CInstallFlow::DownloadWithRetries(const std::wstring& url, const std::wstring& path) {
  const int hostClass = HostClass(url);
  const std::string kind = hostClass == kHostAliCdn ? "Extra_download_url" : "Download_url";
  events_->Event("Download", "3.Downloading...", shared_->firstOrRetry(), false);
  events_->Funnel("CoreFuncEvent", "Downloading", 2, "Download", "Downloading", "null", false,
                  false);

  engine::DownloadOptions options;
  options.threadCount = settings_.downloadThreads;
  options.stop = &shared_->closing;
  options.onProgress = [this](int64_t downloaded, int64_t total) {
    window_->OnDownloadProgress(downloaded, total);
  };
  std::string cdnInfo;
  int res = 0;
  const int attempts = settings_.downloadAttempts;
  for (int n = 1; n <= attempts; ++n) {
    char pair[256] = {};
    std::snprintf(pair, sizeof(pair), "%s-%d", kind.c_str(), n);
    events_->FunnelPair("Download", "Use download address", "Use download address Type", pair);
    events_->FunnelPair("Download", "SliceDownloadStart", "", "");
    LOG(INFO) << " Tasks info, round begin, current = " << n << ", total = " << attempts;
    res = engine::CDownLoadImpl::SuperDownloadFile(url, path, &cdnInfo, options);
    LOG(INFO) << " Tasks info, round end, current = " << n << ", total = " << attempts
              << ", result = " << res;
    if (!cdnInfo.empty()) events_->Event("Other", "CDNInfor", cdnInfo, false);
    if (res == engine::kErrSuccess) {
      // The comma is a full-width one (U+FF0C) in the maker's log format.
      if (n > 1) LOG(INFO) << "Success\xEF\xBC\x8CThe Retry Frequency is: " << n - 1;
      break;
    }
    // A closing window is no download failure: nothing to report, no retry.
    if (res == engine::kErrStopped) break;
    Flow(flowErrorOf(res));
    if (res == engine::kErrTooManyRedirects) {
      (void)SendErrorReport1(*record_, shared_->usedUrl(), settings_.reports);
    }
    if (n == attempts) {
      LOG(INFO) << " The Retry Frequency is: " << attempts - 1;
      break;
    }
    LOG(INFO) << " The Retry Frequency is: " << n - 1;
  }
  return res;
}

uint32_t CInstallFlow::InstallThreadFunc() {
  // Whatever goes wrong, the window must leave its running page: without a
  // message it would wait there with no way forward.
  try {
    return InstallThreadBody();
  } catch (const std::exception& e) {
    LOG(INFO) << " install thread ended by an exception: " << e.what();
  } catch (...) {
    LOG(INFO) << " install thread ended by an unknown exception";
  }
  Flow(common::flow::kInstallThreadFailed);
  shared_->slowProgressStop = 1;
  window_->SetAnimationTimer(false);
  window_->PostInstallMessage(MSG_DOWNLOAD_FAILED, 0);
  return kInstallFailed;
}

uint32_t CInstallFlow::InstallThreadBody() {
  const uint32_t configStart = platform::tickCount();
  CompleteTheConfiguration();
  const std::wstring used = ChooseDownloadUrl();
  if (used.empty()) return kInstallFailed;
  const uint32_t downloadStart = platform::tickCount();
  LOG(INFO) << " Speed-Test Totally Take "
            << defaultDouble(std::trunc(double(downloadStart - configStart) * 100) / 100) << " ms";
  (void)GetIEProxyConfig();

  // The installer's files are named once for the whole run.
  const InstallerFiles files = FilesOfRecord();
  PrepareCache(files);
  const int res = DownloadWithRetries(used, files.installer);
  if (res == engine::kErrStopped) {
    LOG(INFO) << " Install thread ends: the window closed during the download";
    return kInstallFailed;
  }
  const uint32_t downloadEnd = ReportDownloadEnd(downloadStart);
  if (res != engine::kErrSuccess) {
    events_->Event("Other", "DownErrorCode", "error_" + std::to_string(res), false);
    window_->PostInstallMessage(MSG_DOWNLOAD_FAILED, static_cast<uintptr_t>(res));
    return kInstallFailed;
  }
  ReportDownloadSuccess(used);
  if (!ExtraUrlIsExe()) {
    window_->PostInstallMessage(MSG_PACKAGE_DOWNLOADED, 0);
    LOG(INFO) << "APP DownloaderSucceed";
    return kPackageOnly;
  }

  // The very file that is checked is the one that runs: it is held open
  // from here to its start, so nothing put at its path meanwhile is
  // checked or started.
  platform::HeldFile held;
  int openError = 0;
  const platform::PlatformResult opened =
      platform::HeldFile::open(narrow(files.installer), &held, &openError);
  if (opened != platform::PlatformResult::kOk) {
    LOG(INFO) << " Installer not opened for verification: " << platform::resultName(opened) << ", "
              << openError;
  }
  if (!VerifyInstaller(files, held)) {
    // The signature decides: a file the maker did not sign never runs.
    shared_->slowProgressStop = 1;
    window_->PostInstallMessage(MSG_VERIFY_FAILED, 0);
    return kInstallFailed;
  }
  // A close the user confirmed during the verification: nothing new runs.
  if (shared_->closing.load()) {
    LOG(INFO) << " Install thread ends: the window closed during the verification";
    return kInstallFailed;
  }
  return RunInstaller(downloadEnd, files, held);
}

void CInstallFlow::CompleteTheConfiguration() {
  shared_->downloadPartIndex = 0;
  shared_->abandon = true;
  CompleteConfiguration(record_, *labels_, settings_.query);
  if (record_->state == config::CConfigure::kFilled) record_->printContent();
  events_->FunnelPair("Download", "DownloadConfigReady", "default_config",
                      record_->source == config::CConfigure::kSourceEmbedded ? "1" : "0");
}

std::wstring CInstallFlow::ChooseDownloadUrl() {
  std::wstring used = checkRemotePath(record_->urlList, kSelectFirstDirect, record_->softwareName);
  float osVersion = config::kModernOsVersion;
  if (settings_.query.systemName) (void)settings_.query.systemName(&osVersion);
  used = CheckLegacyLink(used, osVersion, *labels_);
  shared_->setUsedUrl(used);
  if (used.size() >= 5) return used;
  LOG(INFO) << "url is empty";
  record_->state = config::CConfigure::kNotFilled;
  Flow(common::flow::kNoDownloadUrl);
  window_->PostInstallMessage(MSG_DOWNLOAD_FAILED, kNoUrlResult);
  return L"";
}

void CInstallFlow::PrepareCache(const InstallerFiles& files) {
  ApplyHashRecord(files, record_->softwareVersion, record_->md5, record_->md5Extra);
  window_->SetAnimationTimer(true);
  if (record_->source == config::CConfigure::kSourceEmbedded) {
    LOG(INFO) << " Configure Load From File, clearAppData Before Download! ";
    ClearInstallerFiles(files);
  }
}

uint32_t CInstallFlow::ReportDownloadEnd(uint32_t downloadStart) {
  Funnel("Downloading", 3, "Download", "DownFinsh");
  const uint32_t s = (platform::tickCount() - downloadStart) / 1000;
  events_->Event("Other", "MDownloadTime", std::to_string(s), false);
  Funnel("Downloading", 0, "Download", "CoreFuncEnd");
  char speed[64] = {};
  // A download shorter than a second is measured in milliseconds: whole
  // seconds would divide by zero and report "infMB/s".
  const uint32_t ms = std::max<uint32_t>(1, platform::tickCount() - downloadStart);
  const float bytes = static_cast<float>(shared_->packageSize.load());
  const float quotient = s > 0 ? bytes / static_cast<float>(s)
                               : bytes * 1000.0f / static_cast<float>(ms);
  std::snprintf(speed, sizeof(speed), "%.2fMB/s", quotient / 1024.0f / 1024.0f);
  events_->Event("Other", "DownloadSpeed", speed, false);
  const uint32_t end = platform::tickCount();
  shared_->downloadDoneTick = end;
  const uint32_t t = static_cast<uint32_t>((end - downloadStart) / 1000.0);
  events_->Event("Other", "DownloadTime", std::to_string(t), false);
  LOG(INFO) << " DownloadTime total use " << t;
  events_->FunnelPair("RunningTime", "DownloadDuration", "DownloadCompleted",
                      std::to_string((end - shared_->installClickTick.load()) / 1000) + "S");
  return end;
}

void CInstallFlow::ReportDownloadSuccess(const std::wstring& used) {
  events_->FunnelPair("Download", "DownloadSuccess", "", "");
  events_->FunnelEx("Download", "MDownSuccess",
                    {{"AddressType", "NO"},
                     {"Download address",
                      HostClass(used) == kHostAliCdn ? "Extra_download_url" : "Download_url"}},
                    false, false);
}

bool CInstallFlow::VerifyInstaller(const InstallerFiles& files, const platform::HeldFile& held) {
  shared_->verifyStartTick = platform::tickCount();
  shared_->slowProgressStop = 0;
  window_->PostInstallMessage(MSG_VERIFY_STARTED, 0);
  events_->Event("Download", "Md5CheckStart", "", false);
  Funnel("Md5Check", 0, "Download", "CoreFuncStart");
  Funnel("Md5Check", 1, "Download", "Md5CheckStart");
  // A file that could not be held is no file of ours: both checks fail.
  int md5 = 0;
  if (record_->source == config::CConfigure::kSourceEmbedded) {
    md5 = 1;
  } else if (held.isOpen()) {
    md5 = engine::CDownLoadImpl::checkMD5(files.installer, record_->md5, record_->md5Extra,
                                          record_->softwareVersion, held.path());
  }
  LOG(INFO) << " after md5 ";
  const bool signature = held.isOpen() && settings_.verifySignature &&
                         settings_.verifySignature(common::utf8ToWide(held.path()));
  const std::string secs =
      std::to_string((platform::tickCount() - shared_->verifyStartTick.load()) / 1000);
  events_->Event("Other", "MMD5CheckTime", secs, false);
  Funnel("Md5Check", 2, "Download", "Md5CheckFinsh");
  events_->Event("Other", "MD5CheckTime", secs, false);
  Funnel("Md5Check", 0, "Download", "CoreFuncEnd");
  events_->FunnelPair("RunningTime", "VerificationDuration", "VerificationDurationPar", secs + "S");
  events_->Event("Download", "Md5CheckFinsh", "", false);

  if (md5 != 1 || !signature) {
    const EnumVerifyFailure failure =
        !signature ? (md5 == 1 ? EnumVerifyFailure::kSignature : EnumVerifyFailure::kBoth)
                   : EnumVerifyFailure::kMd5;
    Flow(failure == EnumVerifyFailure::kMd5         ? common::flow::kMd5Mismatch
         : failure == EnumVerifyFailure::kSignature ? common::flow::kSignatureInvalid
                                                    : common::flow::kBothInvalid);
    const int32_t pid = common::parseLeadingInt32(labels_->getLabelText(L"Downloader_id"));
    (void)SendErrorReport2(failure, pid, *record_, shared_->usedUrl(), settings_.reports);
  }
  return signature;
}

}  // namespace install
