#include "switches.h"

#include <cctype>

namespace sample_installer {
namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A caller that quoted for a shell, or passed the Windows command line
// through without splitting it, leaves the quotes on; they are never part
// of a path.
std::string unquoted(std::string value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

Switches parseSwitches(const std::vector<std::string>& args) {
  Switches s;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const size_t eq = arg.find('=');
    const std::string name = upper(arg.substr(0, eq));
    const bool hasValue = eq != std::string::npos;
    const std::string value = hasValue ? unquoted(arg.substr(eq + 1)) : std::string();
    if (name == "/VERYSILENT" && !hasValue) {
      s.verySilent = true;
    } else if (name == "/SILENT" && !hasValue) {
      s.silent = true;
    } else if (name == "/SP-" && !hasValue) {
      s.noStartupPrompt = true;
    } else if (name == "/NORESTART" && !hasValue) {
      s.noRestart = true;
    } else if (name == "/DIR" && hasValue) {
      s.dir = value;
    } else if (name == "/LANG" && hasValue) {
      s.lang = value;
    } else if (name == "/LOG") {
      s.log = value;
    } else if (name == "/SPTRACK") {
      // The tag is the next argument; a trailing /sptrack has none.
      if (hasValue) {
        s.track = value;
      } else {
        s.track = i + 1 < args.size() ? unquoted(args[++i]) : std::string();
      }
    } else {
      s.unknown.push_back(arg);
    }
  }
  return s;
}

}  // namespace sample_installer
