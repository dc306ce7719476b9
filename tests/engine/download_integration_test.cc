// The engine against a real file host on loopback with injected faults.
// Whatever the fault, the download file never holds a wrong byte: either
// the download completes with the server's bytes, or it fails and its task
// file describes exactly what is on disk.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "common/md5.h"
#include "common/text.h"
#include "download_host_fixture.h"

namespace engine {
namespace {

class DownloadIntegrationTest : public DownloadHostTest {};

TEST_F(DownloadIntegrationTest, DownloadsAFileWhole) {
  serve("a.bin", randomBytes(9 * kMiB + 321, 1));
  std::string cdn = "unchanged";
  DownloadStats stats;
  const int r = CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                                  common::utf8ToWide(local_), &cdn, reporting(), &stats);
  ASSERT_EQ(r, kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content_);
  EXPECT_EQ(cdn, "");
  EXPECT_TRUE(stats.fetchedSegments);
  EXPECT_TRUE(engine_test::Recorder::instance().logged(" Average speed: "));
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("funnel|Download|SliceDownloading"), 1);
  EXPECT_EQ(CDownLoadImpl::checkMD5(common::utf8ToWide(local_),
                                    common::utf8ToWide(common::md5OfText(content_)), L"", L"2.10.8"),
            1);
  EXPECT_EQ(readFile(local_ + ".db"), "2.10.8###" + common::md5OfText(content_));
}

// Every segment's bytes count: a resumed run that finds every segment done
// fetches nothing; it only checks the size with the server.
TEST_F(DownloadIntegrationTest, CompleteTaskFileFinishesAfterOneSizeProbe) {
  serve("a.bin", randomBytes(5 * kMiB, 2));
  ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                             common::utf8ToWide(local_), nullptr),
            kErrSuccess);
  ASSERT_TRUE(host_->waitForJournal(2, milliseconds(5000)));
  const size_t before = host_->journal().size();
  ClearContentLengthCache();
  int64_t shownDownloaded = -1, shownTotal = -1;
  DownloadOptions shown;
  shown.onProgress = [&](int64_t d, int64_t t) { shownDownloaded = d; shownTotal = t; };
  engine_test::Recorder::instance().clear();
  const int r = CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                                  common::utf8ToWide(local_), nullptr, shown);
  EXPECT_EQ(r, kErrSuccess);
  // A new process asks the size once (the task file cannot vouch for it),
  // and fetches nothing.
  ASSERT_TRUE(host_->waitForJournal(before + 1, milliseconds(5000)));
  EXPECT_EQ(host_->journal().size(), before + 1);
  EXPECT_EQ(shownDownloaded, 5 * kMiB);
  EXPECT_EQ(shownTotal, 5 * kMiB);
  EXPECT_FALSE(engine_test::Recorder::instance().logged(" Average speed: "));
  EXPECT_TRUE(readFile(local_) == content_);
}

// A resumed run that fetches one byte must not report the bytes it found on
// disk as speed.
TEST_F(DownloadIntegrationTest, ResumedBytesAreNoSpeedSample) {
  const int64_t size = 9 * kMiB;
  serve("a.bin", randomBytes(size, 4));
  ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                             common::utf8ToWide(local_), nullptr),
            kErrSuccess);
  // The last segment ends one past the file's last byte: put that byte back.
  std::string taskFile = readFile(local_ + ".xml");
  const size_t status = taskFile.rfind("<TaskStatus>1</TaskStatus>");
  ASSERT_NE(status, std::string::npos);
  taskFile.replace(status, 26, "<TaskStatus>0</TaskStatus>");
  const std::string full = "<DownloadedPos>" + std::to_string(size) + "</DownloadedPos>";
  const size_t pos = taskFile.rfind(full);
  ASSERT_NE(pos, std::string::npos);
  taskFile.replace(pos, full.size(), "<DownloadedPos>" + std::to_string(size - 1) + "</DownloadedPos>");
  ASSERT_TRUE(testing_support::writeFile(local_ + ".xml", taskFile));

  DownloadStats stats;
  ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                             common::utf8ToWide(local_), nullptr, {}, &stats),
            kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content_);
  // One byte in at least a millisecond is at most 0.001 MB/s; the 9 MiB
  // already on disk would have shown as several MB/s.
  EXPECT_LT(stats.fastestMBps, 0.01);
}

