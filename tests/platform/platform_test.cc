// The posix platform layer, run for real in temporary folders and child
// processes.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/activation.h"
#include "platform/clock.h"
#include "platform/dev_settings.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
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

}  // namespace
}  // namespace platform
