// The install thread from the configuration to the installed product,
// against maker-services and the signed sample installer: the whole road,
// the download attempts, the cache between starts of the setup and the
// window closing at each of the thread's waits.

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "install/window_messages.h"
#include "install_flow_fixture.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace install {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testing_support::RaisedEvent;

// True when every entry of `expected` is the start of one report's text,
// in this order; other reports may come between.
::testing::AssertionResult reportedInOrder(const std::vector<RaisedEvent>& events,
                                           const std::vector<std::string>& expected) {
  size_t next = 0;
  for (const RaisedEvent& e : events) {
    if (next < expected.size() && e.text().rfind(expected[next], 0) == 0) ++next;
  }
  if (next == expected.size()) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "missing or out of order: " << expected[next]
                                               << "\nreported:";
  for (const RaisedEvent& e : events) failure << "\n  " << e.text();
  return failure;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> flowErrors(const EventRecorder& events) {
  return events.labels("FlowError");
}

// Catches any step of the road missing or out of place: the arguments the
// installer really receives, the product and its uninstall key, the
// window's messages, the funnel as telemetry sees it, the product page,
// the wait for the progress bar, the start of the product and the cache
// left clean.
TEST_F(InstallFlowTest, FullRoadInstallsProductAndCleansUp) {
  auto run = newRun({{L"product_url_french", L"https://orlastra.example/fr/welcome"}});
  run->window.setLanguage(5);
  // The bar lags behind: the thread must wait for the window's timer.
  run->window.setProgress(97);
  const auto start = std::chrono::steady_clock::now();
  InstallThread thread(run->flow.get());
  ASSERT_TRUE(awaitProgressWait(*run, thread));
  EXPECT_FALSE(run->window.waitForMessage(MSG_INSTALL_COMPLETED, milliseconds(300)));
  EXPECT_EQ(run->window.startAppClicks(), 0);
  const auto installed = std::chrono::steady_clock::now();
  run->window.setProgress(100);
  run->shared.progressFinish100.set();
  ASSERT_EQ(thread.join(), kInstallRan);
  const auto ms = [](auto d) {
    return std::chrono::duration_cast<milliseconds>(d).count();
  };
  std::printf("[ timing ] one full install (download, verification, installer): %lld ms\n",
              static_cast<long long>(ms(installed - start)));
  RecordProperty("full_install_ms", std::to_string(ms(installed - start)));

  EXPECT_EQ(run->window.messages(), (std::vector<uint32_t>{MSG_VERIFY_STARTED,
                                                           MSG_INSTALLER_STARTED,
                                                           MSG_INSTALL_COMPLETED}));
  const std::vector<std::string> args = installerArgs();
  ASSERT_EQ(args.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(args.begin(), args.begin() + 5),
            (std::vector<std::string>{"/VERYSILENT", "/SP-", "/NORESTART", "/DIR=" + installDir_,
                                      "/LANG=fr"}));
  const std::string logPrefix = "/LOG=" + logDir_ + "/Orlastra_Setup_";
  EXPECT_TRUE(args[5].rfind(logPrefix, 0) == 0 &&
              std::regex_match(args[5].substr(logPrefix.size()), std::regex("[0-9]{14}\\.log")))
      << args[5];
  EXPECT_EQ(args[6], "/sptrack");
  EXPECT_EQ(args[7], "null");
  EXPECT_TRUE(fs::exists(args[5].substr(5))) << "the installer wrote no log";

  EXPECT_TRUE(fs::exists(installDir_ + "/" SAMPLE_PRODUCT_EXE));
  EXPECT_EQ(uninstallValue("InstallLocation"), installDir_);
  EXPECT_EQ(uninstallValue("Inno Setup: Language"), "fr");
  EXPECT_EQ(run->flow->ProductExePath(), wide(installDir_ + "/" SAMPLE_PRODUCT_EXE));

  EXPECT_TRUE(flowErrors(events_).empty());
  // A loopback download takes well under a second: still a real speed.
  for (const auto& e : events_.events()) {
    if (e.action == "DownloadSpeed") {
      EXPECT_TRUE(std::regex_match(e.detail, std::regex(R"([0-9]+\.[0-9]{2}MB/s)"))) << e.detail;
    }
  }
  EXPECT_TRUE(reportedInOrder(
      events_.events(),
      {"funnelEx|Download|DownloadConfigReady|default_config=0;",
       "event|Download|3.Downloading...|First",
       "funnel|Download|Downloading|CoreFuncEvent Downloading 2 null",
       "funnelEx|Download|Use download address|Use download address Type=Download_url-1;",
       "funnelEx|Download|SliceDownloadStart|",
       "funnel|Download|DownFinsh|CoreFuncEvent Downloading 3 null",
       "event|Other|MDownloadTime|",
       "funnel|Download|CoreFuncEnd|CoreFuncEvent Downloading 0 null",
       "event|Other|DownloadSpeed|",
       "event|Other|DownloadTime|",
       "funnelEx|RunningTime|DownloadDuration|DownloadCompleted=",
       "funnelEx|Download|DownloadSuccess|",
       "funnelEx|Download|MDownSuccess|AddressType=NO;Download address=Download_url;",
       "event|Download|Md5CheckStart|",
       "funnel|Download|CoreFuncStart|CoreFuncEvent Md5Check 0 null",
       "funnel|Download|Md5CheckStart|CoreFuncEvent Md5Check 1 null",
       "event|Other|MMD5CheckTime|",
       "funnel|Download|Md5CheckFinsh|CoreFuncEvent Md5Check 2 null",
       "event|Other|MD5CheckTime|",
       "funnel|Download|CoreFuncEnd|CoreFuncEvent Md5Check 0 null",
       "funnelEx|RunningTime|VerificationDuration|VerificationDurationPar=",
       "event|Download|Md5CheckFinsh|",
       "event|Download|4.DownFinsh|First",
       "event|Download|5.ProgramInstall|First",
       "funnel|Download|CoreFuncStart|CoreFuncEvent Installing 0 null",
       "funnel|Download|ProgramInstall|CoreFuncEvent Installing 1 null",
       "event|Other|MInstallTime|",
       "funnel|Download|ProgramFinsh|CoreFuncEvent Installing 2 null",
       "event|Download|6.ProgramFinsh|First",
       "funnel|Download|CoreFuncEnd|CoreFuncEvent Installing 0 null",
       "event|Other|InstallTime|",
       "event|Other|ProductVersion|" SAMPLE_PRODUCT_VERSION,
       "funnelEx|RunningTime|ActualTime|InstCompletedClosed="}));

  EXPECT_EQ(openedUrls(), std::vector<std::wstring>{L"https://orlastra.example/fr/welcome"});
  EXPECT_EQ(run->window.languageWrites(), 1);
  EXPECT_EQ(run->window.startAppClicks(), 1);  // NeedStart_flag is 1
  EXPECT_EQ(run->window.closeRequests(), 0);
  EXPECT_FALSE(run->window.animationTimerOn());
  EXPECT_FALSE(fs::exists(installerPath()));
  EXPECT_FALSE(fs::exists(taskFile()));
  EXPECT_FALSE(fs::exists(hashRecord()));
  // Nothing left to delete: the result of the first deletion and "no such file".
  LogLines::instance().clear();
  run->flow->ClearAPPData();
  EXPECT_EQ(LogLines::instance().containing(" Clear cache: "),
            std::vector<std::string>{" Clear cache: 0, 2"});
}

// Catches attempts that stop early, pause, or report the wrong code, and
// a Try again that fetches the configuration again or still says "First".
TEST_F(InstallFlowTest, TwelveFailedAttemptsThenTryAgainSaysRetry) {
  fs::remove(root_.file("setup_orlastra.exe"));
  auto run = newRun();
  EXPECT_EQ(runToEnd(*run), kInstallFailed);
  // Each failed set-up leaves an empty task file, which the engine of the
  // next attempt discards with DL026; the flow's own code is DL012 each time.
  std::vector<std::string> own;
  for (const std::string& code : flowErrors(events_)) {
    if (code != "DL026") own.push_back(code);
  }
  EXPECT_EQ(own, std::vector<std::string>(12, "DL012"));
  std::vector<std::string> frequencies;
  for (const std::string& line : LogLines::instance().containing(" The Retry Frequency is: ")) {
    frequencies.push_back(line.substr(line.rfind(' ') + 1));
  }
  EXPECT_EQ(frequencies, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8",
                                                   "9", "10", "11"}));
  std::vector<std::string> addresses;
  for (const RaisedEvent& e : events_.funnelEx()) {
    if (e.action == "Use download address") addresses.push_back(e.detail);
  }
  ASSERT_EQ(addresses.size(), 12u);
  EXPECT_EQ(addresses.back(), "Use download address Type=Download_url-12;");
  EXPECT_EQ(events_.labels("DownErrorCode"), std::vector<std::string>{"error_6"});
  ASSERT_EQ(run->window.posted().size(), 1u);
  EXPECT_EQ(run->window.posted()[0].message, MSG_DOWNLOAD_FAILED);
  EXPECT_EQ(run->window.posted()[0].wparam, 6u);

  serve("setup_orlastra.exe");
  run->shared.retry = true;
  EXPECT_EQ(runToEnd(*run), kInstallRan);
  EXPECT_EQ(exactRequests("/queryDownloaderV2", 1).size(), 1u);
  EXPECT_EQ(events_.labels("3.Downloading..."), (std::vector<std::string>{"First", "Retry"}));
  EXPECT_EQ(events_.labels("4.DownFinsh"), std::vector<std::string>{"Retry"});
  EXPECT_EQ(events_.labels("5.ProgramInstall"), std::vector<std::string>{"Retry"});
  EXPECT_EQ(events_.labels("6.ProgramFinsh"), std::vector<std::string>{"Retry"});
  EXPECT_TRUE(LogLines::instance().containing("Success\xEF\xBC\x8C").empty())
      << "the second run succeeded in its first attempt";
  EXPECT_EQ(run->window.messages().back(), MSG_INSTALL_COMPLETED);
}

