// The Install click's checks on the window thread (BeginInstallTask), before
// any byte is downloaded.

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "install/window_messages.h"
#include "install_flow_fixture.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace install {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr int64_t kGiB = 1024 * kMiB;

bool processNamed(const std::string& name) {
  std::vector<platform::ProcessEntry> entries;
  if (platform::snapshotProcesses(&entries) != platform::PlatformResult::kOk) return false;
  for (const platform::ProcessEntry& e : entries) {
    if (e.name == name) return true;
  }
  return false;
}

class PreInstallTest : public InstallFlowTest {
 protected:
  void SetUp() override {
    InstallFlowTest::SetUp();
    // Other tests run the real product beside this one: a name of its own
    // keeps their process from refusing (or our copy from refusing) a click.
    processName_ = "Orlastra-" + std::to_string(platform::currentProcessId()) + ".exe";
    setField("Process_name", processName_);
  }

  // A start of the setup whose background fetch has filled the record
  // from the server, as when the user clicks after a while.
  std::unique_ptr<SetupRun> fetchedRun() {
    auto run = newRun();
    run->flow->StartAsyncFetch();
    EXPECT_EQ(run->flow->WaitForAllThreadExit(), 0);
    EXPECT_EQ(run->record.source, config::CConfigure::kSourceServer);
    return run;
  }

  std::string processName_;
};

// Catches an install started over a running product, and a name match that
// ignores case (another program of that name in other letters may run).
TEST_F(PreInstallTest, RunningProductRefusesTheClick) {
  auto run = fetchedRun();
  // Any program will do, named as the product's process.
  const std::string product = work_.file("running/" + processName_);
  fs::create_directories(fs::path(product).parent_path());
  fs::copy_file("/bin/sleep", product);
  fs::permissions(product, fs::perms::owner_exec, fs::perm_options::add);
  testing_support::Subprocess running({product, "60"});
  ASSERT_TRUE(testing_support::waitFor([&] { return processNamed(processName_); },
                                       milliseconds(5000)));

  EXPECT_EQ(run->flow->BeginInstallTask(), -1);
  EXPECT_EQ(run->window.messageBoxes(), std::vector<EnumMsgType>{kMsgAppRunning});
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL024"});
  EXPECT_EQ(LogLines::instance().containing("app is running").size(), 1u);
  EXPECT_EQ(run->window.preparations(), 0);
  EXPECT_EQ(run->flow->WaitForAllThreadExit(), 0);
  EXPECT_TRUE(run->window.posted().empty());

  std::string lower = processName_;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  run->record.processName = wide(lower);
  EXPECT_TRUE(run->flow->AppIsRunning());
  EXPECT_EQ(run->window.messageBoxes().size(), 1u);

  // A product that has ended no longer runs, even while its name waits in
  // the process list for a parent to reap it (one that never does, as a
  // container's first process may not, would block every later install).
  // The name is short enough for the kernel's own record of it (15
  // characters), all that is left of an ended process.
  const std::string shortName = "o" + std::to_string(platform::currentProcessId()) + ".exe";
  const std::string ended = work_.file("running/" + shortName);
  fs::copy_file("/bin/sleep", ended);
  fs::permissions(ended, fs::perms::owner_exec, fs::perm_options::add);
  testing_support::Subprocess zombie({ended, "60"});
  ASSERT_TRUE(
      testing_support::waitFor([&] { return processNamed(shortName); }, milliseconds(5000)));
  run->record.processName = wide(shortName);
  EXPECT_FALSE(run->flow->AppIsRunning());
  EXPECT_EQ(run->window.messageBoxes().size(), 2u);
  ASSERT_EQ(kill(zombie.pid(), SIGKILL), 0);
  ASSERT_TRUE(testing_support::waitFor(
      [&] {
        std::ifstream stat("/proc/" + std::to_string(zombie.pid()) + "/stat");
        std::string text;
        std::getline(stat, text);
        return text.find(") Z ") != std::string::npos;
      },
      milliseconds(5000)));
  EXPECT_TRUE(run->flow->AppIsRunning());
  EXPECT_EQ(run->window.messageBoxes().size(), 2u);
}

