// The Win32 process, lock and crash files, run for real against the child
// program argv_echo_win.exe, which is built beside this test.

#include <windows.h>
// After windows.h, whose types it uses.
#include <dbghelp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace platform {
namespace {

using std::chrono::milliseconds;

std::wstring moduleDir() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

std::string childPath() { return common::wideToUtf8(moduleDir() + L"argv_echo_win.exe"); }

// A folder of its own under the temporary folder, removed with its files.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& leaf) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + leaf + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount());
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    for (const std::wstring& f : files_) DeleteFileW(f.c_str());
    RemoveDirectoryW(path_.c_str());
  }
  std::wstring file(const std::wstring& name) {
    files_.push_back(path_ + L"\\" + name);
    return files_.back();
  }

 private:
  std::wstring path_;
  std::vector<std::wstring> files_;
};

std::string readAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the child with `args` and returns its exit code, or -1000 - result
// when it did not start or end within 30 s.
int runChild(const std::vector<std::string>& args, const std::string& program = childPath()) {
  SpawnOptions options;
  options.argv.push_back(program);
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  int pid = 0;
  const PlatformResult started = spawnProcess(options, &pid);
  if (started != PlatformResult::kOk) return -1000 - static_cast<int>(started);
  int code = 0;
  const PlatformResult waited = waitProcess(pid, milliseconds(30000), &code);
  return waited == PlatformResult::kOk ? code : -1000 - static_cast<int>(waited);
}

// One parser's elements from the echo file: "<parser> <count>\n", then
// "<bytes>:<bytes of the element>\n" each.
std::vector<std::string> parsedBy(const std::string& echo, const std::string& parser) {
  const size_t at = echo.find(parser + " ");
  if (at == std::string::npos) return {{"<no " + parser + " section>"}};
  size_t pos = at + parser.size() + 1;
  const size_t count = std::stoul(echo.substr(pos));
  pos = echo.find('\n', pos) + 1;
  std::vector<std::string> out;
  for (size_t i = 0; i < count && pos < echo.size(); ++i) {
    const size_t colon = echo.find(':', pos);
    const size_t length = std::stoul(echo.substr(pos, colon - pos));
    out.push_back(echo.substr(colon + 1, length));
    pos = colon + 1 + length + 1;
  }
  return out;
}

// Catches an argument that ends its own quotes and adds a switch, loses a
// backslash, vanishes when empty, splits at a blank or loses non-ASCII
// text, as either Windows parser reads it back; the program itself lies in
// a folder with a blank and non-ASCII letters in its name.
TEST(ProcessWinTest, ArgumentsReadBackUnchanged) {
  TempFolder folder(L"argv echo \u00e9\u00df");
  const std::wstring copy = folder.file(L"argv echo.exe");
  ASSERT_TRUE(CopyFileW(common::utf8ToWide(childPath()).c_str(), copy.c_str(), FALSE));
  const std::wstring out = folder.file(L"echo.txt");
  const std::vector<std::string> hostile = {
      "a\" /DIR=\"x",
      "/S",
      "",
      "with space",
      "tab\there",
      "trailing\\",
      "two trailing\\\\",
      "C:\\Program Files\\App\\",
      "\\\"",
      "\\\\\"quoted\\\\\"",
      "\"",
      "\"\"",
      "mid\\\\dle",
      "",
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
      "%PATH% ^& | < >",
  };
  std::vector<std::string> args = {"--echo", common::wideToUtf8(out)};
  args.insert(args.end(), hostile.begin(), hostile.end());
  ASSERT_EQ(runChild(args, common::wideToUtf8(copy)), 0);
  const std::string echo = readAll(out);
  EXPECT_EQ(parsedBy(echo, "shell32"), hostile);
  EXPECT_EQ(parsedBy(echo, "crt"), hostile);
}

TEST(ProcessWinTest, ArgumentsThatCannotBeCarriedAreRefused) {
  SpawnOptions options;
  options.argv = {childPath(), "--echo", std::string("nul\0inside", 10)};
  int pid = 0;
  EXPECT_EQ(spawnProcess(options, &pid), PlatformResult::kInvalidArgument);
  options.argv = {"C:\\quote\"d.exe", "--sleep", "0"};
  EXPECT_EQ(spawnProcess(options, &pid), PlatformResult::kInvalidArgument);
}

// Catches a wait that ignores its limit or reports a running child as
// ended, and a kill or a reap that misses our own child.
TEST(ProcessWinTest, TimedWaitTimesOutUntilTheChildIsEnded) {
  SpawnOptions options;
  options.argv = {childPath(), "--sleep", "60000"};
  int pid = 0;
  ASSERT_EQ(spawnProcess(options, &pid), PlatformResult::kOk);
  int code = -1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitProcess(pid, milliseconds(300), &code), PlatformResult::kTimedOut);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(250));
  EXPECT_LT(waited, milliseconds(5000));
  EXPECT_EQ(killProcess(pid), PlatformResult::kOk);
  ASSERT_EQ(waitProcess(pid, milliseconds(10000), &code), PlatformResult::kOk);
  EXPECT_EQ(code, 0);
  // Reaped: no longer ours to wait for.
  EXPECT_EQ(waitProcess(pid, milliseconds(0), &code), PlatformResult::kNotFound);
  EXPECT_EQ(runChild({"--sleep", "0"}), 0);
}

