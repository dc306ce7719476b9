// The install thread from the verification of the download to the end of
// the installer: which files may run, how their end is judged, and the
// limits on waiting and on the command line.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <algorithm>
#include <chrono>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/text.h"
#include "engine/download_impl.h"
#include "install/window_messages.h"
#include "install_flow_fixture.h"
#include "platform/process.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "system/file_trust.h"

namespace install {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::vector<uint32_t> timedOutMessages() {
  return {MSG_VERIFY_STARTED, MSG_INSTALLER_STARTED, MSG_INSTALL_TIMEOUT};
}

// Ids of our children that run the file at `path`.
std::vector<int> processesRunning(const std::string& path) {
  std::vector<platform::ProcessEntry> entries;
  std::vector<int> out;
  if (platform::snapshotProcesses(&entries) != platform::PlatformResult::kOk) return out;
  for (const platform::ProcessEntry& e : entries) {
    if (e.exePath == path) out.push_back(e.pid);
  }
  return out;
}

// Catches a valid signature of anyone but the maker accepted, an MD5
// mismatch that stops a correctly signed installer, and reports that name
// the wrong check.
TEST_F(InstallFlowTest, VerificationTableDecidesWhatRuns) {
  const std::string makerMd5 = engine::CDownLoadImpl::fileMd5(kArtefacts + "/setup_orlastra.exe");
  const std::string foreignMd5 =
      engine::CDownLoadImpl::fileMd5(kArtefacts + "/setup_orlastra_foreign.exe");
  serve("setup_orlastra_foreign.exe", "setup_orlastra_foreign.exe");
  struct Case {
    const char* file;
    std::string md5;
    const char* flowError;
    const char* report;
    uint32_t result;
  } cases[] = {
      {"setup_orlastra.exe", foreignMd5, "DL013", "MD5_Check_Fail_Cfg1", kInstallRan},
      {"setup_orlastra_foreign.exe", foreignMd5, "DL014", "Hash_Check_Fail_Cfg1", kInstallFailed},
      {"setup_orlastra_foreign.exe", makerMd5, "DL015", "MD5_Hash_Check_Fail_Cfg1", kInstallFailed},
  };
  size_t reports = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flowError);
    setField("Download_url", std::string("@BASE@/files/") + c.file);
    setField("Md5", c.md5);
    setField("Md5_extra", c.md5);
    events_.clear();
    const size_t argsBefore = installerArgs().size();
    auto run = newRun();
    EXPECT_EQ(runToEnd(*run), c.result);
    EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{c.flowError});
    const auto sent = awaitRequests("/api/exception/send", ++reports);
    ASSERT_EQ(sent.size(), reports);
    EXPECT_NE(sent.back()["body"].asString().find(std::string("exception_code=") + c.report + "&"),
              std::string::npos)
        << sent.back()["body"].asString();
    if (c.result == kInstallRan) {
      EXPECT_EQ(run->window.messages().back(), MSG_INSTALL_COMPLETED);
      EXPECT_EQ(installerArgs().size(), argsBefore + 8);
    } else {
      EXPECT_EQ(run->window.messages(),
                (std::vector<uint32_t>{MSG_VERIFY_STARTED, MSG_VERIFY_FAILED}));
      EXPECT_EQ(run->shared.slowProgressStop.load(), 1);
      EXPECT_EQ(installerArgs().size(), argsBefore) << "a foreign installer ran";
    }
  }
}

