#include "platform/system_proxy.h"

#include <proxy.h>

namespace platform {
namespace {

// libproxy keeps PAC files and the desktop's settings cached in its
// factory, so there is one for the whole run. It is never freed: a request
// may still ask during exit.
pxProxyFactory* proxyFactory() {
  static pxProxyFactory* factory = px_proxy_factory_new();
  return factory;
}

}  // namespace

std::vector<std::string> systemProxiesFor(const std::string& url) {
  std::vector<std::string> out;
  pxProxyFactory* factory = proxyFactory();
  if (factory == nullptr) return out;
  char** proxies = px_proxy_factory_get_proxies(factory, url.c_str());
  if (proxies == nullptr) return out;
  for (char** p = proxies; *p != nullptr; ++p) out.emplace_back(*p);
  px_proxy_factory_free_proxies(proxies);
  return out;
}

}  // namespace platform
