// The install thread up to the verified installer: configuration, URL,
// cache, the download attempts and the verification table.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
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

std::wstring toLower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

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

void removeIfPresent(const std::wstring& path) { std::remove(narrow(path).c_str()); }

}  // namespace

void CInstallFlow::Flow(const char* code) {
  events_->Event(common::flow::kCategory, common::flow::kAction, code, false);
}

void CInstallFlow::Funnel(const std::string& coreFunc, int32_t step, const std::string& category,
                          const std::string& action) {
  events_->Funnel("CoreFuncEvent", coreFunc, step, category, action, "null", false, false);
}

std::wstring CInstallFlow::LocalInstallerName(bool mayWait) const {
  std::wstring name = window_->getLabelText(L"Extra_download_url");
  const size_t slash = name.rfind(L'/');
  if (slash != std::wstring::npos) name = name.substr(slash + 1);
  const size_t dot = name.find(L'.');
  if (dot != std::wstring::npos) name = name.substr(0, dot);
  std::wstring version, extraUrl;
  RecordNames(mayWait, &version, &extraUrl);
  // The version comes from the server: one that could leave the cache
  // folder or break the name is no version.
  if (!IsSafeNamePart(version)) version.clear();
  return name + L"_" + version + (IsExeUrl(extraUrl) ? L".exe" : L".apk");
}

void CInstallFlow::RecordNames(bool mayWait, std::wstring* version, std::wstring* extraUrl) const {
  common::Mutex* mu = record_->fetchMutex();
  auto copy = [&]() EXCLUSIVE_LOCKS_REQUIRED(mu) {
    *version = record_->softwareVersion;
    *extraUrl = record_->extraDownloadUrl;
  };
  if (mayWait) {
    common::MutexLock lock(mu);
    copy();
  } else if (mu->tryLock()) {
    copy();
    mu->unlock();
  } else {
    *version = window_->getLabelText(L"Software_version");
    *extraUrl = window_->getLabelText(L"Extra_download_url");
  }
}

bool CInstallFlow::IsExeUrl(const std::wstring& url) {
  return url.size() < 4 || url.compare(url.size() - 4, 4, L".exe") == 0;
}

bool CInstallFlow::ExtraUrlIsExe(bool mayWait) const {
  std::wstring version, extraUrl;
  RecordNames(mayWait, &version, &extraUrl);
  return IsExeUrl(extraUrl);
}

std::wstring CInstallFlow::InstallerPath(bool mayWait) const {
  return settings_.cacheDir + L"/" + LocalInstallerName(mayWait);
}

// Phase 3, step 10: a hash record from a completed download of this very
// version and MD5 keeps the installer; any other one clears the cache.
static void applyHashRecord(const config::CConfigure& record, const std::wstring& installer) {
  const std::string dbPath = narrow(installer + L".db");
  std::ifstream db(dbPath, std::ios::binary);
  if (!db) return;
  std::string line;
  std::getline(db, line);
  if (line.size() > 260) line.resize(260);
  db.close();
  std::wstring version, md5;
  const std::wstring text = common::utf8ToWide(line);
  const size_t mark = text.find(L"###");
  if (mark != std::wstring::npos) {
    version = text.substr(0, mark);
    md5 = text.substr(mark + 3);
  }
  bool keep = false;
  if (version == record.softwareVersion) {
    md5 = toLower(md5);
    keep = md5 == record.md5 || md5 == record.md5Extra;
  }
  if (!keep) {
    removeIfPresent(installer);
    removeIfPresent(installer + L".xml");
  }
  std::remove(dbPath.c_str());
}

