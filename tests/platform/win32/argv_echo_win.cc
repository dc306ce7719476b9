// The child that process_win_test.cc starts, one job per first argument:
//
//   --echo FILE ARGS...  writes the elements after FILE to FILE twice, as
//                        CommandLineToArgvW and as the C runtime read the
//                        command line: "<parser> <count>\n", then each
//                        element as "<bytes>:<UTF-8 bytes>\n"
//   --sleep MS           sleeps, then exits 0
//   --lock NAME          takes the instance lock NAME and exits with the
//                        result's number, leaving the lock to the kernel
//   --crash FILE         installs the fatal handler, writes a text header
//                        and then the dump to FILE, and faults
//   --overflow FILE      the same, faulting by overflowing its stack
//
// Exit code 100 means the arguments made no sense.

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/text.h"
#include "platform/crash_dump.h"
#include "platform/fatal_signal.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/signal_safe_io.h"

// The C runtime's own parse of the wide command line (msvcrt exports it;
// a program built without -municode is not handed it otherwise).
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards,
                              int* startInfo);

namespace {

constexpr int kUsage = 100;

void writeParse(FILE* out, const char* parser, int argc, wchar_t** argv, int first) {
  std::fprintf(out, "%s %d\n", parser, argc - first);
  for (int i = first; i < argc; ++i) {
    const std::string utf8 = common::wideToUtf8(argv[i]);
    std::fprintf(out, "%zu:", utf8.size());
    std::fwrite(utf8.data(), 1, utf8.size(), out);
    std::fputc('\n', out);
  }
}

int echo(int argc, wchar_t** argv) {
  FILE* out = _wfopen(argv[2], L"wb");
  if (out == nullptr) return kUsage;
  // Elements 0-2 are the program, --echo and FILE.
  writeParse(out, "shell32", argc, argv, 3);
  int crtArgc = 0;
  wchar_t** crtArgv = nullptr;
  wchar_t** crtEnv = nullptr;
  int startInfo = 0;
  if (__wgetmainargs(&crtArgc, &crtArgv, &crtEnv, 0, &startInfo) == 0) {
    writeParse(out, "crt", crtArgc, crtArgv, 3);
  }
  return std::fclose(out) == 0 ? 0 : kUsage;
}

char g_dumpPath[4096];
constexpr char kDumpHeader[] = "websetup crash dump\nprogram argv_echo_win\n";

void writeDump(const platform::FatalSignal& fault) {
  const int fd = platform::createFileFromSignalHandler(g_dumpPath);
  if (fd < 0) return;
  (void)platform::SignalSafeWriter().text(kDumpHeader).writeTo(fd);
  (void)platform::writeFatalSignalDump(fd, fault);
  (void)platform::closeFromSignalHandler(fd);
}

// Never equal to a depth, but the compiler cannot know that.
volatile int g_bottom = -1;

// Each level keeps a page of its own live, so no level can be folded away.
__attribute__((noinline)) int recurse(int depth) {
  if (depth == g_bottom) return 0;
  volatile char page[4096];
  page[depth % sizeof page] = static_cast<char>(depth);
  return recurse(depth + 1) + page[(depth + 1) % sizeof page];
}

int crash(const wchar_t* path, bool overflow) {
  const std::string utf8 = common::wideToUtf8(path);
  if (utf8.size() >= sizeof g_dumpPath) return kUsage;
  std::memcpy(g_dumpPath, utf8.c_str(), utf8.size() + 1);
  if (platform::installFatalSignalHandler(&writeDump) != platform::PlatformResult::kOk) {
    return kUsage;
  }
  if (overflow) return recurse(0);
  platform::crashTest();
}

}  // namespace

int main() {
  int argc = 0;
  std::unique_ptr<wchar_t*, decltype(&LocalFree)> argv(CommandLineToArgvW(GetCommandLineW(), &argc),
                                                       &LocalFree);
  if (!argv || argc < 3) return kUsage;
  wchar_t** args = argv.get();
  const std::wstring mode = args[1];
  if (mode == L"--echo") return echo(argc, args);
  if (mode == L"--sleep") {
    Sleep(static_cast<DWORD>(_wtoi(args[2])));
    return 0;
  }
  if (mode == L"--lock") {
    std::unique_ptr<platform::InstanceLock> lock;
    const platform::PlatformResult r =
        platform::InstanceLock::acquire(common::wideToUtf8(args[2]), &lock);
    // Ends without releasing, as a crashed setup would.
    platform::endProcessNow(static_cast<int>(r));
  }
  if (mode == L"--crash") return crash(args[2], false);
  if (mode == L"--overflow") return crash(args[2], true);
  return kUsage;
}
