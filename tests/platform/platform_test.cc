// The posix platform layer, run for real in temporary folders and child
// processes.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/activation.h"
#include "platform/clock.h"
#include "platform/dev_settings.h"
#include "platform/fatal_signal.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/posix/runtime_dir_posix.h"
#include "platform/resources.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

using testing_support::TempDir;
using testing_support::writeFile;

TEST(ProfileTest, ReadsIntegersTheWayWindowsDoes) {
  TempDir tmp;
  const std::string path = tmp.file("qm_downloader.cfg");
  ASSERT_TRUE(writeFile(path,
                        "\xEF\xBB\xBF[Other]\nAutoRun=1\n"
                        "[settings]\n ; comment\n autorun = 1 \nTestEnv=01\nCrashTest=2x\nBad=x\nNeg=-3\n"));
  EXPECT_EQ(readProfileInt(path, "Settings", "AutoRun", 0), 1);  // names ignore case
  EXPECT_EQ(readProfileInt(path, "Settings", "TestEnv", 0), 1);
  EXPECT_EQ(readProfileInt(path, "Settings", "CrashTest", 0), 2);
  EXPECT_EQ(readProfileInt(path, "Settings", "Bad", 9), 0);
  EXPECT_EQ(readProfileInt(path, "Settings", "Neg", 0), -3);
  EXPECT_EQ(readProfileInt(path, "Settings", "Missing", 7), 7);
  EXPECT_EQ(readProfileInt(tmp.file("none.cfg"), "Settings", "AutoRun", 4), 4);
}

TEST(PathsTest, CreatesChainsAndFindsTheirVolume) {
  TempDir tmp;
  const std::string deep = tmp.file("a/b/c/");
  ASSERT_EQ(createDirectoryChain(deep), PlatformResult::kOk);
  EXPECT_TRUE(pathExists(tmp.file("a/b/c")));
  EXPECT_EQ(createDirectoryChain(deep), PlatformResult::kOk);  // existing is fine
  ASSERT_TRUE(writeFile(tmp.file("file"), "x"));
  EXPECT_NE(createDirectoryChain(tmp.file("file/sub")), PlatformResult::kOk);

  // /proc is its own mount; a path that does not exist yet still has a root.
  EXPECT_EQ(driveRoot("/proc/self/status"), "/proc/");
  const std::string root = driveRoot(tmp.file("not/yet/there"));
  EXPECT_EQ(root.back(), '/');
  EXPECT_EQ(tmp.path().rfind(root.substr(0, root.size() - 1), 0), 0u) << root;

  uint64_t bytes = 0;
  EXPECT_EQ(freeSpace(tmp.path(), &bytes), PlatformResult::kOk);
  EXPECT_GT(bytes, 0u);
  EXPECT_EQ(freeSpace(tmp.file("missing"), &bytes), PlatformResult::kNotFound);
}

TEST(PathsTest, FoldersFollowTheEnvironment) {
  setenv("APPDATA", "/x/appdata/", 1);
  EXPECT_EQ(appDataDir(), "/x/appdata");
  unsetenv("APPDATA");
  setenv("XDG_DATA_HOME", "/x/data", 1);
  EXPECT_EQ(appDataDir(), "/x/data");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(appDataDir(), homeDir() + "/.local/share");
  EXPECT_EQ(moduleDir() + "platform_tests", modulePath());
}

TEST(ClockTest, LocalTimeAndTicksAreSane) {
  const LocalTime t = localTime();
  EXPECT_GE(t.year, 2024);
  EXPECT_GE(t.millisecond, 0);
  EXPECT_LE(t.millisecond, 999);
  const uint32_t a = tickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint32_t elapsed = tickCount() - a;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed, 15u);
  EXPECT_LT(elapsed, 10000u);
}

TEST(ResourcesTest, FindsRegisteredBytesByTypeAndId) {
  static const uint8_t bytes[] = {1, 2, 3};
  registerResource("TESTRES", 5, bytes, sizeof(bytes));
  Resource r;
  ASSERT_TRUE(findResource("TESTRES", 5, &r));
  EXPECT_EQ(r.data, bytes);
  EXPECT_EQ(r.size, 3u);
  EXPECT_FALSE(findResource("TESTRES", 6, &r));
  EXPECT_FALSE(findResource("OTHER", 5, &r));
}