TEST_F(DownloadIntegrationTest, MissingFileFailsAfterTenProbes) {
  serve("a.bin", "x");
  const int r = CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/none.bin")),
                                                  common::utf8ToWide(local_), nullptr);
  EXPECT_EQ(r, kErrNoContentLength);
  EXPECT_EQ(countRequests("HEAD"), 10);
  EXPECT_EQ(countRequests("GET"), 0);
}

TEST_F(DownloadIntegrationTest, ProbeFaultsFailWithTheirCodes) {
  serve("a.bin", randomBytes(kMiB, 3));
  const struct {
    const char* modes;
    int want;
  } kCases[] = {
      {"status=500", kErrNoContentLength},
      {"lowercase-headers", kErrNoContentLength},  // names are matched as written
      {"redirect-loop", kErrTooManyRedirects},
      {"location-on-200", kErrTooManyRedirects},  // bounded, not endless
  };
  for (const auto& c : kCases) {
    const int r = CDownLoadImpl::SuperDownloadFile(
        common::utf8ToWide(url(std::string("/faults/") + c.modes + "/a.bin")),
        common::utf8ToWide(local_), nullptr);
    EXPECT_EQ(r, c.want) << c.modes;
  }
}

TEST_F(DownloadIntegrationTest, RedirectsAndCdnHeadersAreFollowedAndReported) {
  serve("a.bin", randomBytes(9 * kMiB, 4));
  std::string cdn;
  ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/faults/redirect=3,cf=LAX/HIT/a.bin")),
                                             common::utf8ToWide(local_), &cdn),
            kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content_);
  // Segments fetch from where the probe ended up. The last hop keeps the
  // CF headers; each segment response carries them once. Each of the four
  // probes (three hops and the file) reports the CDN.
  EXPECT_EQ(cdn, "T();C(LAX/HIT;LAX/HIT;)");
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("Download|3.CDNStatus|LAX/ HIT"), 4);
}

TEST_F(DownloadIntegrationTest, XCacheNamesTheProbeCdn) {
  serve("a.bin", randomBytes(kMiB, 5));
  std::string cdn = "before";
  ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/faults/xcache=HIT-edge/a.bin")),
                                             common::utf8ToWide(local_), &cdn),
            kErrSuccess);
  EXPECT_EQ(cdn, "");  // no segment carried CF headers
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("Download|3.CDNStatus|HIT-edge"), 1);
}

// The first fault: a server ignoring Range. A one-segment file comes whole;
// in a larger one only the first segment can be right, the rest is refused.
TEST_F(DownloadIntegrationTest, IgnoredRangeNeverMisplacesBytes) {
  serve("small.bin", randomBytes(3 * kMiB, 6));
  ASSERT_EQ(runOnce(url("/faults/ignore-range/small.bin")), kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content_);

  local_ = work_.file("big.bin");
  serve("big.bin", randomBytes(13 * kMiB, 7));
  ASSERT_EQ(runOnce(url("/faults/ignore-range/big.bin")), kErrSuccess);
  const int64_t missing = expectTaskFileMatchesDisk();
  EXPECT_GT(missing, 0);
  EXPECT_FALSE(readFile(local_) == content_);
}

TEST_F(DownloadIntegrationTest, WrongRangeTotalsWriteNothing) {
  serve("a.bin", randomBytes(9 * kMiB, 8));
  for (const char* modes : {"bad-total", "star-total"}) {
    ASSERT_EQ(runOnce(url(std::string("/faults/") + modes + "/a.bin")), kErrSuccess) << modes;
    EXPECT_EQ(expectTaskFileMatchesDisk(), 9 * kMiB) << modes;
  }
}

// Connections that drop at any byte, including one byte before a segment's
// end, resume into exactly the server's bytes.
TEST_F(DownloadIntegrationTest, DroppedConnectionsResumeToTheExactFile) {
  serve("a.bin", randomBytes(9 * kMiB + 77, 9));
  for (int64_t drop : {int64_t(4194303), int64_t(1500001)}) {
    SCOPED_TRACE(drop);
    testing_support::TempDir fresh;
    local_ = fresh.file("a.bin");
    const std::string remote = url("/faults/drop-after=" + std::to_string(drop) + "/a.bin");
    int runs = 0;
    int64_t missing = -1;
    while (runs < 12 && missing != 0) {
      ++runs;
      ASSERT_EQ(runOnce(remote), kErrSuccess);
      missing = expectTaskFileMatchesDisk();
    }
    EXPECT_EQ(missing, 0);
    EXPECT_TRUE(readFile(local_) == content_);
    if (drop == 4194303) {
      // The first segment stood on its end with its last byte missing: that
      // byte alone was asked for again.
      int lastByteRequests = 0;
      for (const auto& l : host_->journal()) {
        lastByteRequests += l["headers"]["Range"].asString() == "bytes=4194303-4194303";
      }
      EXPECT_EQ(lastByteRequests, 1);
    }
  }
}

