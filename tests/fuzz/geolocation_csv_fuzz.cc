// The geolocation service's CSV answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "weblog/machine_identity.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  weblog::Location where;
  weblog::ParseLocationCsv(std::string(reinterpret_cast<const char*>(data), size), &where);
  return 0;
}
