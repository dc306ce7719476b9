// The engine on links unlike loopback: slow connections, connections that
// drop, long round trips, and a file that is replaced on the server while a
// download of it is half done. Real file host, real files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "common/text.h"
#include "download_host_fixture.h"
#include "engine/content_length_cache.h"
#include "engine/download_impl.h"
#include "engine/error_code.h"
#include "engine_test_env.h"
#include "platform/system_info.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace engine {
namespace {

using std::chrono::milliseconds;
using testing_support::randomBytes;
using testing_support::readFile;
using testing_support::waitFor;

constexpr int64_t kMiB = 1024 * 1024;

class DownloadNetworkTest : public EngineHostTest {
 protected:
  void serve(const std::string& content) {
    ASSERT_TRUE(testing_support::writeFile(root_.file("a.bin"), content));
    if (!host_) host_ = std::make_unique<testing_support::MakerServices>(root_.path());
  }
  // A reporting download (per-segment log lines) of /faults/<modes>/a.bin.
  int download(const std::string& modes, const std::atomic<bool>* stop = nullptr,
               std::atomic<int64_t>* shown = nullptr) {
    DownloadOptions o;
    o.threadCount = 4;
    o.stop = stop;
    o.onProgress = [shown](int64_t d, int64_t) {
      if (shown != nullptr) *shown = d;
    };
    return CDownLoadImpl::SuperDownloadFile(
        common::utf8ToWide(host_->baseUrl() + "/faults/" + modes + "/a.bin"),
        common::utf8ToWide(local_), nullptr, o);
  }
  // The GET lines of the journal once it has settled.
  std::vector<Json::Value> gets() const {
    size_t seen = 0;
    waitFor([&] {
      const size_t now = host_->journal().size();
      std::this_thread::sleep_for(milliseconds(200));
      const bool settled = now == host_->journal().size() && now == seen;
      seen = now;
      return settled;
    }, milliseconds(10000));
    std::vector<Json::Value> out;
    for (const auto& l : host_->journal()) {
      if (l["method"].asString() == "GET") out.push_back(l);
    }
    return out;
  }

  testing_support::TempDir root_;
  testing_support::TempDir work_;
  std::string local_ = work_.file("setup.bin");
  std::unique_ptr<testing_support::MakerServices> host_;
};

// The fault of a slow link: every request longer than 20 s was cut and
// its segment abandoned for the run. Both segments here take about 23 s.
TEST_F(DownloadNetworkTest, ASlowLinkCompletesInOneCall) {
  const std::string content = randomBytes(8 * kMiB + 100000, 31);
  serve(content);
  ASSERT_EQ(download("rate=180000"), kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content);
  EXPECT_EQ(gets().size(), 2u);  // one request per segment, never cut
}

// A connection that drops after each million bytes: every cut attempt
// brought bytes, so its segment is asked for again from where it stopped,
// in the same call; no byte is fetched twice.
TEST_F(DownloadNetworkTest, CutRequestsThatBroughtBytesResumeInTheSameCall) {
  const std::string content = randomBytes(9 * kMiB + 5, 32);
  serve(content);
  ASSERT_EQ(download("drop-after=1000000"), kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content);
  int64_t sent = 0;
  for (const auto& l : gets()) sent += l["bytes_sent"].asInt64();
  EXPECT_EQ(sent, int64_t(content.size()));
  EXPECT_GT(engine_test::Recorder::instance().logCount(" Tasks info, download fail("), 0);
}

// Catches one request per 4 MiB segment: with a round trip of 50 ms each
// would cost that much again. Four workers need about four requests, and
// every segment still reports its own success line.
TEST_F(DownloadNetworkTest, FourWorkersFetchAWholeFileInAboutFourRequests) {
  const std::string content = randomBytes(64 * kMiB, 33);
  serve(content);
  ASSERT_EQ(download("rate=16000000,delay-ms=50"), kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content);
  const auto requests = gets();
  EXPECT_GE(requests.size(), 4u);
  EXPECT_LE(requests.size(), 6u);
  for (const auto& r : requests) EXPECT_EQ(r["status"].asInt(), 206);
  EXPECT_EQ(engine_test::Recorder::instance().logCount(" Tasks info, download success("), 16);
}

// The fault: a resume checked only the size, so a file replaced by one of
// the same size resumed into a mixture of both. Now the size probe of the
// next run shows the change and the download starts again from zero, with
// DL025.
TEST_F(DownloadNetworkTest, AFileReplacedWithOneOfTheSameSizeRestartsFromZero) {
  for (const char* validator : {"", "validator=last-modified,"}) {
    SCOPED_TRACE(validator);
    testing_support::TempDir fresh;
    local_ = fresh.file("setup.bin");
    const std::string modes = std::string(validator) + "rate=2000000";
    serve(randomBytes(9 * kMiB, 34));
    std::atomic<bool> stop{false};
    std::atomic<int64_t> shown{0};
    int first = 0;
    std::thread run([&] { first = download(modes, &stop, &shown); });
    ASSERT_TRUE(waitFor([&] { return shown.load() > kMiB; }, milliseconds(20000)));
    stop = true;
    run.join();
    ASSERT_EQ(first, kErrStopped);
    ASSERT_NE(readFile(local_ + ".xml").find("<Validator>"), std::string::npos);

    // Same size, other bytes; a date only changes by the second.
    const std::string replaced = randomBytes(9 * kMiB, 35);
    serve(replaced);
    std::error_code dated;
    std::filesystem::last_write_time(
        root_.file("a.bin"), std::filesystem::file_time_type::clock::now() + std::chrono::seconds(100),
        dated);
    ASSERT_FALSE(dated) << dated.message();
    const size_t before = gets().size();
    engine_test::Recorder::instance().clear();
    ClearContentLengthCache();  // a new process, as the next run of the setup

    ASSERT_EQ(download(modes), kErrSuccess);
    EXPECT_TRUE(readFile(local_) == replaced);
    EXPECT_EQ(engine_test::Recorder::instance().eventCount("Other|FlowError|DL025"), 1);
    const auto requests = gets();
    ASSERT_GT(requests.size(), before);
    // The new process's size probe already saw the other version, so no
    // range of the old one was asked: every ranged request matched.
    for (size_t i = before; i < requests.size(); ++i) {
      if (requests[i]["headers"]["Range"].asString().empty()) continue;
      EXPECT_EQ(requests[i]["status"].asInt(), 206) << i;
    }
  }
}

}  // namespace
}  // namespace engine