// Catches a failed installer taken for a finished one (the window would
// wait for the bar and then start a product that is not there), and a
// "restart needed" taken for a failure.
TEST_F(InstallFlowTest, InstallerOutcomeDecidesCompletionOrTimeoutPath) {
  struct Case {
    const char* name;
    const char* exitKnob;    // SAMPLE_INSTALLER_EXIT, or null
    const char* subdirKnob;  // SAMPLE_INSTALLER_SUBDIR, or null
    const char* processName;
    const char* exitLabel;   // InstallerExitCode, or null when it completes
  } cases[] = {
      {"product in a subfolder", nullptr, "bin/x64", SAMPLE_PRODUCT_EXE, nullptr},
      // The product of the first row is still there: only the code tells.
      {"exit code 8 over an installed product", "8", nullptr, SAMPLE_PRODUCT_EXE, nullptr},
      {"exit code 3 over an installed product", "3", nullptr, SAMPLE_PRODUCT_EXE, "3"},
      {"exit 0, product missing", nullptr, nullptr, "Missing.exe", "0"},
  };
  const std::wstring product = wide(installDir_ + "/bin/x64/" SAMPLE_PRODUCT_EXE);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setField("Process_name", c.processName);
    std::unique_ptr<ScopedEnv> exitKnob, subdirKnob;
    if (c.exitKnob) exitKnob = std::make_unique<ScopedEnv>("SAMPLE_INSTALLER_EXIT", c.exitKnob);
    if (c.subdirKnob) {
      subdirKnob = std::make_unique<ScopedEnv>("SAMPLE_INSTALLER_SUBDIR", c.subdirKnob);
    }
    events_.clear();
    auto run = newRun();
    // A bar that never ends: only a completed installation waits for it.
    run->window.setProgress(0);
    InstallThread thread(run->flow.get());
    if (c.exitLabel != nullptr) {
      EXPECT_EQ(thread.join(seconds(30)), kInstallFailed);
      EXPECT_EQ(run->window.messages(), timedOutMessages());
      EXPECT_EQ(events_.labels("InstallerExitCode"), std::vector<std::string>{c.exitLabel});
      EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL032"});
      EXPECT_TRUE(run->shared.installerFinished.load());
      EXPECT_EQ(run->window.startAppClicks(), 0);
      EXPECT_TRUE(events_.labels("6.ProgramFinsh").empty());
      continue;
    }
    ASSERT_TRUE(awaitProgressWait(*run, thread));
    run->shared.progressFinish100.set();
    EXPECT_EQ(thread.join(seconds(30)), kInstallRan);
    EXPECT_EQ(run->flow->ProductExePath(), product);
    EXPECT_EQ(run->window.messages().back(), MSG_INSTALL_COMPLETED);
    EXPECT_EQ(run->window.startAppClicks(), 1);
    EXPECT_TRUE(events_.labels("FlowError").empty());
  }
}

// Catches a wait without limit, or one cut short of the T + 2 seconds.
TEST_F(InstallFlowTest, InstallerPastItsTimeoutIsLeftRunning) {
  ScopedEnv slow("SAMPLE_INSTALLER_SECONDS", "30");
  auto run = newRun({{L"InstallTimeout", L"1"}});
  InstallThread thread(run->flow.get());
  ASSERT_TRUE(run->window.waitForMessage(MSG_INSTALLER_STARTED, milliseconds(60000)));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(thread.join(seconds(20)), kInstallFailed);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, milliseconds(2500));
  EXPECT_LT(waited, milliseconds(6000));
  EXPECT_EQ(run->window.messages(), timedOutMessages());
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL016"});
  EXPECT_EQ(LogLines::instance().containing(" Cmd nWaitSeconds timed out: 1").size(), 1u);

  const std::vector<int> left = processesRunning(fs::canonical(installerPath()).string());
  ASSERT_EQ(left.size(), 1u) << "the installer was not left running";
  EXPECT_FALSE(fs::exists(installDir_ + "/" SAMPLE_PRODUCT_EXE));
  (void)platform::killProcess(left[0]);
  int code = 0;
  EXPECT_EQ(platform::waitProcess(left[0], milliseconds(5000), &code),
            platform::PlatformResult::kOk);
}

