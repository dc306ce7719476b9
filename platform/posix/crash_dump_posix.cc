// The crash dump's body on Linux: the fault, the registers, a symbolised
// backtrace and the memory map. Everything here keeps to async-signal-safe
// system calls and static storage, as the handler that calls it must.

#include "platform/crash_dump.h"

#include <elf.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>

#include "platform/signal_safe_io.h"

namespace platform {

namespace {

using ElfHeader = ElfW(Ehdr);
using SectionHeader = ElfW(Shdr);
using ProgramHeader = ElfW(Phdr);
using ElfSymbol = ElfW(Sym);

constexpr int kMaxFrames = 64;

// The dump writer's scratch space, static because the handler runs once
// and an alternate stack is small.
char g_maps[512 * 1024];
size_t g_mapsSize = 0;
ElfSymbol g_symbols[512];
void* g_frames[kMaxFrames];

// ---- fault description -------------------------------------------------

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
  }
}

const char* codeName(int sig, int code) {
  switch (code) {
    case SI_USER: return "SI_USER (sent by kill)";
    case SI_TKILL: return "SI_TKILL (sent by tgkill or raise)";
    case SI_QUEUE: return "SI_QUEUE";
    case SI_KERNEL: return "SI_KERNEL";
    default: break;
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

}  // namespace

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

}  // namespace platform
