#include <windows.h>

#include <stdio.h>

#include "crash_faults.h"

namespace crash_test {

int readPastAnEmptyFile() { return -1; }

void holdStdioLocks() {
  _lock_file(stdout);
  _lock_file(stderr);
}

uint64_t currentThreadId() { return GetCurrentThreadId(); }

}  // namespace crash_test