int CInstallFlow::DownloadWithRetries(const std::wstring& url, const std::wstring& path,
                                      uint32_t* tDl) {
  (void)tDl;
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
  // Phase 1: configuration.
  const uint32_t t0 = platform::tickCount();
  shared_->downloadPartIndex = 0;
  shared_->abandon = true;
  CompleteConfiguration(record_, *window_, settings_.query);
  if (record_->state == config::CConfigure::kFilled) record_->printContent();
  events_->FunnelPair("Download", "DownloadConfigReady", "default_config",
                      record_->source == config::CConfigure::kSourceEmbedded ? "1" : "0");

  // Phase 2: the download URL.
  std::wstring used = checkRemotePath(record_->urlList, kSelectFirstDirect, record_->softwareName);
  float osVersion = config::kModernOsVersion;
  if (settings_.query.systemName) (void)settings_.query.systemName(&osVersion);
  used = CheckLegacyLink(used, osVersion, *window_);
  shared_->setUsedUrl(used);
  if (used.size() < 5) {
    LOG(INFO) << "url is empty";
    record_->state = config::CConfigure::kNotFilled;
    Flow(common::flow::kNoDownloadUrl);
    window_->PostInstallMessage(MSG_DOWNLOAD_FAILED, kNoUrlResult);
    return kInstallFailed;
  }
  uint32_t tDl = platform::tickCount();
  LOG(INFO) << " Speed-Test Totally Take "
            << defaultDouble(std::trunc(double(tDl - t0) * 100) / 100) << " ms";
  (void)GetIEProxyConfig();

  // Phase 3: the cache.
  const std::wstring installer = InstallerPath();
  applyHashRecord(*record_, installer);
  window_->SetAnimationTimer(true);
  if (record_->source == config::CConfigure::kSourceEmbedded) {
    LOG(INFO) << " Configure Load From File, clearAppData Before Download! ";
    ClearAPPData();
  }

  // Phase 4: the attempts.
  const int res = DownloadWithRetries(used, installer, &tDl);
  if (res == engine::kErrStopped) {
    LOG(INFO) << " Install thread ends: the window closed during the download";
    return kInstallFailed;
  }

  // Phase 5: after the attempts.
  Funnel("Downloading", 3, "Download", "DownFinsh");
  const uint32_t s = (platform::tickCount() - tDl) / 1000;
  events_->Event("Other", "MDownloadTime", std::to_string(s), false);
  Funnel("Downloading", 0, "Download", "CoreFuncEnd");
  char speed[64] = {};
  // A download shorter than a second is measured in milliseconds: whole
  // seconds would divide by zero and report "infMB/s".
  const uint32_t ms = std::max<uint32_t>(1, platform::tickCount() - tDl);
  const float quotient =
      s > 0 ? static_cast<float>(shared_->packageSize.load()) / static_cast<float>(s)
            : static_cast<float>(shared_->packageSize.load()) * 1000.0f / static_cast<float>(ms);
  std::snprintf(speed, sizeof(speed), "%.2fMB/s", quotient / 1024.0f / 1024.0f);
  events_->Event("Other", "DownloadSpeed", speed, false);
  const uint32_t tEnd = platform::tickCount();
  shared_->downloadDoneTick = tEnd;
  const uint32_t t = static_cast<uint32_t>((tEnd - tDl) / 1000.0);
  events_->Event("Other", "DownloadTime", std::to_string(t), false);
  LOG(INFO) << " DownloadTime total use " << t;
  events_->FunnelPair("RunningTime", "DownloadDuration", "DownloadCompleted",
                      std::to_string((tEnd - shared_->installClickTick.load()) / 1000) + "S");
  if (res != engine::kErrSuccess) {
    events_->Event("Other", "DownErrorCode", "error_" + std::to_string(res), false);
    window_->PostInstallMessage(MSG_DOWNLOAD_FAILED, static_cast<uintptr_t>(res));
    return kInstallFailed;
  }
  events_->FunnelPair("Download", "DownloadSuccess", "", "");
  events_->FunnelEx("Download", "MDownSuccess",
                    {{"AddressType", "NO"},
                     {"Download address",
                      HostClass(used) == kHostAliCdn ? "Extra_download_url" : "Download_url"}},
                    false, false);
  if (!ExtraUrlIsExe()) {
    window_->PostInstallMessage(MSG_PACKAGE_DOWNLOADED, 0);
    LOG(INFO) << "APP DownloaderSucceed";
    return kPackageOnly;
  }

  // Phase 6: verification, of the very file that will run: it is held
  // open from here to its start, so nothing put at its path meanwhile is
  // checked or started.
  platform::HeldFile held;
  int openError = 0;
  const platform::PlatformResult opened =
      platform::HeldFile::open(narrow(installer), &held, &openError);
  if (opened != platform::PlatformResult::kOk) {
    LOG(INFO) << " Installer not opened for verification: " << platform::resultName(opened) << ", "
              << openError;
  }
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
    md5 = engine::CDownLoadImpl::checkMD5(installer, record_->md5, record_->md5Extra,
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

  const int32_t pid = common::parseLeadingInt32(window_->getLabelText(L"Downloader_id"));
  if (md5 != 1 || !signature) {
    const EnumVerifyFailure failure =
        !signature ? (md5 == 1 ? EnumVerifyFailure::kSignature : EnumVerifyFailure::kBoth)
                   : EnumVerifyFailure::kMd5;
    Flow(failure == EnumVerifyFailure::kMd5         ? common::flow::kMd5Mismatch
         : failure == EnumVerifyFailure::kSignature ? common::flow::kSignatureInvalid
                                                    : common::flow::kBothInvalid);
    (void)SendErrorReport2(failure, pid, *record_, shared_->usedUrl(), settings_.reports);
  }
  if (!signature) {
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
  return RunInstaller(tEnd, held);
}

}  // namespace install
