// Fatal-signal handling on Linux. Everything reachable from onFatalSignal()
// keeps to async-signal-safe system calls and static storage: the fault may
// have hit inside malloc, stdio or the logger with their locks held, and
// the handler must still finish.

#include "platform/fatal_signal.h"

#include <elf.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "common/thread_tools.h"
#include "platform/paths.h"

extern char** environ;

namespace platform {

namespace {

using ElfHeader = ElfW(Ehdr);
using SectionHeader = ElfW(Shdr);
using ProgramHeader = ElfW(Phdr);
using ElfSymbol = ElfW(Sym);

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// Room for the unwinder and the ELF reader, well above SIGSTKSZ.
constexpr size_t kAltStackBytes = 256 * 1024;
// A handler stuck on a lock it should never have met ends by SIGALRM
// rather than leaving a hidden, frozen setup behind.
constexpr unsigned kHandlerLimitSeconds = 20;
constexpr int kMaxFrames = 64;

std::atomic<FatalSignalCallback> g_callback{nullptr};
// The thread handling the fault (0: none yet). Set once, never cleared.
std::atomic<int> g_handlingThread{0};
std::atomic<long> g_utcOffsetSeconds{0};
char g_tempDir[4096] = "/tmp";

// The dump writer's scratch space, static because the handler runs once
// and an alternate stack is small.
char g_maps[512 * 1024];
size_t g_mapsSize = 0;
ElfSymbol g_symbols[512];
void* g_frames[kMaxFrames];

int currentThreadId() { return static_cast<int>(syscall(SYS_gettid)); }

// ---- fault description -------------------------------------------------

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGFPE:
      return "SIGFPE";
    case SIGILL:
      return "SIGILL";
    case SIGABRT:
      return "SIGABRT";
    default:
      return "signal";
  }
}

const char* codeName(int sig, int code) {
  switch (code) {
    case SI_USER:
      return "SI_USER (sent by kill)";
    case SI_TKILL:
      return "SI_TKILL (sent by tgkill or raise)";
    case SI_QUEUE:
      return "SI_QUEUE";
    case SI_KERNEL:
      return "SI_KERNEL";
    default:
      break;
  }
  if (sig == SIGSEGV) {
    if (code == SEGV_MAPERR) return "SEGV_MAPERR (address not mapped)";
    if (code == SEGV_ACCERR) return "SEGV_ACCERR (access not permitted)";
  } else if (sig == SIGBUS) {
    if (code == BUS_ADRALN) return "BUS_ADRALN (misaligned address)";
    if (code == BUS_ADRERR) return "BUS_ADRERR (no such physical address)";
    if (code == BUS_OBJERR) return "BUS_OBJERR (object-specific error)";
  } else if (sig == SIGFPE) {
    if (code == FPE_INTDIV) return "FPE_INTDIV (integer divide by zero)";
    if (code == FPE_INTOVF) return "FPE_INTOVF (integer overflow)";
    if (code == FPE_FLTDIV) return "FPE_FLTDIV";
    if (code == FPE_FLTINV) return "FPE_FLTINV";
  } else if (sig == SIGILL) {
    if (code == ILL_ILLOPC) return "ILL_ILLOPC (illegal opcode)";
    if (code == ILL_ILLOPN) return "ILL_ILLOPN (illegal operand)";
    if (code == ILL_PRVOPC) return "ILL_PRVOPC (privileged opcode)";
  }
  return "";
}

// The faulting instruction's address, from the machine context.
uintptr_t faultPc(const FatalSignal& fault) {
  const auto* uc = static_cast<const ucontext_t*>(fault.machineContext);
  if (uc == nullptr) return 0;
#if defined(__x86_64__)
  return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
  return 0;
#endif
}

