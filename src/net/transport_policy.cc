#include "net/transport_policy.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>

#include "common/log.h"
#include "common/mutex.h"
#include "platform/paths.h"
#include "platform/system_proxy.h"
#include "platform/tls_trust.h"

namespace net {
namespace {

constexpr char kTrustedCaEnv[] = "WEBSETUP_TRUSTED_CA";

struct InsecureOrigins {
  common::Mutex mu;
  std::set<std::string> allowed GUARDED_BY(mu);
  std::set<std::string> announced GUARDED_BY(mu);
};

InsecureOrigins& insecureOrigins() {
  static auto* origins = new InsecureOrigins;  // Never destroyed: late requests may ask.
  return *origins;
}

// Whether `origin` may skip verification; logs the first such request of
// the run, so a deployment's insecure service never goes unnoticed.
bool verificationWaived(const std::string& origin) {
  InsecureOrigins& o = insecureOrigins();
  common::MutexLock lock(&o.mu);
  if (o.allowed.count(origin) == 0) return false;
  if (o.announced.insert(origin).second) {
    LOG(INFO) << " TLS verification is off for " << origin
              << " (tls=\"insecure\" in the services file)";
  }
  return true;
}

// The system's answer for a proxy libcurl can use; "socks://" means version 5
// first.
bool usableProxy(const std::string& proxy, std::string* out) {
  static constexpr const char* kSchemes[] = {"http://",    "https://",  "socks4://",
                                             "socks4a://", "socks5://", "socks5h://"};
  if (proxy.rfind("direct://", 0) == 0) {
    out->clear();
    return true;
  }
  if (proxy.rfind("socks://", 0) == 0) {
    *out = "socks5://" + proxy.substr(8);
    return true;
  }
  for (const char* scheme : kSchemes) {
    if (proxy.rfind(scheme, 0) == 0) {
      *out = proxy;
      return true;
    }
  }
  return false;
}

// The system's answer, or false when it has none (or only proxies libcurl
// cannot speak); libcurl then reads the environment itself.
bool askSystem(const std::string& url, std::string* proxy) {
  for (const std::string& candidate : platform::systemProxiesFor(url)) {
    if (usableProxy(candidate, proxy)) return true;
  }
  return false;
}

bool isHttps(const std::string& url) { return OriginOf(url).rfind("https://", 0) == 0; }

// libcurl's Schannel backend opens CURLOPT_CAINFO with CreateFileA, which
// reads our UTF-8 path in the ANSI code page: unless that code page is
// UTF-8 (the program's manifest asks for it; Windows before 10 version 1903
// ignores that), a path with any character beyond ASCII names no file and every
// transfer fails on a CA file that is there. Schannel gets the file's bytes
// instead, which it takes exactly as it takes the file. True when libcurl's
// TLS is Schannel.
bool usesSchannel() {
  static const bool schannel = [] {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && info->ssl_version != nullptr &&
           std::string_view(info->ssl_version).find("Schannel") != std::string_view::npos;
  }();
  return schannel;
}

// The whole file at the UTF-8 `path`, or false when it cannot be read.
bool readWholeFile(const std::string& path, std::string* content) {
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                   std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return false;
  *content = std::move(bytes).str();
  return true;
}

}  // namespace

std::string DeploymentCaFile() {
  if (auto path = platform::getEnv(kTrustedCaEnv); path && !path->empty()) return *path;
  return platform::defaultDeploymentCaFile();
}

std::string OriginOf(const std::string& url) {
  const size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0) return std::string();
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t from = colon + 3;
  const size_t to = url.find_first_of("/?#", from);
  std::string authority = url.substr(from, to == std::string::npos ? std::string::npos : to - from);
  if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  for (char& c : authority) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (authority.empty()) return std::string();
  // A port follows the last ':' unless that colon is inside an IPv6 literal.
  const size_t portColon = authority.rfind(':');
  const bool hasPort = portColon != std::string::npos &&
                       authority.find(']', portColon) == std::string::npos;
  if (!hasPort) authority += scheme == "https" ? ":443" : scheme == "http" ? ":80" : "";
  return scheme + "://" + authority;
}

void AllowInsecureTls(const std::string& url) {
  const std::string origin = OriginOf(url);
  if (origin.empty()) return;
  InsecureOrigins& o = insecureOrigins();
  common::MutexLock lock(&o.mu);
  o.allowed.insert(origin);
}

std::string SystemProxyFor(const std::string& url) {
  std::string proxy;
  return askSystem(url, &proxy) ? proxy : std::string();
}

CURLcode ApplyTransportPolicy(CURL* curl, const std::string& url) {
  CURLcode first = CURLE_OK;
  auto set = [&first](CURLcode rc) {
    if (first == CURLE_OK) first = rc;
  };
  const bool verify = !isHttps(url) || !verificationWaived(OriginOf(url));
  set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L));
  set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L));
  // Schannel asks Windows about revocation for every chain; a deployment's
  // own CA usually names no revocation list, and an offline list server
  // would fail every transfer. A certificate known to be revoked is still
  // refused.
  if (verify && usesSchannel()) {
    set(curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS,
                         static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT)));
  }
  const std::string ca = DeploymentCaFile();
  if (verify && platform::pathExists(ca)) {
    std::string pem;
    if (usesSchannel() && readWholeFile(ca, &pem)) {
      curl_blob blob{pem.data(), pem.size(), CURL_BLOB_COPY};
      set(curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob));
    } else {
      // A file we cannot read still goes to libcurl by name, which then
      // fails the transfer (CURLE_SSL_CACERT_BADFILE) rather than trust less.
      set(curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str()));
    }
    // Naming a CA file replaces libcurl's default bundle; the system's
    // folder keeps its authorities beside the deployment's.
    if (const std::string folder = platform::systemCaFolder(); !folder.empty()) {
      set(curl_easy_setopt(curl, CURLOPT_CAPATH, folder.c_str()));
    }
  }
  // An "https://" proxy is verified as strictly as a server.
  set(curl_easy_setopt(curl, CURLOPT_PROXY_SSL_VERIFYPEER, 1L));
  set(curl_easy_setopt(curl, CURLOPT_PROXY_SSL_VERIFYHOST, 2L));
  std::string proxy;
  if (askSystem(url, &proxy)) set(curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str()));
  set(curl_easy_setopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY)));
  return first;
}

void LogTransportFailure(CURL* curl, int code, const std::string& url) {
  std::string why;
  long verify = 0;
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
      curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verify);
      why = platform::peerRefusalText(verify);
      break;
    case CURLE_SSL_CONNECT_ERROR: why = "the TLS handshake failed"; break;
    case CURLE_SSL_CACERT_BADFILE: why = "the trusted CA file cannot be read"; break;
    case CURLE_SSL_CERTPROBLEM: why = "a local certificate is unusable"; break;
    case CURLE_SSL_ISSUER_ERROR: why = "the issuer check failed"; break;
    default: return;
  }
  LOG(INFO) << " TLS refused " << OriginOf(url) << ": " << why << " (curl " << code << ", verify "
            << verify << ")";
}

std::string EncodeUrl(const std::string& url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (const char c : url) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = b > 0x20 && b < 0x7f &&
                       std::string_view("\"<>\\^`{|}").find(c) == std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xf];
    }
  }
  return out;
}

}  // namespace net