// Catches an installer that could not start being waited for through the
// whole limit as if it ran.
TEST_F(InstallFlowTest, InstallerThatCannotStartTimesOutAtOnce) {
  const std::string pin = signerPin_;
  // The bytes go between the check and the start: nothing is left to run.
  verifySignature_ = [pin](const std::wstring& path) {
    const bool valid = FuntionImpl::VerifyPinnedSignature(path, {pin});
    std::ofstream(common::wideToUtf8(path), std::ios::trunc).flush();
    return valid;
  };
  // Waiting out the limit would take 12 s.
  auto run = newRun({{L"InstallTimeout", L"10"}});
  InstallThread thread(run->flow.get());
  ASSERT_TRUE(run->window.waitForMessage(MSG_VERIFY_STARTED, milliseconds(60000)));
  EXPECT_EQ(thread.join(seconds(5)), kInstallFailed);
  EXPECT_EQ(run->window.messages().back(), MSG_INSTALL_TIMEOUT);
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL016"});
  EXPECT_FALSE(fs::exists(argsFile_));
}

// Catches text from the server or the user that ends its own argument: a
// '"' in the product name closed the quote of /LOG and added a second
// /DIR, and a version with "../" put the installer outside the cache.
TEST_F(InstallFlowTest, ServerTextNeverAddsSwitchesOrLeavesTheCache) {
  const std::string elsewhere = work_.file("elsewhere");
  setField("Software_name", "Orlastra\" /DIR=\"" + elsewhere + "\" /../x");
  setField("Software_version", "../../1.0.0.0");
  auto run = newRun();
  EXPECT_EQ(runToEnd(*run), kInstallRan);

  const std::vector<std::string> args = installerArgs();
  ASSERT_EQ(args.size(), 8u);
  EXPECT_EQ(std::count_if(args.begin(), args.end(),
                          [](const std::string& a) { return a.rfind("/DIR=", 0) == 0; }),
            1);
  EXPECT_EQ(args[3], "/DIR=" + installDir_);
  ASSERT_EQ(args[5].rfind("/LOG=" + logDir_ + "/", 0), 0u) << args[5];
  const std::string logName = args[5].substr(6 + logDir_.size());
  EXPECT_EQ(logName.find_first_of("/\\"), std::string::npos) << logName;
  EXPECT_TRUE(fs::exists(installDir_ + "/" SAMPLE_PRODUCT_EXE));
  EXPECT_FALSE(fs::exists(elsewhere));

  // The version is refused as a file name, not the download.
  const auto paths = LogLines::instance().containing(" [Download File Path]: ");
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_NE(paths[0].find(" [Download File Path]: " + cacheDir_ + "/setup_orlastra_.exe"),
            std::string::npos)
      << paths[0];
}

// Catches the installer started by its path after its check: a file put in
// its place meanwhile ran with the setup's rights.
TEST_F(InstallFlowTest, FilePutAtTheInstallerPathAfterItsCheckDoesNotRun) {
  const std::string marker = work_.file("hostile-ran");
  const std::string hostile = work_.file("hostile.exe");
  ASSERT_TRUE(testing_support::writeFile(hostile, "#!/bin/sh\ntouch '" + marker + "'\n"));
  fs::permissions(hostile, fs::perms::owner_all);
  const std::string pin = signerPin_;
  const std::string target = installerPath();
  verifySignature_ = [pin, hostile, target](const std::wstring& path) {
    const bool valid = FuntionImpl::VerifyPinnedSignature(path, {pin});
    fs::rename(hostile, target);
    return valid;
  };
  auto run = newRun();
  EXPECT_EQ(runToEnd(*run), kInstallRan);
  EXPECT_FALSE(fs::exists(marker)) << "the file put in its place ran";
  EXPECT_TRUE(fs::exists(installDir_ + "/" SAMPLE_PRODUCT_EXE));
}