bool writeRegisters(int fd, const FatalSignal& fault) {
  const auto* uc = static_cast<const ucontext_t*>(fault.machineContext);
  SignalSafeWriter w;
  w.text("registers:\n");
  if (uc == nullptr) return w.text("  (none)\n").writeTo(fd);
#if defined(__x86_64__)
  static const struct {
    const char* name;
    int index;
  } kRegs[] = {{"rax", REG_RAX}, {"rbx", REG_RBX},    {"rcx", REG_RCX}, {"rdx", REG_RDX},
               {"rsi", REG_RSI}, {"rdi", REG_RDI},    {"rbp", REG_RBP}, {"rsp", REG_RSP},
               {"r8", REG_R8},   {"r9", REG_R9},      {"r10", REG_R10}, {"r11", REG_R11},
               {"r12", REG_R12}, {"r13", REG_R13},    {"r14", REG_R14}, {"r15", REG_R15},
               {"rip", REG_RIP}, {"eflags", REG_EFL}, {"err", REG_ERR}, {"trapno", REG_TRAPNO},
               {"cr2", REG_CR2}};
  int column = 0;
  for (const auto& r : kRegs) {
    w.text("  ").text(r.name).text(" ").hex(static_cast<uint64_t>(uc->uc_mcontext.gregs[r.index]),
                                            16);
    if (++column % 4 == 0) w.text("\n");
  }
  if (column % 4 != 0) w.text("\n");
#elif defined(__aarch64__)
  for (int i = 0; i < 31; ++i) {
    w.text("  x").decimal(i).text(" ").hex(uc->uc_mcontext.regs[i], 16);
    if (i % 4 == 3) w.text("\n");
  }
  w.text("  sp ").hex(uc->uc_mcontext.sp, 16).text(" pc ").hex(uc->uc_mcontext.pc, 16);
  w.text(" pstate ").hex(uc->uc_mcontext.pstate, 8).text("\n");
#else
  w.text("  (not decoded on this architecture)\n");
#endif
  return w.writeTo(fd);
}

// ---- modules: /proc/self/maps read with open/read ------------------------

void loadMaps() {
  g_mapsSize = 0;
  const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  while (g_mapsSize < sizeof g_maps - 1) {
    const ssize_t n = read(fd, g_maps + g_mapsSize, sizeof g_maps - 1 - g_mapsSize);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    g_mapsSize += static_cast<size_t>(n);
  }
  g_maps[g_mapsSize] = '\0';
  close(fd);
}

uint64_t parseHex(const char*& p) {
  uint64_t v = 0;
  for (;; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      v = v * 16 + static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v = v * 16 + static_cast<uint64_t>(c - 'a' + 10);
    } else {
      return v;
    }
  }
}

// One line of the maps: "start-end perms offset dev inode   path".
struct Mapping {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t offset = 0;
  const char* path = nullptr;  // into g_maps, not terminated
  size_t pathLength = 0;
};

const char* skipToken(const char* p) {
  while (*p == ' ') ++p;
  while (*p != ' ' && *p != '\0' && *p != '\n') ++p;
  while (*p == ' ') ++p;
  return p;
}

// Parses the line at `p`; returns the start of the next line.
const char* parseMapping(const char* p, Mapping* m) {
  m->start = parseHex(p);
  if (*p == '-') ++p;
  m->end = parseHex(p);
  p = skipToken(p);  // to the permissions, then past them
  m->offset = parseHex(p);
  p = skipToken(skipToken(p));  // device, inode
  m->path = p;
  while (*p != '\0' && *p != '\n') ++p;
  m->pathLength = static_cast<size_t>(p - m->path);
  return *p == '\n' ? p + 1 : p;
}

bool samePath(const Mapping& a, const Mapping& b) {
  return a.pathLength == b.pathLength && std::memcmp(a.path, b.path, a.pathLength) == 0;
}

// The mapping holding `pc` and the lowest start of its file's mappings
// (where the module was loaded). False when no mapping holds it.
bool findModule(uintptr_t pc, Mapping* hit, uint64_t* base) {
  const char* p = g_maps;
  bool found = false;
  while (*p != '\0' && !found) {
    p = parseMapping(p, hit);
    found = pc >= hit->start && pc < hit->end;
  }
  if (!found) return false;
  *base = hit->start - hit->offset;
  if (hit->pathLength == 0) return true;
  for (p = g_maps; *p != '\0';) {
    Mapping m;
    p = parseMapping(p, &m);
    if (samePath(m, *hit) && m.offset == 0) {
      *base = m.start;
      break;
    }
  }
  return true;
}

// ---- symbols: the module's ELF symbol table read with pread -----------

