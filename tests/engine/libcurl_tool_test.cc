#include "engine/libcurl_tool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
