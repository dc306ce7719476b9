#include "engine/libcurl_tool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/download_thread.h"
#include "engine_test_env.h"
#include "support/temp_dir.h"

namespace engine {
namespace {

using testing_support::readFile;
using testing_support::TempDir;

// A worker that is never started: the callbacks run on the test's thread
// exactly as libcurl would call them.
class SegmentCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(file_.open(dir_.file("out.bin")), 0);
    engine_test::Recorder::instance().clear();
  }

  // Makes `task` the worker's current one, as a fresh request for it.
  void begin(int64_t start, int64_t end, int64_t length) {
    task_.startPos = start;
    task_.endPos = end;
    task_.downloadedPos = start;
    task_.contentLength = length;
    task_.id = 2;
    worker_.doTask(&task_);
    worker_.transfer() = SegmentTransfer{};
    worker_.transfer().requestedFrom = start;
  }
  size_t header(const std::string& line) {
    std::string copy = line;
    return CLibcurlTool::HeaderCallback(copy.data(), 1, copy.size(), &worker_);
  }
  size_t body(const std::string& data) {
    std::string copy = data;
    return CLibcurlTool::downloadFunc(copy.data(), 1, copy.size(), &worker_);
  }

  TempDir dir_;
  platform::DownloadFile file_;
  platform::NamedMutex mutex_{"engine_test_callbacks"};
  CDownloadThread worker_{&mutex_, &file_};
  CTask task_;
};

TEST_F(SegmentCallbackTest, CloudflareHeadersBuildTheSegmentCdnText) {
  begin(0, 99, 1000);
  EXPECT_EQ(header("CF-RAY: 7d2f3a9b1c-LAX\r\n"), 24u);
  EXPECT_EQ(header("CF-Cache-Status: HIT\r\n"), 22u);
  EXPECT_EQ(task_.segmentCdn, "LAX/HIT");

  // Cache status first, then a redirect's second response: the text wraps.
  task_.segmentCdn.clear();
  header("CF-Cache-Status: HIT\r\n");
  header("CF-RAY: 1-LAX\r\n");
  header("CF-Cache-Status: HIT\r\n");
  header("CF-RAY: 2-LAX\r\n");
  EXPECT_EQ(task_.segmentCdn, "LAX/LAX/HIT/HIT");

  // The same values the probe saw are not repeated.
  task_.segmentCdn.clear();
  task_.probeCdn = "LAX";
  header("CF-RAY: 7-LAX\r\n");
  EXPECT_EQ(task_.segmentCdn, "");
}

TEST_F(SegmentCallbackTest, ContentRangeTotalMustMatchTheContentLength) {
  begin(0, 99, 1000);
  EXPECT_EQ(header("Content-Range: bytes 0-99/1000\r\n"), 32u);
  EXPECT_EQ(header("Content-Range: bytes 0-99/1001\r\n"), 0u);
  EXPECT_TRUE(engine_test::Recorder::instance().logged(" HeaderCallback error1: 1000 != "));
  EXPECT_EQ(header("Content-Range: bytes 0-99/*\r\n"), 0u);
  EXPECT_EQ(header("Content-Range: bytes 0-99\r\n"), 0u);
  EXPECT_TRUE(engine_test::Recorder::instance().logged(" HeaderCallback error2: "));
  // Lower-case names are not inspected.
  EXPECT_EQ(header("content-range: bytes 0-99/5\r\n"), 29u);
}

// The first fault: a server ignoring Range must not put the file's first
// bytes in the middle of the file.
TEST_F(SegmentCallbackTest, BodyIsWrittenOnlyWhereTheResponseSaysItBelongs) {
  const struct {
    const char* what;
    std::string status;
    std::string range;  // empty: no Content-Range
    int64_t from;
    bool accepted;
  } kCases[] = {
      {"206 at the asked position", "HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 40-49/100\r\n", 40, true},
      {"206 elsewhere", "HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 0-9/100\r\n", 40, false},
      {"206 without a range", "HTTP/1.1 206 Partial Content\r\n", "", 40, false},
      {"200 for a middle range", "HTTP/1.1 200 OK\r\n", "", 40, false},
      {"200 for a range at 0", "HTTP/1.1 200 OK\r\n", "", 0, true},
      {"an error page", "HTTP/1.1 404 Not Found\r\n", "", 0, false},
      {"lower-case range header", "HTTP/1.1 206 Partial Content\r\n", "content-range: bytes 40-49/100\r\n", 40, true},
  };
  for (const auto& c : kCases) {
    begin(c.from, c.from + 9, 100);
    header(c.status);
    if (!c.range.empty()) header(c.range);
    header("\r\n");
    const size_t n = body("0123456789");
    EXPECT_EQ(n, c.accepted ? 10u : 0u) << c.what;
    EXPECT_EQ(task_.downloaded(), c.accepted ? c.from + 9 : c.from) << c.what;
  }
}