// Catches a cache on a volume mounted noexec: no installer could start
// from it, and every try ended at once as a time-out.
TEST_F(InstallFlowTest, CacheOnANoexecVolumeStillInstalls) {
  if (mount("tmpfs", cacheDir_.c_str(), "tmpfs", MS_NOEXEC | MS_NOSUID, "size=64m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{cacheDir_};
  auto run = newRun();
  EXPECT_EQ(runToEnd(*run), kInstallRan);
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(installDir_ + "/" SAMPLE_PRODUCT_EXE));
  EXPECT_EQ(LogLines::instance().containing(" running a private copy: ").size(), 1u);
  // The copy went with the installer's end.
  for (const auto& entry : fs::directory_iterator(work_.path())) {
    EXPECT_NE(entry.path().filename().string().rfind("websetup-run-", 0), 0u) << entry.path();
  }
}

// Catches an exception that ended the install thread silently: the window
// stayed on its running page with no way forward.
TEST_F(InstallFlowTest, ExceptionInTheInstallThreadShowsTheRetryPage) {
  verifySignature_ = [](const std::wstring&) -> bool { throw std::runtime_error("disk gone"); };
  auto run = newRun();
  EXPECT_EQ(runToEnd(*run), kInstallFailed);
  EXPECT_EQ(run->window.messages(),
            (std::vector<uint32_t>{MSG_VERIFY_STARTED, MSG_DOWNLOAD_FAILED}));
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL033"});
  EXPECT_EQ(LogLines::instance().containing("ended by an exception: disk gone").size(), 1u);
}

// Catches a close confirmed during the verification that still installed
// the product afterwards, behind the user's back.
TEST_F(InstallFlowTest, CloseConfirmedDuringVerificationStartsNoInstaller) {
  InstallShared* shared = nullptr;
  const std::string pin = signerPin_;
  verifySignature_ = [&shared, pin](const std::wstring& path) {
    shared->closing = true;
    return FuntionImpl::VerifyPinnedSignature(path, {pin});
  };
  auto run = newRun();
  shared = &run->shared;
  EXPECT_EQ(runToEnd(*run), kInstallFailed);
  EXPECT_FALSE(fs::exists(argsFile_)) << "the installer ran";
  EXPECT_EQ(run->window.messages(), std::vector<uint32_t>{MSG_VERIFY_STARTED});
}

// A folder path of exactly `length` characters below `base`, in parts of
// at most 200 characters (a file name's limit is 255).
std::string pathOfLength(const std::string& base, size_t length) {
  const size_t need = length - base.size();
  const size_t parts = (need + 200) / 201;
  std::string path = base;
  for (size_t i = 0; i < parts; ++i) {
    const size_t left = length - path.size();
    // Each later part keeps room for its '/' and one character.
    const size_t chars = std::min<size_t>(200, left - 1 - 2 * (parts - i - 1));
    path += "/" + std::string(chars, 'd');
  }
  return path;
}

// Catches a line cut at the buffer (the installer would install into a
// truncated folder) and a limit one off: 1023 characters run, 1024 do not.
TEST_F(InstallFlowTest, CommandLineLongerThan1023IsRefusedBeforeStarting) {
  size_t overhead = 0;
  {
    auto probe = newRun();
    probe->record.softwareName = L"Orlastra";
    overhead = probe->flow->BuildInstallerCommandLine(platform::localTime()).size() -
               installDir_.size();
  }
  const std::string base = work_.file("long");
  const std::string refused = pathOfLength(base, kMaxCommandLine + 1 - overhead);
  const std::string accepted = pathOfLength(base, kMaxCommandLine - overhead);
  ASSERT_GT(accepted.size(), base.size() + 1);

  auto tooLong = std::make_unique<SetupRun>(wide(refused), std::map<std::wstring, std::wstring>{},
                                       &events_, settings());
  EXPECT_EQ(runToEnd(*tooLong, seconds(60)), kInstallFailed);
  EXPECT_EQ(tooLong->window.messages(),
            (std::vector<uint32_t>{MSG_VERIFY_STARTED, MSG_INSTALL_TIMEOUT}));
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL016"});
  EXPECT_FALSE(fs::exists(argsFile_));

  events_.clear();
  auto fits = std::make_unique<SetupRun>(wide(accepted), std::map<std::wstring, std::wstring>{},
                                    &events_, settings());
  EXPECT_EQ(runToEnd(*fits), kInstallRan);
  EXPECT_TRUE(fs::exists(accepted + "/" SAMPLE_PRODUCT_EXE));
  EXPECT_EQ(installerArgs().at(3), "/DIR=" + accepted);
}

}  // namespace
}  // namespace install