// Closing the window stops a slow download at once, not after the
// segments' 20-second transfer limit, and what arrived stays usable: the
// next call resumes from the task file and the file comes out whole.
TEST_F(DownloadIntegrationTest, StopFlagEndsASlowDownloadAndItResumes) {
  serve("a.bin", randomBytes(4 * kMiB, 12));
  std::atomic<bool> stop{false};
  std::atomic<int64_t> shown{0};
  DownloadOptions options = reporting();
  options.stop = &stop;
  options.onProgress = [&](int64_t d, int64_t) { shown = d; };
  int result = 0;
  std::thread downloader([&] {
    result = CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/faults/rate=1000000/a.bin")),
                                              common::utf8ToWide(local_), nullptr, options);
  });
  ASSERT_TRUE(waitFor([&] { return shown.load() > 0; }, milliseconds(10000)));
  const auto stopAt = std::chrono::steady_clock::now();
  stop = true;
  downloader.join();
  EXPECT_EQ(result, kErrStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(5));
  EXPECT_GT(expectTaskFileMatchesDisk(), 0);

  // The segments keep the address they were cut from.
  ASSERT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/faults/rate=1000000/a.bin")),
                                             common::utf8ToWide(local_), nullptr, reporting()),
            kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content_);
}

TEST_F(DownloadIntegrationTest, NetworkDownEndsTheDownload) {
  serve("a.bin", randomBytes(kMiB, 10));
  platform::setNetworkAliveOverride(false);
  const int r = CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                                  common::utf8ToWide(local_), nullptr);
  EXPECT_EQ(r, kErrNetworkNotAlive);
  EXPECT_TRUE(engine_test::Recorder::instance().logged("network is  no  alive"));
}

TEST_F(DownloadIntegrationTest, SmallFilesFailOnlyWhenReported) {
  serve("a.bin", randomBytes(500 * 1000, 11));
  EXPECT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                             common::utf8ToWide(local_), nullptr, reporting()),
            kErrFileTooSmall);
  local_ = work_.file("b.bin");
  EXPECT_EQ(CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                             common::utf8ToWide(local_), nullptr),
            kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content_);
}

// websetup-get killed mid-way: the next run fetches only what its task file
// says is missing, and the file comes out whole.
TEST_F(DownloadIntegrationTest, ResumeAfterKillFetchesOnlyTheMissingBytes) {
  serve("a.bin", randomBytes(24 * kMiB + 5, 12));
  const std::string remote = url("/faults/rate=2000000/a.bin");
  {
    testing_support::Subprocess get({testing_support::binPath("websetup-get"), remote, local_},
                                    {{"WEBSETUP_GET_QUIET", "1"}});
    ASSERT_TRUE(waitFor([&] {
      return readFile(local_ + ".xml").find("<DownloadedPos>") != std::string::npos &&
             readFile(local_ + ".xml").find("<TaskStatus>3") != std::string::npos;
    }, milliseconds(30000)));
    get.signal(SIGKILL);
    get.wait(milliseconds(5000));
  }
  const int64_t missing = expectTaskFileMatchesDisk();
  ASSERT_GT(missing, 0);
  ASSERT_LT(missing, 24 * kMiB + 5);
  // The server journals the killed run's responses as it notices each
  // closed connection: wait until that has settled.
  size_t before = 0;
  ASSERT_TRUE(waitFor([&] {
    const size_t now = host_->journal().size();
    std::this_thread::sleep_for(milliseconds(300));
    before = host_->journal().size();
    return before == now && before > 0;
  }, milliseconds(30000)));
  std::string out;
  const int code = testing_support::runToEnd(
      {testing_support::binPath("websetup-get"), "--md5", common::md5OfText(content_), remote, local_},
      milliseconds(120000), &out, {{"WEBSETUP_GET_QUIET", "1"}});
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("result: 1 success"), std::string::npos) << out;
  EXPECT_TRUE(readFile(local_) == content_);
  EXPECT_EQ(getBytesSent(before), missing);
}

}  // namespace
}  // namespace engine
