// A small program that installs the setup's crash handler, fills the crash
// context from its command line and then faults the way it is told, so the
// tests can crash a real process on purpose.
//
//   crash-test-helper FAULT [--log-dir D] [--log-file F] [--config N]
//                           [--program P] [--downloader-id N] [--version V]
//
// FAULT: segv (the crash test), abort, fpe, ill, bus, thread (the crash
// test on a second thread while the main thread holds the stdio locks),
// nested (a handler that itself faults), overflow (a stack overflow on a
// worker thread started the way the program starts its threads).

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>

#include "common/thread_tools.h"
#include "crash/crash_context.h"
#include "crash/crash_handler.h"
#include "platform/fatal_signal.h"

namespace {

// Faults the sanitizers would otherwise report as undefined behaviour
// before the hardware raises them.
__attribute__((noinline, no_sanitize("undefined"))) int divideByZero() {
  // Both operands volatile: GCC turns 1 / x into a comparison.
  volatile int seven = 7;
  volatile int zero = 0;
  return seven / zero;
}

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

void faultInHandler(const platform::FatalSignal&) { platform::crashTest(); }

void crashOnThreadWhileHoldingLocks() {
  // A handler that printed through stdio would wait for these for ever.
  flockfile(stdout);
  flockfile(stderr);
  std::thread([] { platform::crashTest(); }).join();
}

// Recurses until the thread's stack is gone (the limit is never reached).
// The frame's buffer is used after the call, so the compiler can neither
// drop it nor turn the call into a loop.
volatile int g_depthLimit = 1 << 30;

__attribute__((noinline)) int overflowTheStack(int depth) {
  volatile char frame[512];
  frame[depth % sizeof(frame)] = static_cast<char>(depth);
  if (depth >= g_depthLimit) return 0;
  return overflowTheStack(depth + 1) + frame[(depth + 1) % sizeof(frame)];
}

void overflowOnWorkerThread() {
  common::CThreadHandle worker;
  if (!worker.start([] { (void)overflowTheStack(0); })) return;
  worker.waitFor(60000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string fault = argv[1];
  std::map<std::string, std::string> options;
  for (int i = 2; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];

  crash::CrashContext& c = crash::CrashContext::Get();
  c.logDirectory.set(options["--log-dir"]);
  c.logFileName.set(options["--log-file"]);
  c.modulePath.set(options["--program"]);
  c.setupVersion.set(options.count("--version") ? options["--version"] : "1.0.0.0");
  c.downloaderConfig = atoi(options["--config"].c_str());
  c.downloaderId = atoi(options["--downloader-id"].c_str());

  if (fault == "nested") {
    if (platform::installFatalSignalHandler(&faultInHandler) != platform::PlatformResult::kOk)
      return 3;
    platform::crashTest();
  }
  if (crash::InstallCrashHandler() != platform::PlatformResult::kOk) return 3;
  if (fault == "segv") platform::crashTest();
  if (fault == "abort") abort();
  if (fault == "fpe") return divideByZero();
  if (fault == "ill") __builtin_trap();
  if (fault == "bus") return readPastAnEmptyFile();
  if (fault == "thread") crashOnThreadWhileHoldingLocks();
  if (fault == "overflow") overflowOnWorkerThread();
  return 2;
}
