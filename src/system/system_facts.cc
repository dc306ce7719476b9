#include "system/system_facts.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "common/log.h"
#include "common/text.h"
#include "platform/dev_settings.h"
#include "platform/drives.h"
#include "platform/os_info.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/system_info.h"
#include "system/system_rules.h"

namespace FuntionImpl {
namespace {

std::mutex screenMu;
ScreenSource& screenSource() {
  static ScreenSource source;
  return source;
}

std::mutex brandsMu;
// Shared, never modified once published: a reader keeps its copy alive.
std::shared_ptr<const BrandTable>& brandTable() {
  static std::shared_ptr<const BrandTable> table = std::make_shared<const BrandTable>();
  return table;
}

// Registry values hold at most this many characters for the callers here.
constexpr size_t kRegStringLimit = 260;

}  // namespace

std::string GetSystemName(float* number) {
  const platform::OsRelease release = platform::osRelease();
  std::string name = SystemNameFromRelease(release.prettyName, release.versionId, number);
  // On Windows the rules read Windows' own number (below 10.0 takes the
  // legacy package).
  if (release.windowsMajor != 0 && number != nullptr) {
    *number = static_cast<float>(release.windowsMajor) +
              static_cast<float>(release.windowsMinor % 10) / 10.0f;
  }
  return name;
}

bool IsSystem64Bit() { return platform::is64BitOs(); }

std::string GetSystemLanguageName() {
  return LanguageNameOfId(platform::languageIdOfLocale(platform::uiLocale()));
}

void SetScreenSource(ScreenSource source) {
  std::lock_guard<std::mutex> lock(screenMu);
  screenSource() = std::move(source);
}

double GetScreenSize(int* width, int* height) {
  ScreenSource source;
  {
    std::lock_guard<std::mutex> lock(screenMu);
    source = screenSource();
  }
  int pixelWidth = 0, pixelHeight = 0, logicalWidth = 0;
  if (!source || !source(&pixelWidth, &pixelHeight, &logicalWidth)) {
    *width = 0;
    *height = 0;
    return 1.0;
  }
  *width = pixelWidth;
  *height = pixelHeight;
  // A display that reports no desktop width has no scale to speak of.
  return logicalWidth > 0 ? static_cast<double>(pixelWidth) / logicalWidth : 1.0;
}

std::wstring GetBestDrivePath(const std::wstring& path) {
  const std::string narrow = common::wideToUtf8(path);
  std::string root = platform::driveRoot(narrow);
  // A path naming the mount point itself, without the trailing '/'.
  if (narrow + "/" == root) return common::utf8ToWide(root);
  std::vector<DriveCandidate> candidates;
  for (const auto& d : platform::listDrives()) {
    candidates.push_back(
        {common::utf8ToWide(d.root), d.fixed, d.usb, d.writable, d.freeBytes, d.runsPrograms});
  }
  return MoveToBestDrive(path, common::utf8ToWide(root), candidates);
}

std::wstring GetRegString(const std::wstring& key, const std::wstring& name) {
  platform::RegistryValue value;
  if (platform::registryRead(platform::RegistryHive::kLocalMachine, common::wideToUtf8(key),
                             common::wideToUtf8(name), &value) != platform::PlatformResult::kOk ||
      value.type != platform::RegistryType::kString) {
    return {};
  }
  std::wstring text = common::utf8ToWide(value.text);
  if (text.size() > kRegStringLimit) return {};
  return text;
}

bool SetRegString(const std::wstring& key, const std::wstring& name, const std::wstring& data) {
  platform::RegistryValue value;
  value.type = platform::RegistryType::kString;
  value.text = common::wideToUtf8(data);
  return platform::registryWrite(platform::RegistryHive::kLocalMachine, common::wideToUtf8(key),
                                 common::wideToUtf8(name), value) == platform::PlatformResult::kOk;
}

std::string GetFixedZoneTime() {
  return FormatFixedZoneTime(static_cast<int64_t>(std::time(nullptr)));
}

bool IsTestEnv() { return platform::readDevSettings().testEnv; }
bool IsAutoRun() { return platform::readDevSettings().autoRun; }
bool IsCrashTest() { return platform::readDevSettings().crashTest; }

int AuthorizeInFirewall(const std::wstring& imagePath) {
  std::printf("Authorized application %ls is enabled in the firewall.\n", imagePath.c_str());
  std::fflush(stdout);
  return 0;
}

bool WillShowNetFrameCheck(const std::wstring& directory) {
  std::wstring needed;
  std::ifstream in(common::wideToUtf8(directory) + "/NetFrameCheck.db", std::ios::binary);
  if (in) {
    // A settings file of a few lines; anything far larger is not one, and
    // is not read into memory whole.
    constexpr std::streamsize kMaxBytes = 1 << 20;
    std::string bytes(static_cast<size_t>(kMaxBytes) + 1, '\0');
    in.read(bytes.data(), kMaxBytes + 1);
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() > static_cast<size_t>(kMaxBytes)) {
      LOG(INFO) << " NetFrameCheck.db is larger than 1 MiB, ignored";
      return false;
    }
    // The file is UTF-8 text; a byte-order mark is not part of the first line.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    // Read as text: a CR LF line end counts as one LF.
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] != '\r' || i + 1 >= bytes.size() || bytes[i + 1] != '\n') text += bytes[i];
    }
    bytes.swap(text);
    needed = NeededNetFrameVersion(common::utf8ToWide(bytes));
  }
  if (needed.empty()) return false;
  const std::wstring installed =
      GetRegString(L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client", L"Version");
  LOG(INFO) << " LocalNetFrame: " << common::wideToUtf8(installed)
            << ", NeedNetFrame: " << common::wideToUtf8(needed);
  return CompareVersionTexts(installed, needed) < 0;
}

std::string GetSiteTrafficType(int siteId) { return SiteTrafficType(siteId); }

void SetBrandTable(std::map<int, std::string> brands) {
  auto table = std::make_shared<const BrandTable>(std::move(brands));
  std::lock_guard<std::mutex> lock(brandsMu);
  brandTable() = std::move(table);
}

std::string GetBrandLabel(int siteId, const std::string& text) {
  std::shared_ptr<const BrandTable> table;
  {
    std::lock_guard<std::mutex> lock(brandsMu);
    table = brandTable();
  }
  return BrandLabel(siteId, text, *table);
}

}  // namespace FuntionImpl