// Catches a closing window that counts as a failed download (flow errors,
// eleven more attempts, a failure message), a thread that never ends while
// the bar has not reached its end, and a next start that downloads again
// what the task file already holds.
TEST_F(InstallFlowTest, ClosingWindowEndsEachWaitAndNextStartResumes) {
  // Paced, so the window can close in the middle of the download.
  setField("Download_url", "@BASE@/faults/rate=1500000/setup_orlastra.exe");
  const int64_t size = static_cast<int64_t>(fs::file_size(root_.file("setup_orlastra.exe")));
  {
    auto run = newRun();
    InstallThread thread(run->flow.get());
    ASSERT_TRUE(run->window.waitForDownloaded(0.4, milliseconds(60000)));
    run->flow->OnWindowClosing();
    EXPECT_EQ(thread.join(seconds(10)), kInstallFailed);
    EXPECT_TRUE(flowErrors(events_).empty());
    EXPECT_TRUE(run->window.posted().empty());
    EXPECT_TRUE(events_.labels("DownErrorCode").empty());
    int starts = 0;
    for (const RaisedEvent& e : events_.funnelEx()) starts += e.action == "SliceDownloadStart";
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(fs::exists(taskFile()));
  }

  events_.clear();
  const size_t mark = journalMark();
  auto run = newRun();
  run->window.setProgress(50);
  InstallThread thread(run->flow.get());
  ASSERT_TRUE(awaitProgressWait(*run, thread));
  run->flow->OnWindowClosing();
  EXPECT_EQ(thread.join(seconds(10)), kInstallRan);
  EXPECT_EQ(events_.count("funnelEx|Download|ResumUpload|=;"), 1);
  const Transfers resumed = segmentTransfers(mark);
  EXPECT_GT(resumed.bytes, 0);
  EXPECT_LE(resumed.bytes, size * 6 / 10 + kMiB) << "of " << size;
  // The resumed file is the maker's, byte for byte.
  EXPECT_TRUE(flowErrors(events_).empty());
  EXPECT_TRUE(fs::exists(installDir_ + "/" SAMPLE_PRODUCT_EXE));
  EXPECT_EQ(run->window.messages(),
            (std::vector<uint32_t>{MSG_VERIFY_STARTED, MSG_INSTALLER_STARTED}));
  EXPECT_EQ(run->window.startAppClicks(), 0);
}

