// A small program that installs the setup's crash handler, fills the crash
// context from its command line and then faults the way it is told, so the
// tests can crash a real process on purpose.
//
//   crash-test-helper FAULT [--log-dir D] [--log-file F] [--config N]
//                           [--program P] [--downloader-id N] [--version V]
//
// FAULT: segv (the crash test), abort, fpe, ill, bus (Linux only), thread
// (the crash test on a second thread while the main thread holds the stdio
// locks), nested (a handler that itself faults), overflow (a stack
// overflow on a worker thread started the way the program starts its
// threads). It first prints "main thread <id>". Started by the handler as
// "crash-test-helper -dmp <log file name>", it writes that line to the
// file $CRASH_REPORT_MARKER names and ends.

#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <thread>

#include "common/thread_tools.h"
#include "crash/crash_context.h"
#include "crash/crash_handler.h"
#include "crash_faults.h"
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

void faultInHandler(const platform::FatalSignal&) { platform::crashTest(); }

void crashOnThreadWhileHoldingLocks() {
  // A handler that printed through stdio would wait for these for ever.
  crash_test::holdStdioLocks();
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
  // Started as the crash report ("-dmp <log file name>"): leave word in
  // $CRASH_REPORT_MARKER of having been started, and with what.
  if (fault == "-dmp") {
    const char* marker = getenv("CRASH_REPORT_MARKER");
    FILE* out = marker != nullptr ? fopen(marker, "wb") : nullptr;
    if (out == nullptr) return 1;
    fprintf(out, "-dmp %s", argc > 2 ? argv[2] : "");
    return fclose(out) == 0 ? 0 : 1;
  }
  std::map<std::string, std::string> options;
  for (int i = 2; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];

  // The dump of a fault on another thread must not name this one.
  printf("main thread %llu\n", static_cast<unsigned long long>(crash_test::currentThreadId()));
  fflush(stdout);

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
  if (fault == "bus") return crash_test::readPastAnEmptyFile();
  if (fault == "thread") crashOnThreadWhileHoldingLocks();
  if (fault == "overflow") overflowOnWorkerThread();
  return 2;
}
