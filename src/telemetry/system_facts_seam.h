#ifndef WEBSETUP_TELEMETRY_SYSTEM_FACTS_SEAM_H_
#define WEBSETUP_TELEMETRY_SYSTEM_FACTS_SEAM_H_

// SEAM(system-facts): the few system facts telemetry needs, in one place.
// They belong to the system services (FuntionImpl); until those are part of
// the build these functions supply them from the platform layer and the
// services file directly. Swapping in the FuntionImpl calls touches this
// file only. Thread-safe.

#include <string>

namespace telemetry {

struct TelemetryFacts {
  std::string setupVersion;    // file version of the running program
  std::string modulePath;      // path of the running program
  std::string osName;          // the Windows name (OS name here)
  bool os64 = false;           // 64-bit OS
  std::string uiLanguageName;  // language, '_', country
};

TelemetryFacts CollectTelemetryFacts();

// "PPC", "CN" or "SEO" for a site id.
std::string SiteTrafficType(int siteId);

// Brand label of a site id and the download URL.
std::string BrandLabel(int siteId, const std::string& downloadUrl);

}  // namespace telemetry

#endif  // WEBSETUP_TELEMETRY_SYSTEM_FACTS_SEAM_H_
