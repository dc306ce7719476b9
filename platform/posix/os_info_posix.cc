#include "platform/os_info.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace platform {

OsRelease osRelease(const std::string& path) {
  std::vector<std::string> candidates = {"/etc/os-release", "/usr/lib/os-release"};
  if (!path.empty()) candidates = {path};
  std::string text;
  for (const auto& candidate : candidates) {
    std::ifstream in(candidate);
    if (!in) continue;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    break;
  }
  OsRelease result = parseOsRelease(text);
  if (result.prettyName.empty()) {
    utsname u{};
    if (uname(&u) == 0) result.prettyName = std::string(u.sysname) + " " + u.release;
  }
  return result;
}

std::string uiLocale() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

}  // namespace platform
