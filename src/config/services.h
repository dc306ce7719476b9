#ifndef WEBSETUP_CONFIG_SERVICES_H_
#define WEBSETUP_CONFIG_SERVICES_H_

// The deployment's services file: services.xml of the skin archive lists
// the base URL of every maker service (scheme, host, port and an optional
// path prefix, no trailing '/') and the brand table of the analytics hits.
//
// One override exists, for tests and the demo: the environment variable
// WEBSETUP_SERVICES_BASE=scheme://host:port replaces the scheme, host and
// port of every service (including services the file does not list),
// keeping each service's path prefix, so one local maker-services plays
// them all.
//
// Every service's TLS peer is verified. A service whose host cannot present
// a valid certificate may carry tls="insecure" in the file; only that
// service's origin is then reached unverified (net/transport_policy.h).

#include <map>
#include <set>
#include <string>
#include <vector>

namespace config {

constexpr char kServicesFile[] = "services.xml";
constexpr char kServicesOverrideEnv[] = "WEBSETUP_SERVICES_BASE";
constexpr char kSignerPinsEnv[] = "WEBSETUP_SIGNER_PINS";

// Service names of the file.
namespace service {
constexpr char kUpdateCom[] = "update_com";
constexpr char kUpdateCn[] = "update_cn";
constexpr char kUpdateTest[] = "update_test";
constexpr char kBanner[] = "banner";
constexpr char kBannerTest[] = "banner_test";  // with the developer setting TestEnv
constexpr char kGa4[] = "ga4";
constexpr char kCollector[] = "collector";
constexpr char kTestCollector[] = "test_collector";
constexpr char kUserLog[] = "user_log";
constexpr char kBootstrap[] = "bootstrap";
constexpr char kTicket[] = "ticket";
constexpr char kUniversalAnalytics[] = "universal_analytics";
constexpr char kException[] = "exception";
constexpr char kLogCollection[] = "log_collection";
constexpr char kGeolocation[] = "geolocation";
}  // namespace service

// Every name above.
const std::vector<std::string>& allServiceNames();

// The parsed services file. Immutable once built, so safe to share.
class Services {
 public:
  // Reads services file text into *out. Returns false (and leaves *out
  // empty) when it is not XML with a <Services> root. Services without a
  // name or url, and brands without a numeric site_id, are skipped.
  [[nodiscard]] static bool parse(const std::string& xml, Services* out);

  // Applies the override: every service of allServiceNames() and of the
  // file goes to `base` (trailing '/' ignored) with its own path prefix.
  void overrideBase(const std::string& base);

  // Base URL of service `name`; empty when unknown. A file without
  // update_test gets "http://" and the update_com host for it.
  std::string url(const std::string& name) const;
  // Whether the file marks service `name` tls="insecure".
  bool insecureTls(const std::string& name) const;
  // Tells the transport policy which origins those services have now.
  void allowInsecureTls() const;
  // Site id -> base brand label.
  const std::map<int, std::string>& brands() const { return brands_; }
  // The maker's CDN host names by kind ("ali", "aws"), as the download
  // source selection classifies URLs; empty when the file lists none.
  std::vector<std::string> cdnHosts(const std::string& kind) const;
  // SHA-256 fingerprints (certificate or public key) of the maker's
  // signers: the only ones whose installers the setup runs.
  const std::vector<std::string>& signerPins() const { return signerPins_; }
  // Adds the pins listed one per line in the file at `path` ('#' starts a
  // comment). Returns false when it cannot be read.
  [[nodiscard]] bool addSignerPinsFrom(const std::string& path);

 private:
  std::map<std::string, std::string> urls_;
  std::map<int, std::string> brands_;
  std::multimap<std::string, std::string> cdnHosts_;  // kind -> host
  std::vector<std::string> signerPins_;
  std::set<std::string> insecureTls_;  // service names
};

// The services of this program: services.xml of the linked-in skin archive
// with the override of the environment applied, and the signer pins of the
// file named by WEBSETUP_SIGNER_PINS added (a build whose signer is made at
// build time, as the demo's, pins it there). Read on the first call;
// thread-safe. A program without the archive (or the file) gets no
// services, unless the override names a base.
const Services& processServices();

}  // namespace config

#endif  // WEBSETUP_CONFIG_SERVICES_H_
