#include "system/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <memory>

#include "platform/paths.h"
#include "support/recording_event_sink.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "system/text_functions.h"

namespace FuntionImpl {
namespace {

namespace fs = std::filesystem;
using testing_support::Subprocess;
using testing_support::TempDir;
using testing_support::waitFor;

// The status a waiter reads for a process that killProcess() ended: the
// signal's on Linux, the code the setup gives TerminateProcess on Windows.
#ifdef _WIN32
constexpr int kKilledStatus = 0;
#else
constexpr int kKilledStatus = 128 + SIGKILL;
#endif

// Copies the test child (process_child.cc, built beside this test) to
// `path`, so a process runs from there.
void installChild(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file(platform::moduleDir() + PROCESS_CHILD_NAME, path,
                fs::copy_options::overwrite_existing);
  fs::permissions(path, fs::perms::owner_all);
}

// Runs a copy of the test child from `path` for a minute; null when it
// did not get going within 10 s.
std::unique_ptr<Subprocess> startSleeper(const std::string& path) {
  installChild(path);
  const std::string ready = path + ".ready";
  auto child = std::make_unique<Subprocess>(
      std::vector<std::string>{path, "--ready", ready, "--sleep", "60"});
  if (!waitFor([&] { return !testing_support::readFile(ready).empty(); },
               std::chrono::seconds(10))) {
    return nullptr;
  }
  return child;
}

class ProcessesTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

// Case is ignored in the path, a same-named program in another folder does
// not match, and ending a match really ends it.
TEST_F(ProcessesTest, FindsAndEndsProcessByFullPathOnly) {
  const std::string mine = dir_.file("apps/x/setup.exe");
  const std::string other = dir_.file("other/setup.exe");
  installChild(other);
  const std::unique_ptr<Subprocess> running = startSleeper(mine);
  ASSERT_TRUE(running);

  EXPECT_EQ(FindProcessByFullPath(Utf8ToWide(other), true, false), -1);
  std::wstring upper = Utf8ToWide(dir_.file("APPS/X/SETUP.EXE"));
  EXPECT_EQ(FindProcessByFullPath(upper, false, false), running->pid());
  EXPECT_EQ(running->wait(std::chrono::milliseconds(0)), -1);  // not ended without `end`

  EXPECT_EQ(FindProcessByFullPath(upper, true, false), running->pid());
  EXPECT_EQ(running->wait(std::chrono::seconds(10)), kKilledStatus);
  EXPECT_EQ(FindProcessByFullPath(upper, false, false), -1);
}

// With the temporary rule, setup.tmp running from a ".tmp" folder is ended
// along with the download file, but not one from an ordinary folder.
TEST_F(ProcessesTest, TemporaryRuleEndsExtractedCopies) {
  const std::unique_ptr<Subprocess> tmp = startSleeper(dir_.file("is-AB12.tmp/setup.tmp"));
  const std::unique_ptr<Subprocess> plain = startSleeper(dir_.file("plain/setup.tmp"));
  ASSERT_TRUE(tmp && plain);

  const std::wstring download = Utf8ToWide(dir_.file("cache/setup.exe"));
  EXPECT_EQ(FindProcessByFullPath(download, false, false), -1);
  EXPECT_EQ(FindProcessByFullPath(download, true, true), tmp->pid());
  EXPECT_EQ(tmp->wait(std::chrono::seconds(10)), kKilledStatus);
  EXPECT_EQ(plain->wait(std::chrono::milliseconds(0)), -1);
}

TEST_F(ProcessesTest, StartFailuresAreReportedWithTheirNumber) {
  testing_support::RecordingEventSink events;
  const std::wstring missing = L"\"" + Utf8ToWide(dir_.file("none/app.exe")) + L"\"";
  EXPECT_EQ(StartTargetMainExe(missing, 0), -1);
  EXPECT_EQ(StartTargetMainExe(missing, 1), -1);
  ASSERT_EQ(events.events().size(), 2u);
  EXPECT_EQ(events.events()[0].category, "Other");
  const std::vector<std::string> labels = events.labels("StartWindowError");
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0], "2");
  EXPECT_EQ(labels[1], "2");  // ENOENT from the start itself
}