std::string uniqueName(const char* tag) { return std::string(tag) + std::to_string(getpid()); }

// A second process must see the lock as taken while the first lives, and
// free once it is gone, even when the owner died without cleaning up.
TEST(InstanceLockTest, ExcludesOtherProcessesUntilReleasedOrDead) {
  const std::string name = uniqueName("instance-test-");
  std::unique_ptr<InstanceLock> mine;
  ASSERT_EQ(InstanceLock::acquire(name, &mine), PlatformResult::kOk);

  auto tryInChild = [&name] {
    pid_t pid = fork();
    if (pid == 0) {
      std::unique_ptr<InstanceLock> theirs;
      _exit(static_cast<int>(InstanceLock::acquire(name, &theirs)));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return static_cast<PlatformResult>(WEXITSTATUS(status));
  };
  EXPECT_EQ(tryInChild(), PlatformResult::kAlreadyExists);
  mine->release();
  EXPECT_EQ(tryInChild(), PlatformResult::kOk);

  // The holder tells through a pipe when it holds the lock, so no probe of
  // ours can take the lock in the moment the holder tries for it.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  if (holder == 0) {
    std::unique_ptr<InstanceLock> held;
    if (InstanceLock::acquire(name, &held) != PlatformResult::kOk) _exit(1);
    if (write(ready[1], "x", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the holder could not take the lock";
  close(ready[0]);
  EXPECT_EQ(tryInChild(), PlatformResult::kAlreadyExists);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(tryInChild(), PlatformResult::kOk);
  unlink(lockFilePath(name).c_str());
}

// Two processes with two threads each increment a counter in a file under
// the mutex; a lost update means the exclusion failed somewhere.
TEST(NamedMutexTest, ExcludesThreadsAndProcesses) {
  TempDir tmp;
  const std::string name = uniqueName("mutex-test-");
  const std::string counter = tmp.file("counter");
  ASSERT_TRUE(writeFile(counter, "0"));
  constexpr int kRounds = 200;
  auto work = [&] {
    NamedMutex mu(name);
    auto loop = [&] {
      for (int i = 0; i < kRounds; ++i) {
        mu.lock();
        const int v = std::stoi(testing_support::readFile(counter));
        writeFile(counter, std::to_string(v + 1));
        mu.unlock();
      }
    };
    std::thread other(loop);
    loop();
    other.join();
  };
  pid_t child = fork();
  if (child == 0) {
    work();
    _exit(0);
  }
  work();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(std::stoi(testing_support::readFile(counter)), 4 * kRounds);
  unlink(lockFilePath(name).c_str());
}

TEST(ActivationTest, SecondInstanceReachesTheFirst) {
  const std::string cls = uniqueName("QM_UI_Frame_test");
  EXPECT_FALSE(requestActivation(cls));  // nobody listens
  std::atomic<int> raised{0};
  auto listener = ActivationListener::listen(cls, [&] { ++raised; });
  ASSERT_NE(listener, nullptr);
  EXPECT_EQ(ActivationListener::listen(cls, nullptr), nullptr);  // one owner per name
  EXPECT_TRUE(requestActivation(cls));
  EXPECT_EQ(raised.load(), 1);
  listener->setCallback([&] { raised += 10; });
  EXPECT_TRUE(requestActivation(cls));
  EXPECT_EQ(raised.load(), 11);
  listener.reset();
  EXPECT_FALSE(requestActivation(cls));
}

// A setup killed outright leaves its socket file behind; the next one must
// still be able to listen.
TEST(ActivationTest, TakesOverTheSocketOfADeadInstance) {
  const std::string cls = uniqueName("QM_UI_Frame_dead");
  pid_t child = fork();
  if (child == 0) {
    auto listener = ActivationListener::listen(cls, nullptr);
    if (!listener) _exit(1);
    pause();
    _exit(0);
  }
  ASSERT_TRUE(testing_support::waitFor([&] { return requestActivation(cls); }, std::chrono::seconds(5)));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(requestActivation(cls));
  auto listener = ActivationListener::listen(cls, nullptr);
  ASSERT_NE(listener, nullptr);
  EXPECT_TRUE(requestActivation(cls));
}

// The runtime folder, chosen over a run root and a temporary folder of the
// test's own: the setup must never put its lock or socket where another
// user can reach them, and an elevated run must meet the user's own runs.
class RuntimeDirTest : public ::testing::Test {
 protected:
  static constexpr uid_t kUser = 4242;

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand folders to other users";
    facts_.runRoot = tmp_.file("run");
    facts_.tempDir = tmp_.file("tmp");
    ASSERT_EQ(mkdir(facts_.runRoot.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(facts_.tempDir.c_str(), 01777), 0);
  }
  void TearDown() override {
    unsetenv("SUDO_UID");
    unsetenv("XDG_RUNTIME_DIR");
  }
  // A folder `mode`, owned by `owner`.
  std::string folder(const std::string& path, uid_t owner, mode_t mode) {
    std::filesystem::create_directories(path);
    EXPECT_EQ(chown(path.c_str(), owner, owner), 0);
    EXPECT_EQ(chmod(path.c_str(), mode), 0);
    return path;
  }
  static struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
  }

  TempDir tmp_;
  RuntimeDirFacts facts_;
};

TEST_F(RuntimeDirTest, ElevatedRunUsesTheInvokingUsersFolderElseItsOwn) {
  facts_.euid = 0;
  facts_.invokingUid = kUser;
  // sudo dropped XDG_RUNTIME_DIR and the user has no login folder: root's
  // own private folder, made 0700, never /tmp.
  const std::string own = facts_.runRoot + "/websetup";
  EXPECT_EQ(resolveRuntimeDir(facts_), own);
  EXPECT_EQ(statOf(own).st_mode & 07777, 0700u);
  EXPECT_EQ(statOf(own).st_uid, 0u);
  // The user's login folder is where the user's own runs are.
  const std::string user = folder(facts_.runRoot + "/user/4242", kUser, 0700);
  EXPECT_EQ(resolveRuntimeDir(facts_), user);
  facts_.invokingUid.reset();
  EXPECT_EQ(resolveRuntimeDir(facts_), own);
}

TEST_F(RuntimeDirTest, SkipsFoldersOthersCanReachOrThatAreLinks) {
  facts_.euid = kUser;
  const std::string loose = folder(tmp_.file("xdg-loose"), kUser, 0773);
  const std::string foreign = folder(tmp_.file("xdg-foreign"), 1, 0700);
  const std::string good = folder(tmp_.file("xdg"), kUser, 0700);
  const std::string fallback = facts_.tempDir + "/websetup-4242";
  for (const std::string& bad : {loose, foreign}) {
    facts_.xdgRuntimeDir = bad;
    EXPECT_EQ(resolveRuntimeDir(facts_), std::string()) << bad;  // the fallback is made as root here
  }
  facts_.xdgRuntimeDir = good + "/";
  EXPECT_EQ(resolveRuntimeDir(facts_), good);
  // A folder of this process's user that others may only read is closed.
  facts_.euid = 0;
  const std::string readable = folder(tmp_.file("xdg-readable"), 0, 0755);
  facts_.xdgRuntimeDir = readable;
  EXPECT_EQ(resolveRuntimeDir(facts_), readable);
  EXPECT_EQ(statOf(readable).st_mode & 07777, 0700u);
  facts_.euid = kUser;
  // Another user planted the fallback name in the shared temporary folder,
  // as a folder of theirs or as a link to one of ours.
  facts_.xdgRuntimeDir.reset();
  folder(fallback, 1, 0700);
  EXPECT_EQ(resolveRuntimeDir(facts_), std::string());
  std::filesystem::remove(fallback);
  ASSERT_EQ(symlink(good.c_str(), fallback.c_str()), 0);
  EXPECT_EQ(resolveRuntimeDir(facts_), std::string());
  std::filesystem::remove(fallback);
  folder(fallback, kUser, 0777);  // the user's own, made loose: tightened
  EXPECT_EQ(resolveRuntimeDir(facts_), fallback);
  EXPECT_EQ(statOf(fallback).st_mode & 07777, 0700u);
  // A planted root fallback that is a link is refused too.
  facts_.euid = 0;
  ASSERT_EQ(symlink(good.c_str(), (facts_.runRoot + "/websetup").c_str()), 0);
  EXPECT_EQ(resolveRuntimeDir(facts_), std::string());
}

// Run as root on behalf of a user (sudo -E kept the user's folder): the
// lock file and the socket are 0600 and the user's, so the user's own runs
// can still open the lock and reach the socket.
TEST_F(RuntimeDirTest, ElevatedRunsFilesBelongToTheUser) {
  const std::string dir = folder(tmp_.file("xdg"), kUser, 0700);
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  setenv("SUDO_UID", "4242", 1);
  const std::string name = uniqueName("runtime-test-");
  std::unique_ptr<InstanceLock> lock;
  ASSERT_EQ(InstanceLock::acquire(name, &lock), PlatformResult::kOk);
  const std::string lockPath = lockFilePath(name);
  EXPECT_EQ(lockPath.rfind(dir + "/", 0), 0u) << lockPath;
  EXPECT_EQ(statOf(lockPath).st_mode & 07777, 0600u);
  EXPECT_EQ(statOf(lockPath).st_uid, kUser);
  auto listener = ActivationListener::listen(uniqueName("QM_UI_Frame_rt"), nullptr);
  ASSERT_NE(listener, nullptr);
  const std::string sock = dir + "/websetup-activate-" + uniqueName("QM_UI_Frame_rt") + ".sock";
  EXPECT_EQ(statOf(sock).st_mode & 0777, 0600u);
  EXPECT_EQ(statOf(sock).st_uid, kUser);
  listener.reset();
  lock.reset();
  // A link in place of the lock file is not followed.
  const std::string target = tmp_.file("target");
  ASSERT_TRUE(writeFile(target, "keep"));
  ASSERT_EQ(unlink(lockPath.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), lockPath.c_str()), 0);
  EXPECT_NE(InstanceLock::acquire(name, &lock), PlatformResult::kOk);
  EXPECT_EQ(statOf(target).st_uid, 0u);
}

// Without any folder of the user's, the locks of a root run stay out of
// /tmp (the tests move the run root into the build).
TEST(RuntimeDirProcessTest, RootRunWithoutSessionFolderKeepsOutOfTmp) {
  if (geteuid() != 0 || getenv("XDG_RUNTIME_DIR") != nullptr) GTEST_SKIP();
  const char* root = getenv("WEBSETUP_RUN_ROOT");
  ASSERT_NE(root, nullptr) << "tests must keep the run root out of /run (ctest sets it)";
  const std::string path = lockFilePath("any");
  EXPECT_EQ(path, std::string(root) + "/websetup/websetup-any.lock");
  // Not a shared temporary folder: only its owner may reach it.
  struct stat folder {};
  ASSERT_EQ(stat((std::string(root) + "/websetup").c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0077, 0u) << path;
}

size_t mappingCount() {
  const std::string maps = testing_support::readFile("/proc/self/maps");
  return static_cast<size_t>(std::count(maps.begin(), maps.end(), '\n'));
}

// Each thread's alternate signal stack goes with the thread: a download
// starts workers by the dozen, and every one would leave 260 KiB mapped.
TEST(SignalStackTest, ThreadsGiveTheirStacksBack) {
  auto oneThread = [] {
    std::thread([] {
      EXPECT_EQ(installAlternateSignalStackForThisThread(), PlatformResult::kOk);
      stack_t now{};
      ASSERT_EQ(sigaltstack(nullptr, &now), 0);
      EXPECT_EQ(now.ss_flags & SS_DISABLE, 0);
      EXPECT_GE(now.ss_size, 64u * 1024);
    }).join();
  };
  oneThread();  // the first thread's one-time costs
  const size_t before = mappingCount();
  for (int i = 0; i < 100; ++i) oneThread();
  EXPECT_LT(mappingCount(), before + 20);
}

}  // namespace
}  // namespace platform
