// The banner service's JSON answer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "window/banner.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<window::BannerRecord> banners;
  window::ParseBannerAnswer(std::string(reinterpret_cast<const char*>(data), size), &banners);
  return 0;
}
