#include "config/services.h"

#include <tinyxml2.h>

#include <cstdlib>
#include <fstream>

#include "common/log.h"
#include "config/skin_archive.h"
#include "net/transport_policy.h"
#include "platform/paths.h"

namespace config {

namespace {

std::string trimSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

// The path prefix of `url` ("" for "https://host:1"; "/p" for "https://host/p").
std::string pathOf(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t slash = url.find('/', from);
  return slash == std::string::npos ? std::string() : url.substr(slash);
}

}  // namespace

const std::vector<std::string>& allServiceNames() {
  static const std::vector<std::string> names = {
      service::kUpdateCom,   service::kUpdateCn,      service::kUpdateTest,
      service::kBanner,      service::kBannerTest,    service::kGa4,           service::kCollector,
      service::kTestCollector, service::kUserLog,     service::kBootstrap,
      service::kTicket,      service::kUniversalAnalytics, service::kException,
      service::kLogCollection, service::kGeolocation};
  return names;
}

bool Services::parse(const std::string& xml, Services* out) {
  *out = Services();
  tinyxml2::XMLDocument doc;
  if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return false;
  const tinyxml2::XMLElement* root = doc.FirstChildElement("Services");
  if (root == nullptr) return false;
  for (auto* e = root->FirstChildElement("Service"); e != nullptr;
       e = e->NextSiblingElement("Service")) {
    const char* name = e->Attribute("name");
    const char* url = e->Attribute("url");
    if (name == nullptr || url == nullptr || *name == '\0') continue;
    out->urls_[name] = trimSlash(url);
    const char* tls = e->Attribute("tls");
    if (tls != nullptr && std::string(tls) == "insecure") out->insecureTls_.insert(name);
  }
  // A file without the test host sends the test query where the update
  // server's test form lives: plain HTTP on the .com host.
  if (out->urls_.count(service::kUpdateTest) == 0) {
    const std::string com = out->url(service::kUpdateCom);
    const size_t scheme = com.find("://");
    if (!com.empty()) {
      out->urls_[service::kUpdateTest] =
          "http://" + (scheme == std::string::npos ? com : com.substr(scheme + 3));
    }
  }
  if (const auto* brands = root->FirstChildElement("Brands")) {
    for (auto* e = brands->FirstChildElement("Brand"); e != nullptr;
         e = e->NextSiblingElement("Brand")) {
      int siteId = 0;
      const char* label = e->Attribute("label");
      if (e->QueryIntAttribute("site_id", &siteId) != tinyxml2::XML_SUCCESS || label == nullptr) {
        continue;
      }
      out->brands_[siteId] = label;
    }
  }
  if (const auto* cdn = root->FirstChildElement("CdnHosts")) {
    for (auto* e = cdn->FirstChildElement("Host"); e != nullptr; e = e->NextSiblingElement("Host")) {
      const char* kind = e->Attribute("kind");
      const char* name = e->Attribute("name");
      if (kind != nullptr && name != nullptr && *name != '\0') out->cdnHosts_.emplace(kind, name);
    }
  }
  if (const auto* signers = root->FirstChildElement("TrustedSigners")) {
    for (auto* e = signers->FirstChildElement("Signer"); e != nullptr;
         e = e->NextSiblingElement("Signer")) {
      const char* sha = e->Attribute("sha256");
      if (sha != nullptr && *sha != '\0') out->signerPins_.emplace_back(sha);
    }
  }
  return true;
}

bool Services::addSignerPinsFrom(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    const size_t from = line.find_first_not_of(" \t\r");
    if (from == std::string::npos) continue;
    const size_t to = line.find_last_not_of(" \t\r");
    signerPins_.push_back(line.substr(from, to - from + 1));
  }
  return true;
}

std::vector<std::string> Services::cdnHosts(const std::string& kind) const {
  std::vector<std::string> hosts;
  for (auto [it, end] = cdnHosts_.equal_range(kind); it != end; ++it) hosts.push_back(it->second);
  return hosts;
}

void Services::overrideBase(const std::string& base) {
  const std::string root = trimSlash(base);
  for (const std::string& name : allServiceNames()) urls_.try_emplace(name, std::string());
  for (auto& [name, url] : urls_) url = root + pathOf(url);
}

bool Services::insecureTls(const std::string& name) const { return insecureTls_.count(name) != 0; }

void Services::allowInsecureTls() const {
  for (const std::string& name : insecureTls_) {
    if (const std::string base = url(name); !base.empty()) net::AllowInsecureTls(base);
  }
}

std::string Services::url(const std::string& name) const {
  auto it = urls_.find(name);
  return it == urls_.end() ? std::string() : it->second;
}

const Services& processServices() {
  static const Services services = [] {
    Services s;
    std::string xml;
    if (!readSkinFile(kServicesFile, &xml) || !Services::parse(xml, &s)) {
      LOG(INFO) << " services file missing or unreadable: " << kServicesFile;
    }
    if (auto base = platform::getEnv(kServicesOverrideEnv); base && !base->empty()) {
      s.overrideBase(*base);
    }
    if (auto pins = platform::getEnv(kSignerPinsEnv); pins && !pins->empty()) {
      if (!s.addSignerPinsFrom(*pins)) LOG(INFO) << " signer pins unreadable: " << *pins;
    }
    s.allowInsecureTls();
    return s;
  }();
  return services;
}

}  // namespace config
