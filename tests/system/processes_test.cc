#include "system/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>

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

// Copies a real program (sleep) to `path`, so a process runs from there.
void installSleeper(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
  fs::permissions(path, fs::perms::owner_all);
}

class ProcessesTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

// Case is ignored in the path, a same-named program in another folder does
// not match, and ending a match really ends it.
TEST_F(ProcessesTest, FindsAndEndsProcessByFullPathOnly) {
#ifdef _WIN32
  GTEST_SKIP()
      << "runs copies of /bin/sleep and shell scripts and reads /proc; not yet ported to a "
         "Windows child program";
#endif
  const std::string mine = dir_.file("apps/x/setup.exe");
  const std::string other = dir_.file("other/setup.exe");
  installSleeper(mine);
  installSleeper(other);
  Subprocess running({mine, "60"});
  ASSERT_TRUE(waitFor(
      [&] {
        return fs::exists("/proc/" + std::to_string(running.pid()) + "/exe") &&
               fs::read_symlink("/proc/" + std::to_string(running.pid()) + "/exe") == mine;
      },
      std::chrono::seconds(10)));

  EXPECT_EQ(FindProcessByFullPath(Utf8ToWide(other), true, false), -1);
  std::wstring upper = Utf8ToWide(dir_.file("APPS/X/SETUP.EXE"));
  EXPECT_EQ(FindProcessByFullPath(upper, false, false), running.pid());
  EXPECT_EQ(running.wait(std::chrono::milliseconds(0)), -1);  // not ended without `end`

  EXPECT_EQ(FindProcessByFullPath(upper, true, false), running.pid());
  EXPECT_EQ(running.wait(std::chrono::seconds(10)), 128 + SIGKILL);
  EXPECT_EQ(FindProcessByFullPath(upper, false, false), -1);
}

// With the temporary rule, setup.tmp running from a ".tmp" folder is ended
// along with the download file, but not one from an ordinary folder.
TEST_F(ProcessesTest, TemporaryRuleEndsExtractedCopies) {
#ifdef _WIN32
  GTEST_SKIP()
      << "runs copies of /bin/sleep and shell scripts and reads /proc; not yet ported to a "
         "Windows child program";
#endif
  const std::string extracted = dir_.file("is-AB12.tmp/setup.tmp");
  const std::string elsewhere = dir_.file("plain/setup.tmp");
  installSleeper(extracted);
  installSleeper(elsewhere);
  Subprocess tmp({extracted, "60"});
  Subprocess plain({elsewhere, "60"});
  ASSERT_TRUE(waitFor(
      [&] {
        return fs::exists("/proc/" + std::to_string(tmp.pid()) + "/exe") &&
               fs::read_symlink("/proc/" + std::to_string(tmp.pid()) + "/exe") == extracted &&
               fs::read_symlink("/proc/" + std::to_string(plain.pid()) + "/exe") == elsewhere;
      },
      std::chrono::seconds(10)));

  const std::wstring download = Utf8ToWide(dir_.file("cache/setup.exe"));
  EXPECT_EQ(FindProcessByFullPath(download, false, false), -1);
  EXPECT_EQ(FindProcessByFullPath(download, true, true), tmp.pid());
  EXPECT_EQ(tmp.wait(std::chrono::seconds(10)), 128 + SIGKILL);
  EXPECT_EQ(plain.wait(std::chrono::milliseconds(0)), -1);
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

// Both branches really start the product; the direct one in its folder.
TEST_F(ProcessesTest, StartsProductInItsFolder) {
#ifdef _WIN32
  GTEST_SKIP()
      << "runs copies of /bin/sleep and shell scripts and reads /proc; not yet ported to a "
         "Windows child program";
#endif
  const std::string folder = dir_.file("product");
  fs::create_directories(folder);
  const std::string script = folder + "/app.sh";
  ASSERT_TRUE(testing_support::writeFile(script, "#!/bin/sh\npwd > \"$1\"\n"));
  fs::permissions(script, fs::perms::owner_all);
  const std::string marks[] = {dir_.file("direct.txt"), dir_.file("shell.txt")};

  EXPECT_EQ(StartTargetMainExe(L"\"" + Utf8ToWide(script) + L"\" " + Utf8ToWide(marks[0]), 1), 0);
  EXPECT_EQ(StartTargetMainExe(L"\"" + Utf8ToWide(script) + L"\" " + Utf8ToWide(marks[1]), 0), 0);
  for (const auto& mark : marks) {
    ASSERT_TRUE(
        waitFor([&] { return !testing_support::readFile(mark).empty(); }, std::chrono::seconds(10)))
        << mark;
    EXPECT_EQ(testing_support::readFile(mark), fs::canonical(folder).string() + "\n");
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
  GTEST_SKIP()
      << "std::filesystem of mingw makes no symbolic links; not yet ported to CreateSymbolicLinkW";
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