TEST(ProcessWinTest, MissingProgramOrFolderIsNotFound) {
  SpawnOptions options;
  options.argv = {common::wideToUtf8(moduleDir()) + "no such program.exe"};
  int pid = 0;
  int osError = 0;
  EXPECT_EQ(spawnProcess(options, &pid, &osError), PlatformResult::kNotFound);
  EXPECT_EQ(osError, ERROR_FILE_NOT_FOUND);
  options.argv = {childPath(), "--sleep", "0"};
  options.workingDir = common::wideToUtf8(moduleDir()) + "no such folder";
  EXPECT_EQ(spawnProcess(options, &pid, &osError), PlatformResult::kNotFound);
}

// Catches a lock that a second process also gets, and one that a holder
// which died leaves taken for ever (the kernel abandons it).
TEST(NamedMutexWinTest, InstanceLockExcludesAnotherProcessUntilReleasedOrDead) {
  const std::string name = "win-test-" + std::to_string(GetCurrentProcessId());
  std::unique_ptr<InstanceLock> mine;
  ASSERT_EQ(InstanceLock::acquire(name, &mine), PlatformResult::kOk);
  EXPECT_EQ(runChild({"--lock", name}), static_cast<int>(PlatformResult::kAlreadyExists));
  mine->release();
  EXPECT_EQ(runChild({"--lock", name}), static_cast<int>(PlatformResult::kOk));

  // Keeping the mutex open keeps it alive after the child dies owning it.
  NamedMutex keeper(name);
  EXPECT_EQ(runChild({"--lock", name}), static_cast<int>(PlatformResult::kOk));
  std::unique_ptr<InstanceLock> after;
  EXPECT_EQ(InstanceLock::acquire(name, &after), PlatformResult::kOk);
}

// Runs the child faulting with `mode` and checks what it leaves: a
// minidump from the first byte (not the caller's header in front of it),
// holding the fault and, in its comment stream, the caller's header.
void expectMinidumpOfFault(const std::string& mode, DWORD exceptionCode) {
  TempFolder folder(L"crash dump");
  const std::wstring dump = folder.file(L"child.dmp");
  EXPECT_EQ(static_cast<DWORD>(runChild({mode, common::wideToUtf8(dump)})), exceptionCode);
  const std::string bytes = readAll(dump);
  ASSERT_GE(bytes.size(), sizeof(MINIDUMP_HEADER));
  MINIDUMP_HEADER header;
  std::memcpy(&header, bytes.data(), sizeof header);
  EXPECT_EQ(bytes.substr(0, 4), "MDMP");
  ASSERT_LE(uint64_t{header.StreamDirectoryRva} +
                uint64_t{header.NumberOfStreams} * sizeof(MINIDUMP_DIRECTORY),
            bytes.size());
  bool sawException = false;
  std::string comment;
  for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY entry;
    std::memcpy(&entry, bytes.data() + header.StreamDirectoryRva + i * sizeof entry, sizeof entry);
    if (entry.StreamType == CommentStreamA) {
      ASSERT_LE(uint64_t{entry.Location.Rva} + entry.Location.DataSize, bytes.size());
      comment = std::string(bytes.data() + entry.Location.Rva, entry.Location.DataSize);
    }
    if (entry.StreamType != ExceptionStream) continue;
    ASSERT_LE(uint64_t{entry.Location.Rva} + sizeof(MINIDUMP_EXCEPTION_STREAM), bytes.size());
    MINIDUMP_EXCEPTION_STREAM stream;
    std::memcpy(&stream, bytes.data() + entry.Location.Rva, sizeof stream);
    EXPECT_EQ(stream.ExceptionRecord.ExceptionCode, exceptionCode);
    sawException = true;
  }
  EXPECT_TRUE(sawException);
  // A text stream, NUL-terminated.
  EXPECT_EQ(std::string(comment.c_str()), "websetup crash dump\nprogram argv_echo_win\n");
}

TEST(CrashDumpWinTest, FaultLeavesMinidumpWithTheException) {
  expectMinidumpOfFault("--crash", EXCEPTION_ACCESS_VIOLATION);
}

// Catches a handler that needs more stack than an overflow leaves it.
TEST(CrashDumpWinTest, StackOverflowStillLeavesMinidump) {
  expectMinidumpOfFault("--overflow", EXCEPTION_STACK_OVERFLOW);
}

}  // namespace
}  // namespace platform