// Catches a hash record that is ignored (the installer downloaded again)
// or trusted for another version or another build (an old installer run
// as the new one).
TEST_F(InstallFlowTest, HashRecordKeepsTheInstallerOnlyForTheSameBuild) {
  const int64_t size = static_cast<int64_t>(fs::file_size(root_.file("setup_orlastra.exe")));
  // An installer that fails leaves the verified download in the cache.
  ScopedEnv fail("SAMPLE_INSTALLER_EXIT", "3");
  auto first = newRun();
  EXPECT_EQ(runToEnd(*first), kInstallFailed);
  const std::string record = testing_support::readFile(hashRecord());
  ASSERT_EQ(record.rfind(SAMPLE_PRODUCT_VERSION "###", 0), 0u) << record;
  const std::string md5 = record.substr(record.find("###") + 3);

  struct Case {
    const char* name;
    std::string hashRecord;
    int64_t downloaded;
  } cases[] = {
      // Digits in either case: the record is lowered before the comparison.
      {"same build", SAMPLE_PRODUCT_VERSION "###" + upper(md5), 0},
      {"same version, other build", SAMPLE_PRODUCT_VERSION "###0123456789abcdef0123456789abcdef",
       size},
      {"other version", "0.9.0.0###" + md5, size},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The task file of the complete download is there each time: only the
    // hash record decides whether it counts.
    ASSERT_TRUE(fs::exists(taskFile()));
    ASSERT_TRUE(testing_support::writeFile(hashRecord(), c.hashRecord));
    const size_t mark = journalMark();
    const size_t argsBefore = installerArgs().size();
    auto run = newRun();
    EXPECT_EQ(runToEnd(*run), kInstallFailed);
    EXPECT_EQ(segmentTransfers(mark).bytes, c.downloaded);
    EXPECT_EQ(installerArgs().size(), argsBefore + 8) << "the installer did not run";
  }
}

