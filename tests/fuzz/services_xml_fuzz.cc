// services.xml: the base URLs, brands, CDN hosts and signer pins of the
// maker's services.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/services.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  config::Services services;
  if (!config::Services::parse(std::string(reinterpret_cast<const char*>(data), size), &services)) {
    return 0;
  }
  for (const std::string& name : config::allServiceNames()) {
    (void)services.url(name);
    (void)services.insecureTls(name);
  }
  (void)services.cdnHosts("ali");
  (void)services.cdnHosts("aws");
  services.overrideBase("http://127.0.0.1:9/");
  (void)services.url(config::service::kGeolocation);
  return 0;
}
