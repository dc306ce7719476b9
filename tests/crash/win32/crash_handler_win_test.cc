// The crash handler in real Windows processes: the test helper, which links
// the handler and faults on command, and the real websetup faulted from
// outside, by a thread started in it at an address that holds no code.
// The dump is a minidump here; the handler's own header is its comment.

#include <windows.h>
// After windows.h, whose types it uses.
#include <dbghelp.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>

#include "crash_test_support.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "support/win32/host_paths_win.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::Subprocess;
using testing_support::TempDir;
using testing_support::waitFor;

constexpr auto kLimit = std::chrono::seconds(30);
constexpr char kLogName[] = "setup_orlastra_20250710093015123.log";
// What abort() leaves: its exit code, and the code its dump names.
constexpr int kAbortExitCode = 3;
constexpr DWORD kFatalAppExit = 0x40000015;

// What a minidump says about its fault.
struct Minidump {
  bool whole = false;  // "MDMP" first, its directory inside the file
  DWORD exceptionCode = 0;
  DWORD exceptionThread = 0;
  std::string comment;  // the comment stream's text
};

Minidump ReadMinidump(const std::string& bytes) {
  Minidump out;
  MINIDUMP_HEADER header;
  if (bytes.size() < sizeof header || bytes.compare(0, 4, "MDMP") != 0) return out;
  std::memcpy(&header, bytes.data(), sizeof header);
  const uint64_t end = uint64_t{header.StreamDirectoryRva} +
                       uint64_t{header.NumberOfStreams} * sizeof(MINIDUMP_DIRECTORY);
  if (end > bytes.size()) return out;
  out.whole = true;
  for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY entry;
    std::memcpy(&entry, bytes.data() + header.StreamDirectoryRva + i * sizeof entry, sizeof entry);
    const uint64_t at = entry.Location.Rva;
    if (at + entry.Location.DataSize > bytes.size()) {
      out.whole = false;
      continue;
    }
    if (entry.StreamType == CommentStreamA) {
      // NUL-terminated text.
      out.comment = std::string(bytes.data() + at, entry.Location.DataSize).c_str();
    } else if (entry.StreamType == ExceptionStream &&
               entry.Location.DataSize >= sizeof(MINIDUMP_EXCEPTION_STREAM)) {
      MINIDUMP_EXCEPTION_STREAM stream;
      std::memcpy(&stream, bytes.data() + at, sizeof stream);
      out.exceptionCode = stream.ExceptionRecord.ExceptionCode;
      out.exceptionThread = stream.ThreadId;
    }
  }
  return out;
}

// One run of the helper to its end.
struct HelperRun {
  int exitCode = -1;  // the process's exit code; -1 when it ran past the limit
  DWORD mainThread = 0;
};

class CrashHandlerWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::writeFile(tmp_.file(kLogName), "line of the crashed run\n"));
  }

  // Runs the helper with `fault` and `options`, the report it would start
  // being the helper again, which leaves word in marker().
  HelperRun Run(const std::string& fault, const std::vector<std::string>& options) const {
    std::vector<std::string> argv = {CRASH_TEST_HELPER, fault, "--program",
                                     testing_support::win::windowsPath(CRASH_TEST_HELPER)};
    argv.insert(argv.end(), options.begin(), options.end());
    Subprocess helper(
        argv, {{"CRASH_REPORT_MARKER", marker()}, {"TMP", tmp_.path()}, {"TEMP", tmp_.path()}});
    HelperRun run;
    run.exitCode = helper.wait(kLimit);
    run.mainThread = static_cast<DWORD>(
        std::strtoul(helper.output().c_str() + std::strlen("main thread "), nullptr, 10));
    return run;
  }
  std::vector<std::string> LogOptions(const std::string& config) const {
    return {"--log-dir", tmp_.path(), "--log-file", kLogName, "--config", config};
  }
  std::string marker() const { return tmp_.file("report-started"); }
  std::string log() const { return readFile(tmp_.file(kLogName)); }
  Minidump dump() const {
    return ReadMinidump(readFile(tmp_.file(std::string(kLogName) + ".dmp")));
  }

  TempDir tmp_;
};

