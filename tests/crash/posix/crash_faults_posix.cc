#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "crash_faults.h"

namespace crash_test {

__attribute__((noinline)) int readPastAnEmptyFile() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/crash-helper-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return -1;
  unlink(pattern.c_str());
  auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
  return page == MAP_FAILED ? -1 : page[0];
}

void holdStdioLocks() {
  flockfile(stdout);
  flockfile(stderr);
}

uint64_t currentThreadId() { return static_cast<uint64_t>(gettid()); }

}  // namespace crash_test