// A redirect's own status must not decide: the final response's does.
TEST_F(SegmentCallbackTest, TheLastResponseOfARedirectChainIsChecked) {
  begin(40, 49, 100);
  header("HTTP/1.1 302 Found\r\n");
  header("Location: /x\r\n");
  header("\r\n");
  header("HTTP/1.1 206 Partial Content\r\n");
  header("Content-Range: bytes 40-49/100\r\n");
  EXPECT_EQ(body("0123456789"), 10u);
}

TEST_F(SegmentCallbackTest, IgnoredRangeFillsTheFirstSegmentAndStops) {
  begin(0, 19, 1000);
  header("HTTP/1.1 200 OK\r\n");
  const std::string whole(1000, 'x');
  EXPECT_EQ(body(whole), 20u);  // short: libcurl ends with a write error
  EXPECT_EQ(task_.downloaded(), 19);
  EXPECT_TRUE(worker_.transfer().reachedEnd);
  EXPECT_EQ(readFile(dir_.file("out.bin")), std::string(20, 'x'));
  EXPECT_TRUE(engine_test::Recorder::instance().logged(" Write Error. Task id："));
}

// The fifth fault: a middle segment's downloaded position equals its end
// both when the last byte is in and when it is still missing.
TEST_F(SegmentCallbackTest, MiddleSegmentCountsItsLastByteOnlyOnceWritten) {
  begin(10, 19, 100);
  header("HTTP/1.1 206 Partial Content\r\n");
  header("Content-Range: bytes 10-19/100\r\n");
  EXPECT_EQ(body("abcdefghi"), 9u);  // one byte short of the end
  EXPECT_EQ(task_.downloaded(), 19);
  EXPECT_FALSE(worker_.transfer().reachedEnd);
  EXPECT_EQ(body("j"), 1u);
  EXPECT_TRUE(worker_.transfer().reachedEnd);
  EXPECT_EQ(task_.downloaded(), 19);
  // A byte beyond the range is refused and does not overwrite the last one.
  EXPECT_EQ(body("Z"), 0u);
  const std::string out = readFile(dir_.file("out.bin"));
  ASSERT_EQ(out.size(), 20u);
  EXPECT_EQ(out.substr(10), "abcdefghij");
}

// The last segment ends at the content length: nothing may go past it.
TEST_F(SegmentCallbackTest, LastSegmentNeverWritesPastTheFileEnd) {
  begin(90, 100, 100);
  header("HTTP/1.1 206 Partial Content\r\n");
  header("Content-Range: bytes 90-99/100\r\n");
  EXPECT_EQ(body("0123456789XYZ"), 10u);
  EXPECT_EQ(task_.downloaded(), 100);
  EXPECT_EQ(readFile(dir_.file("out.bin")).size(), 100u);
}

// A worker whose request runs through three 10-byte segments of a 30-byte
// file (the last ends at the length itself).
class RunCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(file_.open(dir_.file("out.bin")), 0);
    makeTasks();
  }
  void makeTasks() {
    tasks_.clear();
    for (int i = 0; i < 3; ++i) {
      auto t = std::make_unique<CTask>();
      t->id = i + 1;
      t->startPos = i * 10;
      t->endPos = i == 2 ? 30 : i * 10 + 9;
      t->downloadedPos = i * 10;
      t->contentLength = 30;
      t->validator = "\"v1\"";
      tasks_.push_back(std::move(t));
    }
    engine_test::Recorder::instance().clear();
  }
  // Starts a request for the run from segment index `first` to `last`,
  // answered with `status` and the ETag `etag` (none when empty).
  void begin(int first, int last, const std::string& status, const std::string& etag) {
    ASSERT_TRUE(tasks_[first]->claim());
    worker_.setRunEnd(last);
    worker_.doTask(tasks_[first].get());
    worker_.transfer() = SegmentTransfer{};
    worker_.transfer().requestedFrom = tasks_[first]->downloaded();
    worker_.transfer().requestedTo = tasks_[last]->end();
    worker_.transfer().ifRangeSent = true;
    header(status);
    if (status.find(" 206 ") != std::string::npos) {
      header("Content-Range: bytes " + std::to_string(tasks_[first]->downloaded()) + "-29/30\r\n");
    }
    if (!etag.empty()) header("ETag: " + etag + "\r\n");
  }
  size_t header(const std::string& line) {
    std::string copy = line;
    return CLibcurlTool::HeaderCallback(copy.data(), 1, copy.size(), &worker_);
  }
  size_t body(const std::string& data) {
    std::string copy = data;
    return CLibcurlTool::downloadFunc(copy.data(), 1, copy.size(), &worker_);
  }

  TempDir dir_;
  platform::DownloadFile file_;
  platform::NamedMutex mutex_{"engine_test_run_callbacks"};
  std::vector<std::unique_ptr<CTask>> tasks_;
  std::atomic<bool> changed_{false};
  CDownloadThread worker_{&mutex_, &file_, nullptr, &tasks_, &changed_};
};