// Catches the embedded configuration trusted like a server answer: its
// empty MD5 must not fail the check, and a leftover installer must go.
TEST_F(InstallFlowTest, EmbeddedConfigurationClearsCacheAndSkipsMd5) {
  setMode("config.mode", "404");
  // Left by an earlier start, without a hash record to judge it by.
  ASSERT_TRUE(testing_support::writeFile(installerPath(), std::string(25 * kMiB, 'x')));
  auto run = newRun({{L"Download_url", wide(server_->baseUrl() + "/files/setup_orlastra.exe")},
                     {L"Process_name", L"" SAMPLE_PRODUCT_EXE},
                     {L"Md5", L"00000000000000000000000000000000"}});
  EXPECT_EQ(runToEnd(*run), kInstallRan);
  EXPECT_EQ(run->record.source, config::CConfigure::kSourceEmbedded);
  EXPECT_EQ(events_.count("funnelEx|Download|DownloadConfigReady|default_config=1;"), 1);
  EXPECT_EQ(exactRequests("/queryDownloaderV2", 2).size(), 2u);
  EXPECT_FALSE(LogLines::instance()
                   .containing(" Configure Load From File, clearAppData Before Download! ")
                   .empty());
  // Before the download the leftover was there to delete (else "0, 2"),
  // after the install the downloaded installer.
  EXPECT_EQ(LogLines::instance().containing(" Clear cache: "),
            (std::vector<std::string>{" Clear cache: 1, 0", " Clear cache: 1, 0"}));
  EXPECT_TRUE(flowErrors(events_).empty());
  EXPECT_EQ(events_.count("event|Other|ProductVersion|1.0.0.0"), 1);
}

