// The registry store's values file of one key, as another process (or a
// hand) may have left it: read every kind of value, then write one, which
// keeps or moves aside what was there.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "platform/registry.h"

namespace {

const char kKey[] = "Software\\Maker\\Setup";
std::string g_valuesFile;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  const std::string root = fuzz::scratchDir() + "/registry";
  setenv("WEBSETUP_REGISTRY", root.c_str(), 1);
  platform::RegistryValue v;
  v.text = "seed";
  if (platform::registryWrite(platform::RegistryHive::kCurrentUser, kKey, "Seed", v) !=
      platform::PlatformResult::kOk) {
    abort();
  }
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().filename() == "@values") g_valuesFile = entry.path();
  }
  if (g_valuesFile.empty()) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz::writeBytes(g_valuesFile, data, size)) return 0;
  platform::RegistryValue v;
  for (const char* name : {"Seed", "InstallPath", "Version", "Languages"}) {
    (void)platform::registryRead(platform::RegistryHive::kCurrentUser, kKey, name, &v);
  }
  v = platform::RegistryValue{};
  v.type = platform::RegistryType::kDword;
  v.number = 7;
  (void)platform::registryWrite(platform::RegistryHive::kCurrentUser, kKey, "Count", v);
  return 0;
}
