#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "common/log.h"

namespace fuzz {

void quietLogs() {
  // Names the storage common/log.cc defines, so a target that logs only
  // through the libraries still links it.
  (void)el::Helpers::storage();
  el::Configurations off;
  off.setToDefault();
  off.setGlobally(el::ConfigurationType::Enabled, "false");
  off.setGlobally(el::ConfigurationType::ToFile, "false");
  el::Loggers::reconfigureAllLoggers(off);
}

const std::string& scratchDir() {
  // Never destroyed: the at-exit removal runs after static destructors.
  static const std::string* dir = [] {
    const char* tmp = getenv("TMPDIR");
    auto* path = new std::string(std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                                 "/websetup-fuzz-XXXXXX");
    if (mkdtemp(path->data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(*dir, ec);
    });
    return path;
  }();
  return *dir;
}

bool writeBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace fuzz