// Catches the wrong factor for an installation on the download's volume,
// and a comparison that lets exactly the needed space pass.
TEST_F(PreInstallTest, SpaceCheckCountsDownloadAndInstallation) {
  auto run = newRun();
  struct Case {
    int64_t cacheFree, otherFree;
    int result;
    int64_t reportedFree;
  } sameVolume[] = {
      {kGiB, 100 * kGiB, -1, kGiB},
      {kGiB + 1, 3 * kGiB, -2, 3 * kGiB},
      {kGiB + 1, 3 * kGiB + 1, 1, 0},
  };
  for (const Case& c : sameVolume) {
    cacheFree_ = c.cacheFree;
    otherFree_ = c.otherFree;
    uint64_t free = 0;
    EXPECT_EQ(run->flow->EnoughFreeSpace(false, kGiB, &free), c.result) << c.otherFree;
    EXPECT_EQ(free, static_cast<uint64_t>(c.reportedFree)) << c.otherFree;
  }
  // Only the cache's shortage is reported here; the install drive's is the
  // caller's to report once the best drive was tried.
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL008"});
  EXPECT_EQ(events_.labels("NoEnoughSpace"), std::vector<std::string>{"download_1073741824"});

  freeSpaceCalls_ = 0;
  uint64_t free = 0;
  EXPECT_EQ(run->flow->EnoughFreeSpace(false, 0, &free), 1);
  EXPECT_EQ(freeSpaceCalls_.load(), 0);

  // Any other mounted volume will do: the folder is only measured, never made.
  const std::string elsewhere = "/proc/websetup-install-test/Orlastra";
  if (platform::driveRoot(elsewhere) == platform::driveRoot(cacheDir_)) {
    GTEST_SKIP() << "no second volume";
  }
  run->window.SetInstallPathText(wide(elsewhere));
  cacheFree_ = 100 * kGiB;
  otherFree_ = 2 * kGiB;
  EXPECT_EQ(run->flow->EnoughFreeSpace(false, kGiB, &free), -2);
  otherFree_ = 2 * kGiB + 1;
  EXPECT_EQ(run->flow->EnoughFreeSpace(false, kGiB, &free), 1);
}

// Catches a refusal that leaves the window half prepared, a best drive that
// is not written back to the path box, and a pending rename that stops the
// installation (it is only reported).
TEST_F(PreInstallTest, ClickAfterSpaceRefusalInstallsDespitePendingRename) {
  setField("Filesize", "1073741824");
  setField("Software_id", "105");
  auto run = fetchedRun();
  const std::string best = work_.file("D/Orlastra");
  bestDrivePath_ = wide(best);
  cacheFree_ = 100 * kGiB;
  otherFree_ = 3 * kGiB;
  EXPECT_EQ(run->flow->BeginInstallTask(), -1);
  EXPECT_EQ(run->window.messageBoxes(), std::vector<EnumMsgType>{kMsgNoSpace});
  EXPECT_EQ(run->window.pathTexts(), std::vector<std::wstring>{wide(best)});
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL008"});
  EXPECT_EQ(events_.labels("NoEnoughSpace"), std::vector<std::string>{"install_3221225472"});
  EXPECT_EQ(run->window.preparations(), 0);
  EXPECT_EQ(run->window.progressPages(), 0);
  EXPECT_TRUE(stoppedServices_.empty());

  otherFree_ = 3 * kGiB + 1;
  pendingRenames_ = {work_.file("elsewhere/file.dll"), best + "/" SAMPLE_PRODUCT_EXE};
  EXPECT_EQ(run->flow->BeginInstallTask(), 0);
  EXPECT_EQ(events_.labels("ProcessNeedRestartSign"), std::vector<std::string>{""});
  EXPECT_EQ(events_.count("funnelEx|Download|DownloadEnvReady|=;"), 1);
  EXPECT_EQ(stoppedServices_, std::vector<std::string>{"QuillmontScanService"});
  EXPECT_EQ(run->window.preparations(), 1);
  EXPECT_EQ(run->window.progressPages(), 1);
  EXPECT_TRUE(run->window.waitForMessage(MSG_INSTALLER_STARTED, milliseconds(60000)));
  EXPECT_EQ(run->flow->WaitForAllThreadExit(), 0);
  // Installed where the user was told; the product's own name (not the
  // test's) is what the installer wrote.
  const std::vector<std::string> args = installerArgs();
  ASSERT_EQ(args.size(), 8u);
  EXPECT_EQ(args[3], "/DIR=" + best);
  EXPECT_TRUE(fs::exists(best + "/" SAMPLE_PRODUCT_EXE));
  EXPECT_EQ(run->window.messageBoxes().size(), 1u);
}

// Catches a folder that cannot exist taken for one that will, and a space
// check run on the embedded configuration's numbers.
TEST_F(PreInstallTest, UncreatableFolderRefusesWithDl009) {
  ASSERT_TRUE(testing_support::writeFile(work_.file("a-file"), "x"));
  const std::map<std::wstring, std::wstring> labels = {{L"Filesize", L"1073741824"},
                                                        {L"Process_name", wide(processName_)}};
  auto run = std::make_unique<SetupRun>(wide(work_.file("a-file/Orlastra")), labels, &events_,
                                        settings());
  run->record.fillFromLabels(run->window, true);
  cacheFree_ = 0;
  otherFree_ = 0;
  EXPECT_EQ(run->flow->BeginInstallTask(), -1);
  EXPECT_EQ(freeSpaceCalls_.load(), 0);
  EXPECT_EQ(run->window.messageBoxes(), std::vector<EnumMsgType>{kMsgPathError});
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL009"});
  EXPECT_EQ(events_.count("funnelEx|Download|DownloadEnvReady|=;"), 0);
  EXPECT_EQ(run->window.progressPages(), 0);
}

}  // namespace
}  // namespace install
