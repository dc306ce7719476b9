#include "config/run_locations.h"

#include <cwchar>
#include <optional>

#include "common/text.h"
#include "platform/paths.h"

namespace config {

namespace {

constexpr wchar_t kVendorFolder[] = L"RUDarodiridu";

void createChain(const std::wstring& dir) {
  // Failures are not fatal here: the logger and the install flow report
  // what they cannot open.
  (void)platform::createDirectoryChain(common::wideToUtf8(dir));
}

}  // namespace

std::wstring logStemFromUrl(const std::wstring& url, bool* found) {
  *found = false;
  const size_t slash = url.rfind(L'/');
  if (slash == std::wstring::npos) return L"";
  const size_t dot = url.find(L'.', slash);
  if (dot == std::wstring::npos) return L"";
  *found = true;
  return url.substr(slash + 1, dot - slash - 1);
}

std::wstring formatRunTimestamp(const platform::LocalTime& t) {
  wchar_t buf[260] = {};
  std::swprintf(buf, 260, L"%.4d%.2d%.2d%.2d%.2d%.2d%.3d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return buf;
}

int RunLocations::setup(const std::wstring& stem, const std::wstring& appData,
                        const platform::LocalTime& now, const DriveChooser& bestDrive) {
  stem_ = stem;
  timestamp_ = formatRunTimestamp(now);
  logDir_ = appData + L"/" + kVendorFolder + L"/logs/" + stem;
  createChain(logDir_);
  logFile_ = logDir_ + L"/" + stem + L"_" + timestamp_ + L".log";

  // The cache starts on the log folder's volume and moves to the best one.
  // WEBSETUP_CACHE_ROOT stands for that volume root (tests, the demo): the
  // cache then stays below it, whatever the best drive.
  const std::optional<std::string> cacheRoot = platform::getEnv("WEBSETUP_CACHE_ROOT");
  if (cacheRoot && !cacheRoot->empty()) {
    cacheDir_ = common::utf8ToWide(*cacheRoot) + L"/" + kVendorFolder + L"/" + stem;
  } else {
    const std::wstring root = common::utf8ToWide(platform::driveRoot(common::wideToUtf8(logDir_)));
    cacheDir_ = root + kVendorFolder + L"/" + stem;
    if (bestDrive) cacheDir_ = bestDrive(cacheDir_);
  }
  // The installer is checked in the cache and then started from it, with
  // the setup's rights: another user who can change the folder could swap
  // it in between. So the folder is ours alone, or not used.
  if (platform::ensurePrivateFolder(common::wideToUtf8(cacheDir_)) !=
      platform::PlatformResult::kOk) {
    // A volume root is often not writable by a user on this platform, where
    // a Windows drive root is: keep the cache beside the logs instead of
    // handing the install flow a folder it cannot use.
    cacheDir_ = appData + L"/" + kVendorFolder + L"/" + stem;
    (void)platform::ensurePrivateFolder(common::wideToUtf8(cacheDir_));
  }
  configured_ = true;
  return 1;
}

RunLocations& processRunLocations() {
  static RunLocations locations;
  return locations;
}

}  // namespace config
