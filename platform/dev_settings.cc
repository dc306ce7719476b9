#include "platform/dev_settings.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "common/text.h"
#include "platform/paths.h"

namespace platform {

namespace {

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

int readProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int fallback) {
  std::ifstream in(path);
  if (!in) return fallback;
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    // A UTF-8 byte-order mark would otherwise hide the first section name.
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    const std::string t = trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[') {
      const size_t close = t.find(']');
      inSection = close != std::string::npos && equalsNoCase(trim(t.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos || !equalsNoCase(trim(t.substr(0, eq)), key)) continue;
    return common::parseLeadingInt32(common::utf8ToWide(trim(t.substr(eq + 1))));
  }
  return fallback;
}

std::string devSettingsPath() { return moduleDir() + "qm_downloader.cfg"; }

DevSettings readDevSettings() {
  DevSettings settings;
  const std::string path = devSettingsPath();
  if (!pathExists(path)) return settings;
  settings.autoRun = readProfileInt(path, "Settings", "AutoRun", 0) == 1;
  settings.testEnv = readProfileInt(path, "Settings", "TestEnv", 0) == 1;
  settings.crashTest = readProfileInt(path, "Settings", "CrashTest", 0) == 1;
  return settings;
}

}  // namespace platform
