#include "install/download_info_query.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "install_test_support.h"

namespace install {
namespace {

constexpr char kBlock[] =
    "<Downloader><Software_name>Orlastra</Software_name>"
    "<Download_url>https://cdn.orlastra.example/p/setup_x.exe</Download_url>"
    "<Extra_download_url>https://files.orlastra.example/p/setup_x.exe</Extra_download_url>"
    "<Md5>abc</Md5></Downloader>";

class DownloadInfoQueryTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    writeScenario(kBlock);
    // One server plays the three hosts, told apart by path prefix.
    env_.comBase = server_->baseUrl() + "/com";
    env_.cnBase = server_->baseUrl() + "/cn";
    env_.testBase = server_->baseUrl() + "/test";
    env_.systemName = [this](float* version) {
      *version = osVersion_;
      return std::string("Windows Test");
    };
  }

  MapLabels embeddedLabels() const {
    MapLabels labels;
    labels.texts = {{L"Downloader_id", L"630"}, {L"Site_id", L"521"}, {L"Language_id", L"1033"},
                    {L"Software_name", L"Embedded"},
                    {L"Extra_download_url", L"https://files.orlastra.example/e/setup_x.exe"}};
    return labels;
  }

  QueryEnvironment env_;
  float osVersion_ = 11.0f;
  config::CConfigure record_{630, 1033, 521};
  EventRecorder events_;
};

TEST_F(DownloadInfoQueryTest, StoresBlockAndReportsTimingAndSuccess) {
  ASSERT_EQ(getDownloadInfoXml(&record_, false, false, env_), 1);
  EXPECT_EQ(record_.rawAnswer, kBlock);
  EXPECT_EQ(record_.getQueryUrl(),
            server_->baseUrl() + "/com/queryDownloaderV2?LanguageId=1033&SoftWareID=630&SiteID=521");
  EXPECT_EQ(events_.labels("AsyncGetCbsTime"), std::vector<std::string>{"0"});
  ASSERT_EQ(events_.funnelEx().size(), 1u);
  EXPECT_EQ(events_.funnelEx()[0].action, "Get download configuration");
  EXPECT_EQ(events_.funnelEx()[0].detail,
            "Download configurationType=Success;Configuration URL=127.0.0.1;");
  // Raw block held: no second request, no event.
  EXPECT_EQ(getDownloadInfoXml(&record_, true, true, env_), 0);
  EXPECT_EQ(exactRequests("/queryDownloaderV2", 1).size(), 1u);
  EXPECT_EQ(events_.events().size(), 2u);
}

TEST_F(DownloadInfoQueryTest, LegacyWindowsAsksForPackageType5) {
  osVersion_ = 8.1f;
  ASSERT_EQ(getDownloadInfoXml(&record_, true, true, env_), 1);
  const auto sent = exactRequests("/queryDownloaderV2", 1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["path"].asString(), "/cn/queryDownloaderV2");
  EXPECT_EQ(sent[0]["query"].asString(), "LanguageId=1033&SoftWareID=630&SiteID=521&package_type=5");
  EXPECT_EQ(events_.labels("SyncGetCbsTime").size(), 1u);
}

// TestEnv sends both hosts' requests to the test host, while the success
// event still names the host the flag chose.
TEST_F(DownloadInfoQueryTest, TestEnvQueriesTestHostButNamesCnHost) {
  env_.testEnv = true;
  env_.cnBase = "https://update.orlastra-cn.example";
  ASSERT_EQ(getDownloadInfoXml(&record_, false, true, env_), 1);
  const auto sent = exactRequests("/queryDownloaderV2", 1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["path"].asString(), "/test/queryDownloaderV2");
  ASSERT_EQ(events_.funnelEx().size(), 1u);
  EXPECT_NE(events_.funnelEx()[0].detail.find("Configuration URL=update.orlastra-cn.example"),
            std::string::npos);
}

TEST_F(DownloadInfoQueryTest, AnswerKindsAndWhatIsStored) {
  struct Case {
    const char* mode;
    int result;
    const char* stored;
  } cases[] = {
      {"wrapped", 1, kBlock},
      {"twoblocks", 1, kBlock},
      {"noblock", 0, ""},
      {"404", 0, ""},
  };
  for (const Case& k : cases) {
    setMode("config.mode", k.mode);
    config::CConfigure record(630, 1033, 521);
    EXPECT_EQ(getDownloadInfoXml(&record, false, false, env_), k.result) << k.mode;
    EXPECT_EQ(record.rawAnswer, k.stored) << k.mode;
    // The query URL is kept for error reports, also after a failure.
    EXPECT_FALSE(record.getQueryUrl().empty()) << k.mode;
  }
  // The bare pair of tags is a block of 25 bytes.
  setMode("config.mode", "");
  writeScenario("<Downloader></Downloader>");
  config::CConfigure record(630, 1033, 521);
  EXPECT_EQ(getDownloadInfoXml(&record, false, false, env_), 1);
  EXPECT_EQ(record.rawAnswer.size(), 25u);
}