// Downloader_config 0: the dump, whose comment is the handler's header,
// the handler's log lines in the logger's format, and no report process.
TEST_F(CrashHandlerWinTest, ZeroConfigWritesTheDumpAndStartsNothing) {
  const HelperRun run = Run("segv", LogOptions("0"));
  EXPECT_EQ(run.exitCode, static_cast<int>(EXCEPTION_ACCESS_VIOLATION));
  const Minidump d = dump();
  ASSERT_TRUE(d.whole);
  EXPECT_EQ(d.exceptionCode, EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(d.exceptionThread, run.mainThread);
  EXPECT_EQ(d.comment.rfind("websetup crash dump\nprogram ", 0), 0u) << d.comment;
  EXPECT_NE(d.comment.find("\nversion 1.0.0.0\ndownloader id 0, Downloader_config 0\ntime "),
            std::string::npos)
      << d.comment;
  EXPECT_NE(d.comment.find("\nlog " + tmp_.file(kLogName) + "\n"), std::string::npos) << d.comment;

  const std::string text = log();
  EXPECT_NE(text.find(" Create dmp file: 1, 0"), std::string::npos) << text;
  EXPECT_NE(text.find(" Write dmp file: 1, 0"), std::string::npos) << text;
  EXPECT_EQ(text.find("Start crash report"), std::string::npos) << text;
  EXPECT_TRUE(std::regex_search(
      text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3}--\[Thread\]\(\d+\)  Exception )"
                       R"(handler entered\.)")))
      << text;
  EXPECT_FALSE(waitFor([&] { return fs::exists(marker()); }, std::chrono::seconds(2)));
}