// Both branches really start the product, in its folder: the direct one
// and the one without the setup's rights, whichever way that one goes here
// (as the invoking user, through the desktop's shell, or the plain start
// it falls back to).
TEST_F(ProcessesTest, StartsProductInItsFolder) {
  const std::string folder = dir_.file("product");
  const std::string program = folder + "/app.exe";
  installChild(program);
  const std::string marks[] = {dir_.file("direct.txt"), dir_.file("desktop.txt")};
  auto commandLine = [&](const std::string& mark) {
    return L"\"" + Utf8ToWide(program) + L"\" --cwd " + Utf8ToWide(mark);
  };

  EXPECT_EQ(StartTargetMainExe(commandLine(marks[0]), 1), 0);
  EXPECT_EQ(StartTargetMainExe(commandLine(marks[1]), 0), 0);
  for (const auto& mark : marks) {
    ASSERT_TRUE(
        waitFor([&] { return !testing_support::readFile(mark).empty(); }, std::chrono::seconds(10)))
        << mark;
    const std::string cwd = testing_support::readFile(mark);
    EXPECT_TRUE(fs::equivalent(fs::path(cwd), fs::path(folder))) << mark << ": " << cwd;
  }
}

// As root on behalf of a user, the product starts as that user.
TEST_F(ProcessesTest, ShellBranchDropsRootRights) {
#ifdef _WIN32
  GTEST_SKIP() << "root and SUDO_UID are Linux's; an elevated Windows setup starts the product "
                  "through the shell";
#else
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
#endif
  const std::string folder = dir_.file("product");
  fs::create_directories(folder);
  fs::permissions(dir_.path(), fs::perms::all);
  fs::permissions(folder, fs::perms::all);
  const std::string script = folder + "/app.sh";
  const std::string mark = folder + "/uid.txt";
  ASSERT_TRUE(testing_support::writeFile(script, "#!/bin/sh\nid -u > \"" + mark + "\"\n"));
  fs::permissions(script, fs::perms::all);
  setenv("SUDO_UID", "65534", 1);
  const int rc = StartTargetMainExe(L"\"" + Utf8ToWide(script) + L"\"", 0);
  unsetenv("SUDO_UID");
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(
      waitFor([&] { return !testing_support::readFile(mark).empty(); }, std::chrono::seconds(10)));
  EXPECT_EQ(testing_support::readFile(mark), "65534\n");
}

TEST_F(ProcessesTest, FindFileInSubfoldersSearchesBelowRootOnly) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine 8 makes no working folder link: CreateSymbolicLinkW succeeds but the "
                  "link does not list, and junctions are not supported";
#endif
  fs::create_directories(dir_.file("root/a/empty"));
  fs::create_directories(dir_.file("root/b/c"));
  ASSERT_TRUE(testing_support::writeFile(dir_.file("root/main.exe"), "x"));
  ASSERT_TRUE(testing_support::writeFile(dir_.file("root/b/c/main.exe"), "x"));
  const std::wstring root = Utf8ToWide(dir_.file("root/"));
  EXPECT_EQ(FindFileInSubfolders(root, L"main.exe"), Utf8ToWide(dir_.file("root/b/c/main.exe")));
  EXPECT_EQ(FindFileInSubfolders(root, L"other.exe"), L"");
  EXPECT_EQ(FindFileInSubfolders(Utf8ToWide(dir_.file("missing/")), L"main.exe"), L"");
  // A link back up must not send the search round in circles.
  fs::create_directory_symlink(dir_.file("root"), dir_.file("root/a/loop"));
  EXPECT_EQ(FindFileInSubfolders(root, L"other.exe"), L"");
}

TEST(CommandLineTest, SplitsAtBlanksOutsideQuotes) {
  EXPECT_EQ(SplitCommandLine("\"/opt/My App/app\" -a  \"b c\""),
            (std::vector<std::string>{"/opt/My App/app", "-a", "b c"}));
  EXPECT_EQ(SplitCommandLine("\"\""), std::vector<std::string>{""});
}

// The fault: " Kill proc: " logged the platform's own result number (1 for
// a process already gone) where the OS error number (ESRCH) belongs.
TEST(KillErrorNumberTest, IsTheOsErrorOfTheKill) {
  const struct {
    platform::PlatformResult result;
    int want;
  } kCases[] = {
      {platform::PlatformResult::kOk, 0},
      {platform::PlatformResult::kNotFound, ESRCH},
      {platform::PlatformResult::kAccessDenied, EPERM},
      {platform::PlatformResult::kInvalidArgument, EINVAL},
      {platform::PlatformResult::kIoError, EIO},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(KillErrorNumber(c.result), c.want) << static_cast<int>(c.result);
}

}  // namespace
}  // namespace FuntionImpl