TEST_F(DownloadInfoQueryTest, StalledServerTimesOutWithDl002) {
  setMode("config.mode", "stall");
  EXPECT_EQ(getDownloadInfoXml(&record_, false, false, env_), 0);
  EXPECT_EQ(events_.labels("FlowError"), std::vector<std::string>{"DL002"});
  const auto timing = events_.labels("AsyncGetCbsTime");
  ASSERT_EQ(timing.size(), 1u);
  EXPECT_EQ(timing[0], "5");
  EXPECT_TRUE(record_.rawAnswer.empty());
}

TEST_F(DownloadInfoQueryTest, InstallThreadFallsBackFromComToCn) {
  setMode("config.mode.com", "404");
  CompleteConfiguration(&record_, embeddedLabels(), env_);
  EXPECT_EQ(record_.state, config::CConfigure::kFilled);
  EXPECT_EQ(record_.source, config::CConfigure::kSourceServer);
  EXPECT_EQ(record_.urlList,
            std::vector<std::wstring>{L"https://files.orlastra.example/p/setup_x.exe"});
  const auto sent = exactRequests("/queryDownloaderV2", 2);
  ASSERT_EQ(sent.size(), 2u);
  // The journal orders lines by when they were written, not sent: the
  // record's query URL tells which request came last.
  EXPECT_EQ(std::set<std::string>({sent[0]["path"].asString(), sent[1]["path"].asString()}),
            std::set<std::string>({"/com/queryDownloaderV2", "/cn/queryDownloaderV2"}));
  EXPECT_NE(record_.getQueryUrl().find("/cn/queryDownloaderV2"), std::string::npos);
  EXPECT_EQ(events_.labels("SyncGetCbsTime").size(), 2u);
}

TEST_F(DownloadInfoQueryTest, NoAnswerAnywhereFillsFromEmbeddedConfiguration) {
  setMode("config.mode", "noblock");
  CompleteConfiguration(&record_, embeddedLabels(), env_);
  EXPECT_EQ(record_.state, config::CConfigure::kFilled);
  EXPECT_EQ(record_.source, config::CConfigure::kSourceEmbedded);
  EXPECT_EQ(record_.softwareName, L"Embedded");
  // A filled record is not fetched again.
  CompleteConfiguration(&record_, embeddedLabels(), env_);
  EXPECT_EQ(exactRequests("/queryDownloaderV2", 2).size(), 2u);
}

TEST_F(DownloadInfoQueryTest, AsyncFetchStopsOnceAbandoned) {
  std::atomic<bool> abandon{true};
  EXPECT_FALSE(RunAsyncConfigurationFetch(&record_, abandon, env_));
  abandon = false;
  setMode("config.mode.com", "noblock");
  EXPECT_TRUE(RunAsyncConfigurationFetch(&record_, abandon, env_));
  EXPECT_EQ(record_.source, config::CConfigure::kSourceServer);
  EXPECT_EQ(events_.labels("AsyncGetCbsTime").size(), 2u);
}

// The window's fetch and the install thread run together: whichever
// parses, the record is written by one of them at a time and parsed once
// (a second parse would list the extra URL twice). ThreadSanitizer checks
// the writes.
TEST_F(DownloadInfoQueryTest, ConcurrentFetchersNeverWriteTogether) {
  setMode("config.mode.com", "stall");
  setMode("config.stall_ms", "300");
  for (int round = 0; round < 2; ++round) {
    config::CConfigure record(630, 1033, 521);
    record.fillFromLabels(embeddedLabels(), false);
    std::atomic<bool> abandon{false};
    const size_t before = requests("/queryDownloaderV2").size();
    std::thread async([&] { (void)RunAsyncConfigurationFetch(&record, abandon, env_); });
    // Round 0 starts the install thread at once, while the window's request
    // is in flight; round 1 once that request has been answered.
    if (round == 1) {
      EXPECT_EQ(awaitRequests("/queryDownloaderV2", before + 1).size(), before + 1);
    }
    abandon = true;
    CompleteConfiguration(&record, embeddedLabels(), env_);
    async.join();
    EXPECT_EQ(record.state, config::CConfigure::kFilled) << round;
    EXPECT_EQ(record.source, config::CConfigure::kSourceServer) << round;
    EXPECT_EQ(record.urlList.size(), 1u) << round;
  }
}

}  // namespace
}  // namespace install
