// Fatal-signal handling on Linux. Everything reachable from onFatalSignal()
// keeps to async-signal-safe system calls and static storage: the fault may
// have hit inside malloc, stdio or the logger with their locks held, and
// the handler must still finish. The dump itself is crash_dump_posix.cc's.

#include "platform/fatal_signal.h"

#include <errno.h>
#include <execinfo.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "common/thread_tools.h"
#include "platform/paths.h"

namespace platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// Room for the unwinder and the ELF reader, well above SIGSTKSZ.
constexpr size_t kAltStackBytes = 256 * 1024;
// A handler stuck on a lock it should never have met ends by SIGALRM
// rather than leaving a hidden, frozen setup behind.
constexpr unsigned kHandlerLimitSeconds = 20;

std::atomic<FatalSignalCallback> g_callback{nullptr};
// The thread handling the fault (0: none yet). Set once, never cleared.
std::atomic<int> g_handlingThread{0};
std::atomic<long> g_utcOffsetSeconds{0};
char g_tempDir[4096] = "/tmp";

int currentThreadId() { return static_cast<int>(syscall(SYS_gettid)); }

// ---- the handler ------------------------------------------------------

[[noreturn]] void raiseWithDefaultAction(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  syscall(SYS_tgkill, getpid(), currentThreadId(), sig);
  // Not reached unless the signal was somehow ignored.
  _exit(128 + sig);
}

void startWatchdog() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGALRM, &dfl, nullptr);
  sigset_t alarmOnly;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
  alarm(kHandlerLimitSeconds);
}

void onFatalSignal(int sig, siginfo_t* info, void* context) {
  const int tid = currentThreadId();
  int expected = 0;
  if (!g_handlingThread.compare_exchange_strong(expected, tid)) {
    // The handler itself faulted: end now rather than fault for ever.
    if (expected == tid) _exit(128 + sig);
    // Another thread is writing the dump and will end the process.
    for (;;) pause();
  }
  startWatchdog();
  FatalSignal fault;
  fault.signal = sig;
  fault.code = info != nullptr ? info->si_code : 0;
  fault.address = info != nullptr ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
  fault.senderPid = info != nullptr && info->si_code <= 0 ? info->si_pid : 0;
  fault.threadId = tid;
  fault.machineContext = context;
  if (FatalSignalCallback callback = g_callback.load()) callback(fault);
  raiseWithDefaultAction(sig);
}

// ---- clock -------------------------------------------------------------

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

}  // namespace

// ---- public ------------------------------------------------------------

namespace {

// One thread's alternate signal stack, given back when the thread ends:
// threads come and go (a download's workers, every NSISLog call), and each
// would otherwise leave its stack mapped for the rest of the run.
class ThreadSignalStack {
 public:
  ~ThreadSignalStack() {
    if (memory_ == nullptr) return;
    // The stack the thread had before ours (a sanitizer's, which it frees
    // itself at thread exit) goes back in place; else none.
    stack_t restore = previous_;
    if ((previous_.ss_flags & SS_DISABLE) != 0 || previous_.ss_sp == nullptr) {
      restore = stack_t{};
      restore.ss_flags = SS_DISABLE;
    }
    if (sigaltstack(&restore, nullptr) == 0) munmap(memory_, mapped_);
  }

  PlatformResult install() {
    if (memory_ != nullptr) return PlatformResult::kOk;
    const long page = sysconf(_SC_PAGESIZE);
    const size_t guard = page > 0 ? static_cast<size_t>(page) : 4096;
    // One guard page below the stack, so an overflow of the handler itself
    // faults instead of writing over other memory.
    void* memory = mmap(nullptr, kAltStackBytes + guard, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return resultFromErrno(errno);
    mprotect(memory, guard, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(memory) + guard;
    stack.ss_size = kAltStackBytes;
    if (sigaltstack(&stack, &previous_) != 0) {
      const int err = errno;
      munmap(memory, kAltStackBytes + guard);
      return resultFromErrno(err);
    }
    memory_ = memory;
    mapped_ = kAltStackBytes + guard;
    return PlatformResult::kOk;
  }

 private:
  void* memory_ = nullptr;
  size_t mapped_ = 0;
  stack_t previous_{};
};

thread_local ThreadSignalStack t_signalStack;

// The prologue of every thread the program starts through common's tools.
void giveThreadASignalStack() { (void)installAlternateSignalStackForThisThread(); }

}  // namespace

PlatformResult installAlternateSignalStackForThisThread() { return t_signalStack.install(); }

PlatformResult installFatalSignalHandler(FatalSignalCallback callback) {
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) != nullptr) g_utcOffsetSeconds = local.tm_gmtoff;
  const std::string temp = tempDir();
  const size_t n = temp.size() < sizeof g_tempDir - 1 ? temp.size() : sizeof g_tempDir - 1;
  std::memcpy(g_tempDir, temp.data(), n);
  g_tempDir[n] = '\0';
  // The first backtrace() loads the unwinder library; in a handler that
  // load could deadlock on the loader's lock or malloc.
  void* warmUp[2];
  (void)backtrace(warmUp, 2);

  g_callback = callback;
  const PlatformResult stack = installAlternateSignalStackForThisThread();
  if (stack != PlatformResult::kOk) return stack;
  // Every later thread too: the handler cannot run on a thread whose own
  // stack has overflowed.
  common::SetThreadPrologue(&giveThreadASignalStack);
  struct sigaction action {};
  action.sa_sigaction = onFatalSignal;
  // SA_NODEFER: a fault inside the handler enters it again and ends the
  // process there, instead of the kernel killing it with no word.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int sig : kFatalSignals) {
    if (sigaction(sig, &action, nullptr) != 0) return resultFromErrno(errno);
  }
  return PlatformResult::kOk;
}

LocalTime localTimeFromSignalHandler() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  const int64_t seconds = static_cast<int64_t>(ts.tv_sec) + g_utcOffsetSeconds.load();
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  LocalTime t;
  civilFromDays(days, &t.year, &t.month, &t.day);
  t.dayOfWeek = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

const char* tempDirFromSignalHandler() { return g_tempDir; }

namespace {
// Read through a volatile pointer so the compiler cannot see the null and
// turn the store into a trap of its own.
int* volatile g_nowhere = nullptr;
}  // namespace

// Kept out of line so the dump names it; not checked by UBSan, which would
// end the process on the null store before the hardware faults.
__attribute__((noinline, no_sanitize("undefined"))) void crashTest() {
  *g_nowhere = 0;
  __builtin_trap();
}

}  // namespace platform
