// The crash handler in real processes: the test helper, which links the
// handler and faults on command, and the real websetup crashed by a signal.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "crash_test_support.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::Subprocess;
using testing_support::TempDir;
using testing_support::waitFor;

constexpr auto kLimit = std::chrono::seconds(20);

// Runs `program` with `args` (and `env` added to ours), output discarded,
// and returns its raw wait status; -1 when it ran past `limit` (it is
// killed then).
int runAndWait(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env, std::chrono::milliseconds limit) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

// How many processes have this one as their parent (zombies included).
int childCount() {
  int count = 0;
  const std::string self = std::to_string(getpid());
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    std::ifstream stat(e.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (comm) state ppid ...": the name may hold blanks, so read after ')'.
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid == self) ++count;
  }
  return count;
}
constexpr char kLogName[] = "setup_orlastra_20250710093015123.log";

class CrashHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::writeFile(tmp_.file(kLogName), "line of the crashed run\n"));
  }
  std::vector<std::string> logArgs(const std::string& config) const {
    return {"--log-dir", tmp_.path(), "--log-file", kLogName, "--config", config};
  }
  std::string dump() const { return readFile(tmp_.file(std::string(kLogName) + ".dmp")); }

  TempDir tmp_;
};

// Downloader_config 0: the dump and the handler's log lines, and no
// report process at all (orphans would come to us, the subreaper).
TEST_F(CrashHandlerTest, ZeroConfigWritesTheDumpAndStartsNothing) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  std::vector<std::string> args = {"segv"};
  for (const std::string& a : logArgs("0")) args.push_back(a);
  const int status = runAndWait(CRASH_TEST_HELPER, args, {}, kLimit);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);  // the exit status still names the fault
  EXPECT_EQ(childCount(), 0);

  EXPECT_NE(dump().find("signal 11 (SIGSEGV)"), std::string::npos);
  const std::string log = readFile(tmp_.file(kLogName));
  EXPECT_NE(log.find(")  Exception handler entered.\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Create dmp file: 1, 0"), std::string::npos) << log;
  EXPECT_NE(log.find(" Write dmp file: 1, 0"), std::string::npos) << log;
  EXPECT_EQ(log.find("Start crash report"), std::string::npos) << log;
  // The log's own line format, so the lines read like the logger's.
  EXPECT_TRUE(std::regex_search(
      log,
      std::regex(
          R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3}--\[Thread\]\(\d+\)  Exception handler entered\.)")));
}

