#ifndef WEBSETUP_TESTS_CRASH_CRASH_FAULTS_H_
#define WEBSETUP_TESTS_CRASH_CRASH_FAULTS_H_

// The parts of crash-test-helper's faults that differ between the systems
// (posix/crash_faults_posix.cc, win32/crash_faults_win.cc).

#include <cstdint>

namespace crash_test {

// Reads the first byte of a read-only mapping of an empty file: SIGBUS on
// Linux. Windows maps no empty file, so there it returns -1 unfaulted.
int readPastAnEmptyFile();

// Takes the C library's locks of standard output and error and keeps them,
// as a thread printing at the moment of a crash would.
void holdStdioLocks();

// The calling thread's id as the system (and a dump) names it.
uint64_t currentThreadId();

}  // namespace crash_test

#endif  // WEBSETUP_TESTS_CRASH_CRASH_FAULTS_H_
