// Two real websetup processes started side by side.

#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

using testing_support::Subprocess;
using testing_support::TempDir;

constexpr auto kLimit = std::chrono::seconds(10);

// Each run gets its own copy of the program, so the developer settings file
// beside it belongs to the test alone.
class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(testing_support::binPath("websetup"), tmp_.file("websetup"));
    std::filesystem::permissions(tmp_.file("websetup"), std::filesystem::perms::owner_all);
    // Its own runtime folder keeps the lock and the socket away from any
    // other setup on this machine, tests running beside this one included.
    // Every place the setup writes stays in the test's folder, and its
    // services answer nowhere (a closed loopback port).
    env_ = {{"APPDATA", tmp_.file("appdata")},
            {"XDG_RUNTIME_DIR", tmp_.path()},
            {"WEBSETUP_CACHE_ROOT", tmp_.file("cache")},
            {"WEBSETUP_REGISTRY", tmp_.file("registry")},
            {"ProgramFiles", tmp_.file("programs")},
            {"WEBSETUP_SERVICES_BASE", "http://127.0.0.1:9"},
            {"WEBSETUP_UI_HOST", "headless"}};
  }

  std::unique_ptr<Subprocess> start() {
    return std::make_unique<Subprocess>(std::vector<std::string>{tmp_.file("websetup")}, env_);
  }

  // Every log line of every run so far.
  std::string allLogs() const {
    std::string all;
    const auto dir = tmp_.file("appdata/RUDarodiridu/logs/setup_orlastra");
    if (!std::filesystem::exists(dir)) return all;
    for (const auto& e : std::filesystem::directory_iterator(dir)) all += testing_support::readFile(e.path());
    return all;
  }

  size_t count(const std::string& text) const {
    const std::string logs = allLogs();
    size_t n = 0;
    for (size_t at = logs.find(text); at != std::string::npos; at = logs.find(text, at + 1)) ++n;
    return n;
  }

  TempDir tmp_;
  std::map<std::string, std::string> env_;
};

constexpr char kRunning[] = " Setup window shown";

TEST_F(SingleInstanceTest, SecondInstanceRaisesTheFirstAndExits) {
  auto first = start();
  ASSERT_TRUE(testing_support::waitFor([&] { return count(kRunning) == 1; }, kLimit));
  auto second = start();
  EXPECT_EQ(second->wait(kLimit), 0);
  EXPECT_TRUE(testing_support::waitFor(
      [&] { return count(" Activation requested by another instance") == 1; }, kLimit));
  EXPECT_EQ(count(kRunning), 1u);

  first->signal(SIGTERM);
  EXPECT_EQ(first->wait(kLimit), 0);
  EXPECT_EQ(count(" Wait exit 3"), 1u);  // the orderly shutdown ran to its end
}

TEST_F(SingleInstanceTest, AutoRunLetsASecondInstanceRun) {
  ASSERT_TRUE(testing_support::writeFile(tmp_.file("qm_downloader.cfg"), "[Settings]\nAutoRun=1\n"));
  auto first = start();
  ASSERT_TRUE(testing_support::waitFor([&] { return count(kRunning) == 1; }, kLimit));
  auto second = start();
  EXPECT_TRUE(testing_support::waitFor([&] { return count(kRunning) == 2; }, kLimit));
  EXPECT_EQ(count(" Activation requested by another instance"), 0u);
  second->signal(SIGTERM);
  first->signal(SIGTERM);
  EXPECT_EQ(second->wait(kLimit), 0);
  EXPECT_EQ(first->wait(kLimit), 0);
}

// A report run never takes the single-instance lock, so it works beside a
// running setup.
TEST_F(SingleInstanceTest, ReportRunsEndAtOnceBesideARunningSetup) {
  auto first = start();
  ASSERT_TRUE(testing_support::waitFor([&] { return count(kRunning) == 1; }, kLimit));
  Subprocess close({tmp_.file("websetup"), "-close03", "/tmp/none.zip"}, env_);
  EXPECT_EQ(close.wait(kLimit), 0);
  EXPECT_TRUE(testing_support::waitFor([&] { return count("label close03") == 1; }, kLimit));
  first->signal(SIGTERM);
  EXPECT_EQ(first->wait(kLimit), 0);
}

}  // namespace
