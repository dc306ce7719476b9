// galog.json, read back from disk by every run: the day check and the
// version update, each rewriting the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "telemetry/galog.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::scratchDir() + "/galog.json";
  if (!fuzz::writeBytes(path, data, size)) return 0;
  platform::LocalTime today;
  today.year = 2026;
  today.month = 12;
  today.day = 9;
  telemetry::IsFirstRunTodayAt(path, today);
  if (!fuzz::writeBytes(path, data, size)) return 0;
  telemetry::UpdateGalogVersionAt(path, "2.10.8");
  return 0;
}
