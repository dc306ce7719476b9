#include "telemetry/system_facts_seam.h"

#include <cstdio>
#include <sstream>

#include "config/services.h"
#include "platform/executable_section.h"
#include "platform/os_info.h"
#include "platform/paths.h"
#include "platform/system_info.h"

namespace telemetry {

namespace {

std::string FileVersionOf(const std::string& path) {
  std::string section;
  if (platform::readExecutableSection(path, ".websetup_version", &section) !=
      platform::PlatformResult::kOk) {
    return std::string();
  }
  std::istringstream lines(section);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("FileVersion=", 0) == 0) return line.substr(12);
  }
  return std::string();
}

}  // namespace

TelemetryFacts CollectTelemetryFacts() {
  TelemetryFacts facts;
  facts.modulePath = platform::modulePath();
  facts.setupVersion = FileVersionOf(facts.modulePath);
  facts.osName = platform::osRelease().prettyName;
  facts.os64 = platform::is64BitOs();
  // Without the language table of the system services the id stands for
  // both halves, as an id missing from that table does.
  const unsigned id = platform::languageIdOfLocale(platform::uiLocale());
  char name[32];
  std::snprintf(name, sizeof name, "0x%.4x_0x%.4x", id, id);
  facts.uiLanguageName = name;
  return facts;
}

std::string SiteTrafficType(int siteId) {
  switch (siteId) {
    case 2: case 8: case 74: case 84: case 206: case 293: case 305: case 338:
      return "PPC";
    case 54: case 93: case 290: case 354:
      return "CN";
    default:
      return "SEO";
  }
}

std::string BrandLabel(int siteId, const std::string& /*downloadUrl*/) {
  const auto& brands = config::processServices().brands();
  auto it = brands.find(siteId);
  return it == brands.end() ? std::to_string(siteId) : it->second;
}

}  // namespace telemetry