// The dump locates the fault: reason, registers, the maps, and a first
// frame whose module offset addr2line resolves to the crash test itself.
TEST_F(CrashHandlerTest, DumpLocatesTheFaultForAddr2line) {
  std::vector<std::string> args = {"segv"};
  for (const std::string& a : logArgs("0")) args.push_back(a);
  ASSERT_TRUE(WIFSIGNALED(runAndWait(CRASH_TEST_HELPER, args, {}, kLimit)));
  const std::string text = dump();
  for (const char* part : {"code 1 SEGV_MAPERR", "address 0x0000000000000000", "registers:\n",
                           " rip 0x", " rsp 0x", "backtrace:\n", "maps:\n", "version 1.0.0.0"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
  std::smatch frame;
  ASSERT_TRUE(
      std::regex_search(text, frame, std::regex(R"(#0 0x[0-9a-f]+ (\S+)\+(0x[0-9a-f]+) (\S+)\+)")))
      << text;
  EXPECT_EQ(frame[1].str(), fs::canonical(CRASH_TEST_HELPER).string());
  EXPECT_NE(frame[3].str().find("crashTest"), std::string::npos) << frame[3];
  EXPECT_NE(text.find(" main+0x"), std::string::npos) << "the caller's frame is missing";
  EXPECT_NE(text.find(frame[1].str() + "\n", text.find("maps:\n")), std::string::npos);

  std::string resolved;
  ASSERT_EQ(testing_support::runToEnd({"/usr/bin/addr2line", "-f", "-e", frame[1], frame[2]},
                                      kLimit, &resolved),
            0);
  EXPECT_NE(resolved.find("crashTest"), std::string::npos) << resolved;
  EXPECT_NE(resolved.find("fatal_signal_posix.cc"), std::string::npos) << resolved;
}

// Every fatal signal reaches the handler and still ends the process with
// its own default action.
TEST_F(CrashHandlerTest, EveryFatalSignalIsDumpedAndKeepsItsExitStatus) {
  const struct {
    const char* fault;
    int signal;
    const char* header;
  } kCases[] = {{"abort", SIGABRT, "signal 6 (SIGABRT)"},
                {"fpe", SIGFPE, "signal 8 (SIGFPE)\ncode 1 FPE_INTDIV"},
                {"ill", SIGILL, "signal 4 (SIGILL)"},
                {"bus", SIGBUS, "signal 7 (SIGBUS)"}};
  for (const auto& c : kCases) {
    std::vector<std::string> args = {c.fault};
    for (const std::string& a : logArgs("0")) args.push_back(a);
    const int status = runAndWait(CRASH_TEST_HELPER, args, {{"TMPDIR", tmp_.path()}}, kLimit);
    ASSERT_TRUE(WIFSIGNALED(status)) << c.fault;
    EXPECT_EQ(WTERMSIG(status), c.signal) << c.fault;
    EXPECT_NE(dump().find(c.header), std::string::npos) << c.fault << "\n" << dump();
  }
}

// A fault on a worker thread while the main thread holds the stdio locks:
// the handler needs no lock, so the dump is complete.
TEST_F(CrashHandlerTest, WorkerThreadCrashIsDumpedWhileLocksAreHeld) {
  std::vector<std::string> args = {"thread"};
  for (const std::string& a : logArgs("0")) args.push_back(a);
  const int status = runAndWait(CRASH_TEST_HELPER, args, {}, kLimit);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the handler hung or exited: " << status;
  const std::string text = dump();
  std::smatch ids;
  ASSERT_TRUE(std::regex_search(text, ids, std::regex(R"(pid (\d+), thread (\d+))"))) << text;
  EXPECT_NE(ids[1], ids[2]) << "the dump is not of the faulting thread";
  EXPECT_NE(text.find("crashTest"), std::string::npos);
  EXPECT_NE(text.find("maps:\n"), std::string::npos) << "the dump was cut short";
}

// A stack overflow on a worker thread: the handler needs a stack of its
// own on that thread, or the kernel ends the process with no dump.
TEST_F(CrashHandlerTest, StackOverflowOnAWorkerThreadIsDumped) {
  std::vector<std::string> args = {"overflow"};
  for (const std::string& a : logArgs("0")) args.push_back(a);
  const int status = runAndWait(CRASH_TEST_HELPER, args, {}, kLimit);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  const std::string text = dump();
  ASSERT_NE(text.find("signal 11 (SIGSEGV)"), std::string::npos) << "no dump";
  std::smatch ids;
  ASSERT_TRUE(std::regex_search(text, ids, std::regex(R"(pid (\d+), thread (\d+))"))) << text;
  EXPECT_NE(ids[1], ids[2]) << "the dump is not of the worker thread";
  EXPECT_NE(text.find("overflowTheStack"), std::string::npos) << text.substr(0, 4000);
  EXPECT_NE(text.find("maps:\n"), std::string::npos) << "the dump was cut short";
  EXPECT_NE(readFile(tmp_.file(kLogName)).find(" Write dmp file: 1, 0"), std::string::npos);
}

// A fault inside the handler ends the process at once, by _exit with
// 128 + signal, instead of faulting again for ever.
TEST_F(CrashHandlerTest, FaultInsideTheHandlerEndsTheProcessAtOnce) {
  const int status = runAndWait(CRASH_TEST_HELPER, {"nested"}, {}, kLimit);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGSEGV);
}

// Without a log file the dump goes to the temporary folder under
// <id>_<version>_<time>.dmp, and no report process is started even when
// the configuration asks for one: it would have no log to pack.
TEST_F(CrashHandlerTest, NoLogFileDumpsToTheTemporaryFolder) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const int status =
      runAndWait(CRASH_TEST_HELPER,
                 {"segv", "--config", "2", "--downloader-id", "630", "--version", "2.5.0.7"},
                 {{"TMPDIR", tmp_.path()}}, kLimit);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(childCount(), 0);
  std::vector<std::string> dumps;
  for (const auto& e : fs::directory_iterator(tmp_.path())) {
    if (e.path().extension() == ".dmp") dumps.push_back(e.path().filename().string());
  }
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_TRUE(std::regex_match(dumps[0], std::regex(R"(630_2\.5\.0\.7_\d{17}\.dmp)"))) << dumps[0];
}