// Catches a package treated as an installer: verified, run, or named .exe.
TEST_F(InstallFlowTest, ApkExtraUrlEndsWithThePackageDownloaded) {
  setField("Extra_download_url", "@BASE@/files/orlastra.apk");
  auto run = newRun();
  EXPECT_EQ(runToEnd(*run), kPackageOnly);
  EXPECT_EQ(run->window.messages(), std::vector<uint32_t>{MSG_PACKAGE_DOWNLOADED});
  const std::string package = cacheDir_ + "/setup_orlastra_1.0.0.0.apk";
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(package)),
            static_cast<int64_t>(fs::file_size(root_.file("setup_orlastra.exe"))));
  EXPECT_FALSE(fs::exists(installerPath()));
  EXPECT_FALSE(fs::exists(argsFile_));
  EXPECT_EQ(LogLines::instance().containing("APP DownloaderSucceed").size(), 1u);
  EXPECT_TRUE(events_.labels("Md5CheckStart").empty());
}

// Catches a configuration without a direct address that still downloads,
// or that stays "filled" so a retry could not fetch again.
TEST_F(InstallFlowTest, NoDirectAddressFailsWithDl023) {
  setField("Download_url", "http://cdn.orlastra.example/downloads/setup_orlastra.exe");
  setField("Extra_download_url", "http://dl.orlastra.example/downloads/setup_orlastra.exe");
  auto run = newRun();
  EXPECT_EQ(runToEnd(*run), kInstallFailed);
  EXPECT_EQ(flowErrors(events_), std::vector<std::string>{"DL023"});
  ASSERT_EQ(run->window.posted().size(), 1u);
  EXPECT_EQ(run->window.posted()[0].message, MSG_DOWNLOAD_FAILED);
  EXPECT_EQ(run->window.posted()[0].wparam, kNoUrlResult);
  EXPECT_EQ(run->record.state, config::CConfigure::kNotFilled);
  EXPECT_EQ(segmentTransfers(0).requests, 0);
}

// Catches the window's background fetch parsing after the install thread
// took over (the URL list would hold every address twice) and the install
// thread asking the server again for a block it already holds.
TEST_F(InstallFlowTest, EarlyClickAbandonsTheBackgroundFetch) {
  setMode("config.mode.com", "stall");
  setMode("config.stall_ms", "1500");
  auto run = newRun();
  run->flow->StartAsyncFetch();
  // The background query is on its way (it holds the record's lock).
  ASSERT_TRUE(testing_support::waitFor([&] { return configurationQueries_.load() >= 1; },
                                       milliseconds(5000)));
  EXPECT_EQ(runToEnd(*run), kInstallRan);
  EXPECT_EQ(run->flow->WaitForAllThreadExit(), 0);
  EXPECT_EQ(LogLines::instance().containing(" GetDownloaderInfo(Async) abandon").size(), 1u);
  EXPECT_EQ(run->record.urlList.size(), 2u);
  EXPECT_EQ(exactRequests("/queryDownloaderV2", 1).size(), 1u);
  EXPECT_EQ(events_.labels("AsyncGetCbsTime").size(), 1u);
  EXPECT_TRUE(events_.labels("SyncGetCbsTime").empty());
}

}  // namespace
}  // namespace install