// One response fills several segments: each is complete as soon as its
// last byte is in, and the bytes land at their own positions.
TEST_F(RunCallbackTest, ARunFillsEachSegmentInTurnAndCompletesIt) {
  begin(0, 2, "HTTP/1.1 206 Partial Content\r\n", "\"v1\"");
  EXPECT_EQ(body("abcdefghijKLM"), 13u);
  EXPECT_EQ(tasks_[0]->status.load(), kTaskComplete);
  EXPECT_EQ(worker_.currentTask(), tasks_[1].get());
  EXPECT_EQ(tasks_[1]->downloaded(), 13);
  EXPECT_EQ(body("NOPQRSTuvwxyz0123456789"), 17u);  // 7 into the second, 10 into the last
  EXPECT_EQ(tasks_[1]->status.load(), kTaskComplete);
  EXPECT_EQ(tasks_[2]->downloaded(), 30);
  EXPECT_EQ(readFile(dir_.file("out.bin")), "abcdefghijKLMNOPQRSTuvwxyz0123");
}

// The run stops before a segment it may not enter, without writing a byte
// of it and without counting that as a write error.
TEST_F(RunCallbackTest, ARunStopsBeforeSegmentsItMayNotEnter) {
  enum Case { kHeld, kHasBytes, kCutOff };
  const struct {
    const char* what;
    Case arrange;
  } kCases[] = {
      {"held by another worker", kHeld},
      {"already has bytes", kHasBytes},
      {"cut off the run", kCutOff},
  };
  for (const auto& c : kCases) {
    makeTasks();
    begin(0, 2, "HTTP/1.1 206 Partial Content\r\n", "\"v1\"");
    if (c.arrange == kHeld) {
      ASSERT_TRUE(tasks_[1]->claim());
    }
    if (c.arrange == kHasBytes) tasks_[1]->downloadedPos = 12;
    if (c.arrange == kCutOff) worker_.lowerRunEnd(0);
    EXPECT_EQ(body("abcdefghijKLM"), 10u) << c.what;
    EXPECT_TRUE(worker_.transfer().endedAtBoundary) << c.what;
    EXPECT_EQ(tasks_[0]->status.load(), kTaskComplete) << c.what;
    EXPECT_EQ(worker_.currentTask(), tasks_[0].get()) << c.what;
    EXPECT_NE(tasks_[1]->downloaded(), 13) << c.what;
    EXPECT_FALSE(engine_test::Recorder::instance().logged(" Write Error. ")) << c.what;
  }
}

// An answer from another version of the file writes nothing and is
// reported; a server that merely ignores Range is not taken for one.
TEST_F(RunCallbackTest, AnAnswerFromAnotherVersionIsReportedBeforeAnyByte) {
  const struct {
    const char* what;
    int first;
    std::string status;
    std::string etag;
    bool changed;
  } kCases[] = {
      {"206 with another ETag", 1, "HTTP/1.1 206 Partial Content\r\n", "\"v2\"", true},
      {"200 with another ETag", 0, "HTTP/1.1 200 OK\r\n", "\"v2\"", true},
      {"200 to a middle range, no ETag", 1, "HTTP/1.1 200 OK\r\n", "", true},
      {"200 with the same ETag (Range ignored)", 1, "HTTP/1.1 200 OK\r\n", "\"v1\"", false},
      {"206 with the same ETag", 1, "HTTP/1.1 206 Partial Content\r\n", "\"v1\"", false},
  };
  for (const auto& c : kCases) {
    makeTasks();
    changed_ = false;
    begin(c.first, 2, c.status, c.etag);
    const size_t n = body("0123456789");
    EXPECT_EQ(changed_.load(), c.changed) << c.what;
    if (c.changed) {
      EXPECT_EQ(n, 0u) << c.what;
      EXPECT_EQ(tasks_[size_t(c.first)]->downloaded(), c.first * 10) << c.what;
    }
  }
}

TEST(FigureErrorTest, LogsTheTextOfEachCode) {
  EXPECT_EQ(CLibcurlTool::errorText(6), " cannt resovlve server!");
  EXPECT_EQ(CLibcurlTool::errorText(4), " libcurl InitFailed，Please Try again!");
  EXPECT_EQ(CLibcurlTool::errorText(14), " Curl unknow error!");
  EXPECT_EQ(CLibcurlTool::errorText(23), " 接收数据错误");
  EXPECT_EQ(CLibcurlTool::errorText(28), " Curl Time out");
  EXPECT_EQ(CLibcurlTool::errorText(33), " 请求的数据范围错误");
  EXPECT_EQ(CLibcurlTool::errorText(19), " Curl Else Error: 19");
  engine_test::Recorder::instance().clear();
  EXPECT_EQ(CLibcurlTool::figureError(19), 1);
  EXPECT_TRUE(engine_test::Recorder::instance().logged(" Curl Else Error: 19"));
}

}  // namespace
}  // namespace engine