// The real program, crashed by a signal while its window runs with
// Downloader_config 2 from the server: the dump lands beside its log, the
// program starts itself with " -dmp <log file name>", and that run uploads
// the log and the dump.
TEST(CrashReportEndToEndTest, CrashedSetupIsReportedBySecondRun) {
  TempDir tmp;
  ASSERT_TRUE(testing_support::writeFile(
      tmp.file("downloader.xml"),
      "<Downloader><Downloader_id>630</Downloader_id><Downloader_config>2</Downloader_config>"
      "</Downloader>"));
  testing_support::MakerServices services(tmp.path());
  crash_test::ReportRun run(tmp, services.baseUrl());
  Subprocess setup({run.program()}, run.env());
  // The window's configuration fetch reports its success once the answer,
  // Downloader_config with it, has been read.
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
  setup.signal(SIGSEGV);
  EXPECT_EQ(setup.wait(kLimit), 128 + SIGSEGV);

  const std::string dump = readFile(run.logDir() + "/" + logName + ".dmp");
  EXPECT_NE(dump.find("signal 11 (SIGSEGV)\ncode 0 SI_USER (sent by kill)\npc "), std::string::npos)
      << dump;
  EXPECT_NE(dump.find("sent by pid " + std::to_string(getpid()) + "\n"), std::string::npos) << dump;
  auto uploads = services.requestsTo("/v1/productLogUpload", 1, kLimit);
  ASSERT_EQ(uploads.size(), 1u);
  const crash_test::Upload upload = crash_test::ReadUpload(uploads[0]);
  EXPECT_EQ(crash_test::FileMd5(upload.savedPath), upload.md5)
      << "saved bytes differ from those sent";
  const std::string stem = logName.substr(0, logName.rfind('_'));
  EXPECT_TRUE(std::regex_match(upload.fileName, std::regex(stem + R"(_\d{17}\.zip)")))
      << upload.fileName;
  EXPECT_EQ(upload.fieldOrder,
            (std::vector<std::string>{"file", "product_id", "version", "catalogue"}));
  EXPECT_EQ(upload.fields.at("product_id"), "VUVededodo2900");
  EXPECT_EQ(upload.fields.at("version"), "1.0.0.0");
  EXPECT_EQ(upload.fields.at("catalogue"), "CrashDmp");
  ASSERT_EQ(upload.entries.size(), 2u);
  EXPECT_EQ(upload.entries[0].first, logName);
  EXPECT_EQ(upload.entries[1].first, logName + ".dmp");
  EXPECT_EQ(upload.entries[1].second, dump);
  // The report is started before its line is logged (the line names its
  // pid), so the copy it packs may end just before that line; it holds the
  // handler's lines up to the dump, and the crashed run's log the start.
  EXPECT_NE(upload.entries[0].second.find(" Write dmp file: 1, 0"), std::string::npos);
  EXPECT_NE(readFile(run.logDir() + "/" + logName).find(" Start crash report: -dmp " + logName),
            std::string::npos);
  EXPECT_EQ(run.logsContaining(" Report upload: label CrashDmp, dump 1, files " + logName).size(),
            1u);
  // Sent, so the archive and the log copy are gone.
  EXPECT_TRUE(waitFor([&] { return run.filesEndingWith(".zip").empty(); }, kLimit));
  EXPECT_TRUE(run.filesEndingWith("_copy.log").empty());
}

}  // namespace
