// Writes `count` values named "<prefix>-<i>" into one key of the registry
// store ($WEBSETUP_REGISTRY), one write at a time, as a second process
// beside the test. Exit code 0 when every write succeeded.
#include <cstdlib>
#include <string>

#include "platform/registry.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const std::string key = argv[1];
  const std::string prefix = argv[2];
  const int count = std::atoi(argv[3]);
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    platform::RegistryValue value;
    value.text = "value of " + prefix + " " + std::to_string(i);
    if (platform::registryWrite(platform::RegistryHive::kLocalMachine, key,
                                prefix + "-" + std::to_string(i),
                                value) != platform::PlatformResult::kOk) {
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