bool readAt(int fd, void* out, size_t n, uint64_t at) {
  return pread(fd, out, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
}

// The address inside the ELF file's own numbering for a module loaded at
// `base`: what addr2line and the symbol table use.
uint64_t elfAddress(int fd, const ElfHeader& eh, uint64_t base, uintptr_t pc) {
  if (eh.e_type == ET_EXEC) return pc;
  // Shared objects and PIE: the segment at file offset 0 was mapped at base.
  uint64_t firstVaddr = 0;
  for (int i = 0; i < eh.e_phnum; ++i) {
    ProgramHeader ph;
    if (!readAt(fd, &ph, sizeof ph, eh.e_phoff + static_cast<uint64_t>(i) * eh.e_phentsize)) break;
    if (ph.p_type == PT_LOAD && ph.p_offset == 0) {
      firstVaddr = ph.p_vaddr;
      break;
    }
  }
  return pc - base + firstVaddr;
}

// The function symbol that holds `address`, with its name in `name` and
// the distance from its start in *distance. A stripped library keeps only
// its exported symbols, and the nearest of those below an internal
// function would name the wrong one: no symbol is better.
bool findSymbol(int fd, const ElfHeader& eh, uint64_t address, char* name, size_t nameSize,
                uint64_t* distance) {
  SectionHeader table{};
  bool haveTable = false;
  for (int pass = 0; pass < 2 && !haveTable; ++pass) {
    const uint32_t wanted = pass == 0 ? SHT_SYMTAB : SHT_DYNSYM;
    for (int i = 0; i < eh.e_shnum; ++i) {
      SectionHeader sh;
      if (!readAt(fd, &sh, sizeof sh, eh.e_shoff + static_cast<uint64_t>(i) * eh.e_shentsize))
        break;
      if (sh.sh_type == wanted && sh.sh_entsize == sizeof(ElfSymbol)) {
        table = sh;
        haveTable = true;
        break;
      }
    }
  }
  SectionHeader strings;
  if (!haveTable || table.sh_link >= eh.e_shnum ||
      !readAt(fd, &strings, sizeof strings,
              eh.e_shoff + uint64_t{table.sh_link} * eh.e_shentsize)) {
    return false;
  }
  const uint64_t count = table.sh_size / sizeof(ElfSymbol);
  constexpr uint64_t kChunk = sizeof g_symbols / sizeof g_symbols[0];
  for (uint64_t first = 0; first < count;) {
    const uint64_t n = count - first < kChunk ? count - first : kChunk;
    if (!readAt(fd, g_symbols, n * sizeof(ElfSymbol),
                table.sh_offset + first * sizeof(ElfSymbol))) {
      return false;
    }
    for (uint64_t i = 0; i < n; ++i) {
      const ElfSymbol& s = g_symbols[i];
      if (ELF64_ST_TYPE(s.st_info) != STT_FUNC || s.st_shndx == SHN_UNDEF || address < s.st_value ||
          address >= s.st_value + s.st_size) {
        continue;
      }
      const ssize_t got =
          pread(fd, name, nameSize - 1, static_cast<off_t>(strings.sh_offset + s.st_name));
      if (got <= 0) return false;
      name[got] = '\0';
      *distance = address - s.st_value;
      return true;
    }
    first += n;
  }
  return false;
}

// "#3 0x00005555... /path/module+0x1234 symbol+0x1f"
bool writeFrame(int fd, int index, uintptr_t pc, bool isReturnAddress) {
  SignalSafeWriter w;
  w.text("  #").decimal(index).text(" ").hex(pc, 16);
  Mapping m;
  uint64_t base = 0;
  if (!findModule(pc, &m, &base)) return w.text(" ?\n").writeTo(fd);
  char path[PATH_MAX];
  const size_t n = m.pathLength < sizeof path - 1 ? m.pathLength : sizeof path - 1;
  std::memcpy(path, m.path, n);
  path[n] = '\0';
  if (n == 0) return w.text(" (anonymous)+").hex(pc - m.start).text("\n").writeTo(fd);
  const int elf = path[0] == '/' ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  ElfHeader eh;
  if (elf < 0 || !readAt(elf, &eh, sizeof eh, 0) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) {
    if (elf >= 0) close(elf);
    return w.text(" ").text(path).text("+").hex(pc - base).text("\n").writeTo(fd);
  }
  const uint64_t address = elfAddress(elf, eh, base, pc);
  w.text(" ").text(path).text("+").hex(address);
  // A return address points after its call: look the call itself up.
  const uint64_t lookup = isReturnAddress && address > 0 ? address - 1 : address;
  char symbol[256];
  uint64_t distance = 0;
  if (findSymbol(elf, eh, lookup, symbol, sizeof symbol, &distance)) {
    w.text(" ").text(symbol).text("+").hex(distance + (lookup == address ? 0 : 1));
  }
  close(elf);
  return w.text("\n").writeTo(fd);
}

bool writeBacktrace(int fd, const FatalSignal& fault) {
  bool ok = SignalSafeWriter().text("backtrace:\n").writeTo(fd);
  const uintptr_t pc = faultPc(fault);
  // backtrace() sees this handler and the kernel's signal frame first; the
  // fault's own frames start at the faulting instruction.
  const int count = backtrace(g_frames, kMaxFrames);
  int first = 0;
  while (first < count && reinterpret_cast<uintptr_t>(g_frames[first]) != pc) ++first;
  int index = 0;
  if (first == count) {
    // The unwinder lost the fault (or there was no machine context):
    // the instruction first, then whatever it found.
    if (pc != 0) ok = writeFrame(fd, index++, pc, false) && ok;
    first = 0;
  }
  for (int i = first; i < count; ++i) {
    const auto frame = reinterpret_cast<uintptr_t>(g_frames[i]);
    ok = writeFrame(fd, index++, frame, frame != pc) && ok;
  }
  return ok;
}

bool copyMaps(int fd) {
  bool ok = SignalSafeWriter().text("maps:\n").writeTo(fd);
  const int in = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(in, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    ok = writeAllFromSignalHandler(fd, chunk, static_cast<size_t>(n)) && ok;
  }
  close(in);
  return ok;
}

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

bool writeFatalSignalDump(int fd, const FatalSignal& fault) {
  loadMaps();
  SignalSafeWriter w;
  w.text("signal ").decimal(fault.signal).text(" (").text(signalName(fault.signal)).text(")\n");
  w.text("code ").decimal(fault.code).text(" ").text(codeName(fault.signal, fault.code)).text("\n");
  // A signal sent by a process carries its sender, not an address.
  if (fault.senderPid == 0) w.text("address ").hex(fault.address, 16).text("\n");
  w.text("pc ").hex(faultPc(fault), 16).text("\n");
  if (fault.senderPid != 0) w.text("sent by pid ").decimal(fault.senderPid).text("\n");
  w.text("pid ").decimal(getpid()).text(", thread ").decimal(fault.threadId).text("\n");
  bool ok = w.writeTo(fd);
  ok = writeRegisters(fd, fault) && ok;
  ok = writeBacktrace(fd, fault) && ok;
  ok = copyMaps(fd) && ok;
  return ok;
}

int spawnDetachedFromSignalHandler(const char* program, const char* const* argv) {
  // _Fork, not fork: fork runs the atfork handlers, which take malloc's
  // and stdio's locks, perhaps held by the thread that faulted.
  const pid_t pid = _Fork();
  if (pid != 0) return pid < 0 ? -1 : pid;
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
#endif
  {
    for (int fd = 3; fd < 1024; ++fd) close(fd);
  }
  execve(program, const_cast<char* const*>(argv), environ);
  _exit(127);
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

// ---- SignalSafeWriter ---------------------------------------------------

SignalSafeWriter& SignalSafeWriter::text(const char* s) { return text(s, std::strlen(s)); }

SignalSafeWriter& SignalSafeWriter::text(const char* s, size_t n) {
  for (size_t i = 0; i < n && size_ < kCapacity; ++i) buffer_[size_++] = s[i];
  buffer_[size_] = '\0';
  return *this;
}

SignalSafeWriter& SignalSafeWriter::decimal(int64_t value) { return padded(value, 1); }

SignalSafeWriter& SignalSafeWriter::padded(int64_t value, int digits) {
  char out[24];
  int n = 0;
  // Negate in unsigned arithmetic: -INT64_MIN does not fit.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    out[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0 && n < 20);
  while (n < digits && n < 20) out[n++] = '0';
  if (value < 0) text("-", 1);
  while (n > 0) text(&out[--n], 1);
  return *this;
}

SignalSafeWriter& SignalSafeWriter::hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  char out[16];
  int n = 0;
  do {
    out[n++] = kDigits[value & 0xf];
    value >>= 4;
  } while (value != 0);
  while (n < digits && n < 16) out[n++] = '0';
  text("0x", 2);
  while (n > 0) text(&out[--n], 1);
  return *this;
}

SignalSafeWriter& SignalSafeWriter::stamp(const LocalTime& t) {
  return padded(t.year, 4)
      .padded(t.month, 2)
      .padded(t.day, 2)
      .padded(t.hour, 2)
      .padded(t.minute, 2)
      .padded(t.second, 2)
      .padded(t.millisecond, 3);
}

bool SignalSafeWriter::writeTo(int fd) const {
  return writeAllFromSignalHandler(fd, buffer_, size_);
}

bool writeAllFromSignalHandler(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t written = write(fd, data, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    n -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace platform
