#include "system/system_rules.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "common/text.h"

namespace FuntionImpl {
namespace {

struct NamedVersion {
  const char* name;
  float number;
};

// The 4.x-6.x rows, which need the extended version facts.
std::string legacyWindowsName(const WindowsVersionFacts& f, float* number) {
  const bool workstation = f.productType == 1;
  auto pick = [number](NamedVersion v) {
    *number = v.number;
    return std::string(v.name);
  };
  switch (f.major) {
    case 4:
      if (f.minor == 0) return pick({f.platformNt ? "Windows NT 4.0" : "Windows 95", 0.0f});
      if (f.minor == 10) return pick({"Windows 98", 1.0f});
      if (f.minor == 90) return pick({"Microsoft Windows Me", 2.0f});
      return {};
    case 5:
      if (f.minor == 0) return pick({"Windows 2000", 3.0f});
      if (f.minor == 1) return pick({"Windows XP", 4.0f});
      if (f.minor == 2) {
        if (workstation && f.processorArchitecture == 9) {
          return pick({"Windows XP Professional x64 Edition", 5.0f});
        }
        return pick({f.serverR2 ? "Windows Server 2003 R2" : "Windows Server 2003", 5.0f});
      }
      return {};
    case 6:
      if (f.minor == 0) return pick({workstation ? "Windows Vista" : "Windows Server 2008", 6.0f});
      if (f.minor == 1) return pick({workstation ? "Windows 7" : "Windows Server 2008 R2", 7.0f});
      if (f.minor == 2) return pick({workstation ? "Windows 8" : "Windows Server 2012", 8.0f});
      return {};
    default: return "Error";
  }
}

// Splits a version text at '.' into its first four numbers.
void versionParts(const std::wstring& text, int64_t parts[4]) {
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    parts[i] = 0;
    if (start > text.size()) continue;
    const size_t dot = text.find(L'.', start);
    const std::wstring part =
        text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
    parts[i] = common::parseLeadingInt64(part);
    start = dot == std::wstring::npos ? text.size() + 1 : dot + 1;
  }
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

std::string WindowsNameFromFacts(const WindowsVersionFacts& facts, float* number) {
  if (facts.currentBuild && common::parseLeadingInt64(*facts.currentBuild) > 21999) {
    *number = 11.0f;
    return "Windows 11";
  }
  if (facts.hasNtVersion) {
    if (facts.ntMajor == 6 && facts.ntMinor == 3) {
      *number = 8.1f;
      return "Windows 8.1";
    }
    if (facts.ntMajor == 10 && facts.ntMinor == 0) {
      *number = 10.0f;
      return "Windows 10";
    }
  }
  if (!facts.hasVersionEx) return {};
  return legacyWindowsName(facts, number);
}

std::string SystemNameFromRelease(const std::string& prettyName, const std::string& versionId,
                                  float* number) {
  *number = kWindowsEquivalentVersion;
  if (versionId.empty() || prettyName.find(versionId) != std::string::npos) return prettyName;
  if (prettyName.empty()) return versionId;
  return prettyName + " " + versionId;
}

std::wstring MoveToBestDrive(const std::wstring& path, const std::wstring& pathRoot,
                             const std::vector<DriveCandidate>& drives) {
  if (pathRoot.empty() || path.compare(0, pathRoot.size(), pathRoot) != 0) return path;
  const DriveCandidate* best = nullptr;
  for (const auto& d : drives) {
    // The cache holds the installer and the install folder the product: a
    // volume that may not start programs breaks every install.
    if (!d.fixed || d.usb || !d.writable || !d.runsPrograms) continue;
    if (best == nullptr || d.freeBytes > best->freeBytes) best = &d;
  }
  if (best == nullptr) return path;
  return best->root + path.substr(pathRoot.size());
}

int CompareVersionTexts(const std::wstring& a, const std::wstring& b) {
  int64_t pa[4], pb[4];
  versionParts(a, pa);
  versionParts(b, pb);
  for (int i = 0; i < 4; ++i) {
    if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
  }
  return 0;
}

std::wstring NeededNetFrameVersion(const std::wstring& fileText) {
  std::wistringstream in(fileText);
  std::wstring line;
  bool inSettings = false;
  while (std::getline(in, line)) {
    // getline drops the line end the reader of the file keeps.
    if (!in.eof()) line += L'\n';
    if (line.size() < 3) continue;
    if (line.find(L"[Settings]") != std::wstring::npos) {
      inSettings = true;
      continue;
    }
    if (line.find(L"[Text]") != std::wstring::npos) break;
    if (!inSettings) continue;
    const size_t eq = line.find(L'=');
    if (eq == std::wstring::npos || eq == 0) continue;
    if (line.compare(0, eq, L"NetFrameworkVersion") == 0) return line.substr(eq + 1);
  }
  return {};
}

std::string SiteTrafficType(int siteId) {
  switch (siteId) {
    case 2:
    case 8:
    case 74:
    case 84:
    case 206:
    case 293:
    case 305:
    case 338: return "PPC";
    case 54:
    case 93:
    case 290:
    case 354: return "CN";
    default: return "SEO";
  }
}

std::string BrandLabel(int siteId, const std::string& rawText, const BrandTable& brands) {
  const auto base = brands.find(siteId);
  if (base == brands.end()) return std::to_string(siteId);
  const std::string text = lower(rawText);
  const std::string& label = base->second;
  const bool bing = contains(text, "_bing_") || contains(text, "_bing.");
  // Site ids 66 and 84 recognise their download names by site 66's brand.
  const auto base66It = brands.find(66);
  const std::string base66 = base66It == brands.end() ? std::string() : lower(base66It->second);
  switch (siteId) {
    case 2:
    case 74:
    case 206:
      if (bing) return label + "-Bing";
      if (contains(text, "_yahoo_") || contains(text, "_yahoo.")) return label + "-Yahoo";
      return label;
    case 8: return bing ? label + "-Bing" : label;
    case 61: return contains(text, "_online") ? label + "Online" : label;
    case 66: return contains(text, "_" + base66 + "free.") ? label + "Free" : label;
    case 84:
      if (contains(text, "_bing.") || contains(text, "_" + base66 + "bing."))
        return label + "-Bing";
      return label;
    default: return label;
  }
}

std::string FormatFixedZoneTime(int64_t utcSeconds) {
  // Civil-calendar arithmetic instead of gmtime: the same on every system,
  // for any 64-bit time, and no shared state.
  using namespace std::chrono;
  const sys_seconds shifted{seconds{utcSeconds + 8 * 3600}};
  const sys_days day = floor<days>(shifted);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{shifted - day};
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace FuntionImpl