// Every kind of fault reaches the handler, on the thread it happened on,
// and still ends the process with its own code; a fault on a worker while
// the main thread holds the C library's stdio locks among them.
TEST_F(CrashHandlerWinTest, EveryFaultIsDumpedOnItsThreadAndKeepsItsExitCode) {
  const struct {
    const char* fault;
    int exitCode;
    DWORD code;
    bool onWorker;
  } kCases[] = {
      {"abort", kAbortExitCode, kFatalAppExit, false},
      {"fpe", static_cast<int>(EXCEPTION_INT_DIVIDE_BY_ZERO), EXCEPTION_INT_DIVIDE_BY_ZERO, false},
      {"ill", static_cast<int>(EXCEPTION_ILLEGAL_INSTRUCTION), EXCEPTION_ILLEGAL_INSTRUCTION,
       false},
      {"thread", static_cast<int>(EXCEPTION_ACCESS_VIOLATION), EXCEPTION_ACCESS_VIOLATION, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(testing_support::writeFile(tmp_.file(kLogName), ""));
    fs::remove(tmp_.file(std::string(kLogName) + ".dmp"));
    const HelperRun run = Run(c.fault, LogOptions("0"));
    EXPECT_EQ(run.exitCode, c.exitCode);
    const Minidump d = dump();
    ASSERT_TRUE(d.whole);
    EXPECT_EQ(d.exceptionCode, c.code);
    ASSERT_NE(run.mainThread, 0u);
    EXPECT_EQ(d.exceptionThread != run.mainThread, c.onWorker);
    EXPECT_NE(log().find(" Write dmp file: 1, 0"), std::string::npos) << log();
  }
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A stack overflow on a worker thread is handled in the room the thread's
// start reserved for it (SetThreadStackGuarantee); without that room the
// handler overflows too, and the process ends with no dump.
TEST_F(CrashHandlerWinTest, StackOverflowOnAWorkerThreadIsDumped) {
  if (UnderWine())
    GTEST_SKIP() << "Wine keeps no stack guarantee: an overflow's handler gets a page";
  const HelperRun run = Run("overflow", LogOptions("0"));
  EXPECT_EQ(run.exitCode, static_cast<int>(EXCEPTION_STACK_OVERFLOW));
  const Minidump d = dump();
  ASSERT_TRUE(d.whole) << "no dump";
  EXPECT_EQ(d.exceptionCode, EXCEPTION_STACK_OVERFLOW);
  EXPECT_NE(d.exceptionThread, run.mainThread);
  EXPECT_NE(log().find(" Write dmp file: 1, 0"), std::string::npos) << log();
}

// A fault inside the handler ends the process at once, with 128 + the
// signal's number, instead of faulting again for ever.
TEST_F(CrashHandlerWinTest, FaultInsideTheHandlerEndsTheProcessAtOnce) {
  EXPECT_EQ(Run("nested", {}).exitCode, 128 + SIGSEGV);
}

// Downloader_config 1 and 2 start the report as "<program> -dmp <log file
// name>"; without a log file it would have nothing to pack, so the dump
// goes to the temporary folder as <id>_<version>_<time>.dmp and nothing
// is started.
TEST_F(CrashHandlerWinTest, ReportStartsOnlyWithALogFile) {
  Run("segv", LogOptions("2"));
  ASSERT_TRUE(waitFor([&] { return !readFile(marker()).empty(); }, kLimit));
  EXPECT_EQ(readFile(marker()), std::string("-dmp ") + kLogName);
  EXPECT_NE(log().find(" Start crash report: -dmp " + std::string(kLogName) + ", pid "),
            std::string::npos)
      << log();
  fs::remove(marker());

  Run("segv", {"--config", "2", "--downloader-id", "630", "--version", "2.5.0.7"});
  std::vector<std::string> dumps;
  for (const auto& e : fs::directory_iterator(tmp_.path())) {
    if (e.path().extension() == ".dmp" && e.path().filename() != std::string(kLogName) + ".dmp") {
      dumps.push_back(e.path().filename().string());
    }
  }
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_TRUE(std::regex_match(dumps[0], std::regex(R"(630_2\.5\.0\.7_\d{17}\.dmp)"))) << dumps[0];
  EXPECT_TRUE(ReadMinidump(readFile(tmp_.file(dumps[0]))).whole);
  // The helper as report would have written its marker by now.
  EXPECT_FALSE(waitFor([&] { return fs::exists(marker()); }, std::chrono::seconds(2)));
}

// Starts a thread in process `pid` at an address that holds no code, so
// the process faults as on an access violation of its own.
bool FaultFromOutside(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, pid);
  if (process == nullptr) return false;
  const auto nowhere = reinterpret_cast<LPTHREAD_START_ROUTINE>(static_cast<uintptr_t>(0x10));
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, nowhere, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
  CloseHandle(process);
  return thread != nullptr;
}

// The real program, faulted while its window runs with Downloader_config 2
// from the server: the dump lands beside its log, the program starts
// itself with " -dmp <log file name>", and that run uploads the log and
// the dump to the collector.
TEST(CrashReportEndToEndWinTest, CrashedSetupIsReportedBySecondRun) {
  TempDir tmp;
  ASSERT_TRUE(testing_support::writeFile(
      tmp.file("downloader.xml"),
      "<Downloader><Downloader_id>630</Downloader_id><Downloader_config>2</Downloader_config>"
      "</Downloader>"));
  testing_support::MakerServices services(tmp.path());
  crash_test::ReportRun run(tmp, services.baseUrl());
  Subprocess setup({run.program()}, run.env());
  const auto configured = [&] {
    for (const Json::Value& line : services.journal()) {
      if (line["body"].asString().find("\"Download configurationType\" : \"Success\"") !=
          std::string::npos) {
        return true;
      }
    }
    return false;
  };
  ASSERT_TRUE(
      waitFor([&] { return configured() && run.logsContaining(" Setup window shown").size() == 1; },
              kLimit));
  const std::string logName = run.logsContaining(" Setup window shown")[0];
  ASSERT_TRUE(FaultFromOutside(static_cast<DWORD>(setup.pid())));
  EXPECT_EQ(setup.wait(kLimit), static_cast<int>(EXCEPTION_ACCESS_VIOLATION));

  const std::string dumpBytes = readFile(run.logDir() + "/" + logName + ".dmp");
  const Minidump d = ReadMinidump(dumpBytes);
  ASSERT_TRUE(d.whole);
  EXPECT_EQ(d.exceptionCode, EXCEPTION_ACCESS_VIOLATION);
  EXPECT_NE(d.comment.find("Downloader_config 2\n"), std::string::npos) << d.comment;
  auto uploads = services.requestsTo("/v1/productLogUpload", 1, kLimit);
  ASSERT_EQ(uploads.size(), 1u);
  const crash_test::Upload upload = crash_test::ReadUpload(uploads[0]);
  EXPECT_EQ(crash_test::FileMd5(upload.savedPath), upload.md5)
      << "saved bytes differ from those sent";
  const std::string stem = logName.substr(0, logName.rfind('_'));
  EXPECT_TRUE(std::regex_match(upload.fileName, std::regex(stem + R"(_\d{17}\.zip)")))
      << upload.fileName;
  EXPECT_EQ(upload.fields.at("catalogue"), "CrashDmp");
  ASSERT_EQ(upload.entries.size(), 2u);
  EXPECT_EQ(upload.entries[0].first, logName);
  EXPECT_EQ(upload.entries[1].first, logName + ".dmp");
  EXPECT_EQ(upload.entries[1].second, dumpBytes);
  // The report is started before its line is logged (the line names its
  // pid), so the copy it packs may end just before that line; it holds the
  // handler's lines up to the dump, and the crashed run's log the start.
  EXPECT_NE(upload.entries[0].second.find(" Write dmp file: 1, 0"), std::string::npos);
  EXPECT_NE(readFile(run.logDir() + "/" + logName).find(" Start crash report: -dmp " + logName),
            std::string::npos);
  // Sent, so the archive and the log copy are gone.
  EXPECT_TRUE(waitFor([&] { return run.filesEndingWith(".zip").empty(); }, kLimit));
  EXPECT_TRUE(run.filesEndingWith("_copy.log").empty());
}

}  // namespace
