#include "engine/download_task_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/content_length_cache.h"
#include "engine_test_env.h"
#include "support/maker_services.h"
#include "support/temp_dir.h"

namespace engine {
namespace {

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// A URL nothing listens on: any request that is made fails, so a test that
// passes through the content-length cache shows no request was needed.
const char kUrl[] = "http://127.0.0.1:9/files/setup.exe";

TEST(SegmentLayoutTest, CutsFourMebibyteSegmentsWithTheRemainderLast) {
  // The last segment ends at the content length itself; the others on
  // their last byte.
  const struct {
    int64_t length;
    std::vector<SegmentBounds> want;
  } kCases[] = {
      {4194303, {{0, 4194303}}},
      {4194304, {{0, 4194304}}},
      {12582913, {{0, 4194303}, {4194304, 8388607}, {8388608, 12582913}}},
      {1, {{0, 1}}},
  };
  for (const auto& c : kCases) {
    const auto got = segmentLayout(c.length);
    ASSERT_EQ(got.size(), c.want.size()) << c.length;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].start, c.want[i].start) << c.length << " #" << i;
      EXPECT_EQ(got[i].end, c.want[i].end) << c.length << " #" << i;
    }
  }
}

// Catches 32-bit position arithmetic: past 2 GiB the starts would wrap.
TEST(SegmentLayoutTest, FilesOfTwoGibibytesAndMoreGetContiguousPositions) {
  const int64_t length = 5LL * 1024 * 1024 * 1024 + 12345;
  const auto got = segmentLayout(length);
  ASSERT_EQ(got.size(), size_t(1280));
  int64_t expected = 0;
  for (const auto& s : got) {
    EXPECT_EQ(s.start, expected);
    expected = s.end + 1;
  }
  EXPECT_EQ(got.back().end, length);
  EXPECT_EQ(got[600].start, 600LL * 4194304);
}

TEST(ProbeAnswerTest, ReadsLengthCdnAndLocation) {
  const ProbeAnswer cf = readProbeAnswer(
      "HTTP/1.1 200 OK\r\nContent-Length: 1234\r\nCF-Cache-Status: HIT\r\n"
      "CF-RAY: 7d2f3a9b1c-LAX\r\nServer: cloudflare\r\n\r\n");
  EXPECT_TRUE(cf.cloudflare);
  EXPECT_EQ(cf.cfCacheStatus, " HIT");
  EXPECT_EQ(cf.cfDataCentre, "LAX");
  EXPECT_TRUE(cf.hasLength);
  EXPECT_EQ(cf.length, 1234);
  EXPECT_FALSE(cf.hasLocation);

  const ProbeAnswer range = readProbeAnswer(
      "HTTP/1.1 200 OK\r\nContent-Range: bytes 0-99/5000\r\nServer: x\r\nContent-Length: 100\r\n"
      "X-Cache: TCP_HIT from edge\r\n\r\n");
  EXPECT_EQ(range.length, 5000);
  EXPECT_FALSE(range.cloudflare);
  EXPECT_TRUE(range.xCache);
  EXPECT_EQ(range.xCacheText, "TCP_HIT from edge");

  const ProbeAnswer moved =
      readProbeAnswer("HTTP/1.1 200 OK\r\nLocation: http://h/x.exe\r\nContent-Length: 5\r\n\r\n");
  EXPECT_TRUE(moved.hasLocation);
  EXPECT_EQ(moved.location, "http://h/x.exe");

  // Header names are matched as written: a lower-case answer has no length.
  const ProbeAnswer lower = readProbeAnswer("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n");
  EXPECT_FALSE(lower.hasLength);
}

// Catches a probe buffer that cuts long header texts: the length line after
// 3000 bytes of cookies must still be read.
TEST(ProbeAnswerTest, ReadsLinesBeyondTwoThousandBytes) {
  std::string text = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 60; ++i) text += "Set-Cookie: c" + std::to_string(i) + "=" + std::string(40, 'v') + "\r\n";
  ASSERT_GT(text.size(), 2000u);
  text += "Content-Length: 777\r\n\r\n";
  EXPECT_EQ(readProbeAnswer(text).length, 777);
}

// Catches a validator taken from a redirect's answer or a weak ETag, which
// the server would never match in If-Range.
TEST(ProbeAnswerTest, TakesTheFinalAnswersStrongValidator) {
  const char* kDate = "Tue, 09 Dec 2025 10:00:00 GMT";
  const struct {
    const char* what;
    std::string headers;
    std::string want;
  } kCases[] = {
      {"strong ETag", "HTTP/1.1 200 OK\r\nETag: \"5f-a\"\r\nLast-Modified: " + std::string(kDate) + "\r\n\r\n",
       "\"5f-a\""},
      {"weak ETag falls back to the date", "HTTP/1.1 200 OK\r\netag: W/\"5f\"\r\nlast-modified: " + std::string(kDate) + "\r\n\r\n",
       kDate},
      {"redirect's ETag is not the file's",
       "HTTP/1.1 302 Found\r\nETag: \"r\"\r\nLocation: /b\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", ""},
      {"none", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(readProbeAnswer(c.headers).validator, c.want) << c.what;
}

class TaskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearContentLengthCache();
    engine_test::installRecordingHooks();
    engine_test::Recorder::instance().clear();
    local_ = dir_.file("setup.exe");
    taskFile_ = local_ + ".xml";
  }
  void TearDown() override { ClearContentLengthCache(); }

  // A task file for a file of `length` bytes generated through the cache.
  void writeFreshTaskFile(int64_t length) {
    RememberContentLength(kUrl, length);
    CDownloadTaskManager m(kUrl, local_, taskFile_);
    ASSERT_EQ(m.generateDownloadTask(0, "", 0), kErrSuccess);
    m.saveTaskToFile();
  }

  // A fresh task file for 12582913 bytes with its first `from` replaced by
  // `to`: one hostile edit of an otherwise sound file.
  void writeEditedTaskFile(const std::string& from, const std::string& to, const char* what) {
    ClearContentLengthCache();
    writeFreshTaskFile(12582913);
    std::string text = readFile(taskFile_);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << what;
    text.replace(at, from.size(), to);
    ASSERT_TRUE(writeFile(taskFile_, text));
  }

  TempDir dir_;
  std::string local_;
  std::string taskFile_;
};

TEST_F(TaskFileTest, WritesThePartsLayoutAndReadsItBack) {
  RememberContentLength(kUrl, 9437184);
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  ASSERT_EQ(m.generateDownloadTask(0, "", 0), kErrSuccess);
  ASSERT_EQ(m.allTasks().size(), 2u);
  m.allTasks()[0]->downloadedPos = 4194303;
  m.allTasks()[0]->status = kTaskComplete;
  m.allTasks()[1]->downloadedPos = 6291456;
  m.allTasks()[1]->status = kTaskHanded;
  m.addDownloadTime(5310);
  m.saveTaskToFile();

  const std::string text = readFile(taskFile_);
  EXPECT_EQ(text.rfind("<TaskInfo>", 0), 0u) << "no declaration before the root";
  for (const char* part : {"<TasksCount>2</TasksCount>", "<ContentLength>9437184</ContentLength>",
                           "<DownloadTime>5310</DownloadTime>", "<StartPos>4194304</StartPos>",
                           "<EndPos>9437184</EndPos>", "<DownloadedPos>6291456</DownloadedPos>",
                           "<TaskStatus>3</TaskStatus>", "<TaskId>2</TaskId>",
                           "<RequestTimes>0</RequestTimes>"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
  EXPECT_LT(text.find("<StartPos>"), text.find("<EndPos>"));
  EXPECT_LT(text.find("<LocalPath>"), text.find("<TaskStatus>"));

  CDownloadTaskManager again(kUrl, local_, taskFile_);
  EXPECT_FALSE(again.loadTaskFromFile(0));  // tasks carried TaskStatus
  EXPECT_EQ(again.contentLength(), 9437184);
  EXPECT_EQ(again.downloadTime(), 5310);
  ASSERT_EQ(again.allTasks().size(), 2u);
  EXPECT_EQ(again.handedTasks().size(), 1u);  // the complete one
  EXPECT_EQ(again.waitingCount(), 1u);        // the one in flight goes back
  EXPECT_EQ(again.allTasks()[1]->downloaded(), 6291456);
  EXPECT_EQ(again.allTasks()[1]->remotePath, kUrl);
  EXPECT_EQ(again.checkLoadedTasks(0), kErrSuccess);
}

// The validator is an added element: a file that has it gives it to every
// task and keeps it on the next save; one written before (the other tests'
// files) loads with none.
TEST_F(TaskFileTest, KeepsTheServersValidatorBesideTheTasks) {
  writeFreshTaskFile(9437184);
  std::string text = readFile(taskFile_);
  const size_t after = text.find("</DownloadTime>") + 15;
  text.insert(after, "\n    <Validator>\"5f-a&amp;b\"</Validator>");
  ASSERT_TRUE(writeFile(taskFile_, text));
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  ASSERT_EQ(m.loadDownloadTask(0, "", 0), kErrSuccess);
  EXPECT_EQ(m.validator(), "\"5f-a&b\"");
  for (const auto& t : m.allTasks()) EXPECT_EQ(t->validator, "\"5f-a&b\"");
  m.saveTaskToFile();
  CDownloadTaskManager again(kUrl, local_, taskFile_);
  again.loadTaskFromFile(0);
  EXPECT_EQ(again.validator(), "\"5f-a&b\"");
}

// Paths with characters XML must escape survive the round trip.
TEST_F(TaskFileTest, EscapesPathsAndIgnoresRecordedRequestTimes) {
  const std::string url = std::string(kUrl) + "?a=1&b=<2>";
  RememberContentLength(url, 100);
  CDownloadTaskManager m(url, local_, taskFile_);
  ASSERT_EQ(m.generateDownloadTask(0, "", 0), kErrSuccess);
  m.allTasks()[0]->requestTimes = 7;
  m.saveTaskToFile();
  ASSERT_NE(readFile(taskFile_).find("<RequestTimes>7</RequestTimes>"), std::string::npos);
  CDownloadTaskManager again(url, local_, taskFile_);
  again.loadTaskFromFile(0);
  ASSERT_EQ(again.allTasks().size(), 1u);
  EXPECT_EQ(again.allTasks()[0]->remotePath, url);
  EXPECT_EQ(again.allTasks()[0]->requestTimes.load(), 0);
}

// A task file vouches for nothing: in a new process (empty cache) its
// ContentLength is checked against the server, so with no server there is
// no resume and no length is taken from the file.
TEST_F(TaskFileTest, TaskFileAloneDoesNotVouchForItsSize) {
  writeFreshTaskFile(12582913);
  ClearContentLengthCache();
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  EXPECT_EQ(m.loadDownloadTask(0, "", 0), kErrNoContentLength);
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("funnel|Download|ResumUpload"), 0);
  EXPECT_EQ(LookupContentLength(kUrl), 0) << "the file's claim entered the cache";
  EXPECT_TRUE(m.allTasks().empty());
  // No answer is no verdict: the task file stays for a run that reaches
  // the server.
  EXPECT_FALSE(readFile(taskFile_).empty());
}

// Against a real server a new process asks the size once: a sound file
// resumes, and a file that grew on the server is noticed (DL025) rather
// than resumed with the old length.
TEST_F(TaskFileTest, NewProcessProbesTheSizeOnceBeforeResuming) {
  TempDir root;
  ASSERT_TRUE(writeFile(root.file("a.bin"), std::string(12582913, 'a')));
  testing_support::MakerServices host(root.path());
  const std::string url = host.baseUrl() + "/files/a.bin";
  RememberContentLength(url, 12582913);
  {
    CDownloadTaskManager first(url, local_, taskFile_);
    ASSERT_EQ(first.generateDownloadTask(0, "", 0), kErrSuccess);
    first.saveTaskToFile();
  }
  ClearContentLengthCache();
  CDownloadTaskManager m(url, local_, taskFile_);
  ASSERT_EQ(m.loadDownloadTask(0, "", 0), kErrSuccess);
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("funnel|Download|ResumUpload"), 1);
  EXPECT_EQ(host.requestsTo("/files/a.bin", 1, std::chrono::seconds(5)).size(), 1u);

  ASSERT_TRUE(writeFile(root.file("a.bin"), std::string(12582914, 'a')));
  ClearContentLengthCache();
  CDownloadTaskManager grown(url, local_, taskFile_);
  ASSERT_EQ(grown.loadDownloadTask(0, "", 0), kErrSuccess);
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("Other|FlowError|DL025"), 1);
  EXPECT_EQ(grown.contentLength(), 12582914);
}

// Each number a task file holds is bounded before it sizes memory or
// requests: a huge length once aborted the fresh start with bad_alloc.
TEST_F(TaskFileTest, NumbersOutOfBoundsRaiseDl026WithoutARequest) {
  std::string manyTasks;
  for (int64_t i = 0; i <= kMaxSegments; ++i) manyTasks += "<Task/>";
  const struct {
    const char* what;
    std::string from;
    std::string to;
  } kCases[] = {
      {"length 2^63-1", "<ContentLength>12582913<", "<ContentLength>9223372036854775807<"},
      {"thirty digits", "<ContentLength>12582913<", "<ContentLength>123456789012345678901234567890<"},
      {"one tebibyte and one", "<ContentLength>12582913<", "<ContentLength>1099511627777<"},
      {"negative length", "<ContentLength>12582913<", "<ContentLength>-5<"},
      {"negative start", "<StartPos>0<", "<StartPos>-4194304<"},
      {"negative downloaded", "<DownloadedPos>0<", "<DownloadedPos>-1<"},
      {"end past the bound", "<EndPos>12582913<", "<EndPos>99999999999999<"},
      {"too many counted", "<TasksCount>3<", "<TasksCount>262145<"},
      {"too many tasks", "<TasksCount>3</TasksCount>", "<TasksCount>3</TasksCount>" + manyTasks},
      {"negative time", "<DownloadTime>0<", "<DownloadTime>-7<"},
  };
  for (const auto& c : kCases) {
    ASSERT_NO_FATAL_FAILURE(writeEditedTaskFile(c.from, c.to, c.what));
    ClearContentLengthCache();  // a probe would fail: none may be made
    engine_test::Recorder::instance().clear();

    CDownloadTaskManager check(kUrl, local_, taskFile_);
    check.loadTaskFromFile(0);
    EXPECT_LE(check.allTasks().size(), size_t(kMaxSegments)) << c.what;
    EXPECT_EQ(check.checkLoadedTasks(0), kErrTaskLayout) << c.what;
    EXPECT_EQ(engine_test::Recorder::instance().eventCount("Other|FlowError|DL026"), 1) << c.what;
  }
}

// A server's own absurd claim is no length either.
TEST_F(TaskFileTest, FreshStartRefusesALengthBeyondTheBound) {
  RememberContentLength(kUrl, kMaxContentLength + 1);
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  EXPECT_EQ(m.generateDownloadTask(0, "", 0), kErrNoContentLength);
  EXPECT_TRUE(m.allTasks().empty());
}

// The size is checked through the caller's URL and what this process
// learnt of it (here the cache, filled as a probe of the moved URL would).
TEST_F(TaskFileTest, SizeChangeRaisesDl025AndStartsAfresh) {
  writeFreshTaskFile(12582913);
  ASSERT_TRUE(writeFile(local_, "partial"));
  ClearContentLengthCache();
  const std::string moved = std::string(kUrl) + "?v=2";
  RememberContentLength(moved, 12582914);  // the file there is a byte longer
  CDownloadTaskManager probe(moved, local_, taskFile_);
  probe.loadTaskFromFile(0);
  EXPECT_EQ(probe.checkLoadedTasks(0), kErrContentLengthChanged);
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("Other|FlowError|DL025"), 1);

  CDownloadTaskManager m(moved, local_, taskFile_);
  ASSERT_EQ(m.loadDownloadTask(0, "", 0), kErrSuccess);
  EXPECT_FALSE(testing_support::readFile(local_) == "partial") << "old bytes must be deleted";
  EXPECT_EQ(m.contentLength(), 12582914);
  ASSERT_EQ(m.allTasks().size(), 3u);
  EXPECT_EQ(m.allTasks().back()->end(), 12582914);
  EXPECT_EQ(m.allTasks().back()->remotePath, moved);
}

// The layout rejections: each would make workers write bytes out of place.
TEST_F(TaskFileTest, MisplacedSegmentsRaiseDl026AndDeleteBothFiles) {
  const struct {
    const char* what;
    std::string from;
    std::string to;
  } kCases[] = {
      {"second task one byte late", "<StartPos>4194304</StartPos>", "<StartPos>4194305</StartPos>"},
      {"downloaded past the end", "<DownloadedPos>4194304</DownloadedPos>",
       "<DownloadedPos>9999999</DownloadedPos>"},
      {"an extra empty task", "<TaskId>3</TaskId>", "<TaskId>3</TaskId></Task><Task>"},
  };
  for (const auto& c : kCases) {
    ASSERT_NO_FATAL_FAILURE(writeEditedTaskFile(c.from, c.to, c.what));
    ASSERT_TRUE(writeFile(local_, "old"));
    engine_test::Recorder::instance().clear();

    CDownloadTaskManager check(kUrl, local_, taskFile_);
    check.loadTaskFromFile(0);
    EXPECT_EQ(check.checkLoadedTasks(0), kErrTaskLayout) << c.what;
    EXPECT_EQ(engine_test::Recorder::instance().eventCount("Other|FlowError|DL026"), 1) << c.what;

    CDownloadTaskManager m(kUrl, local_, taskFile_);
    ASSERT_EQ(m.loadDownloadTask(0, "", 0), kErrSuccess) << c.what;
    EXPECT_FALSE(testing_support::readFile(local_) == "old") << c.what;
    EXPECT_FALSE(testing_support::readFile(taskFile_).size() > 0) << c.what << ": task file deleted";
    EXPECT_EQ(m.waitingCount(), 3u) << c.what;
  }
}

TEST_F(TaskFileTest, EmptyTaskFileIsReplaced) {
  RememberContentLength(kUrl, 100);
  ASSERT_TRUE(writeFile(taskFile_, ""));
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  ASSERT_EQ(m.loadDownloadTask(0, "", 0), kErrSuccess);
  EXPECT_EQ(m.allTasks().size(), 1u);
  // Its content length reads as 0, which differs from the file's.
  EXPECT_EQ(engine_test::Recorder::instance().eventCount("Other|FlowError|DL025"), 1);
}

// A task file that claims bytes the download file no longer holds (the
// file was deleted or cut) must not resume into a file with holes.
TEST_F(TaskFileTest, DownloadFileShorterThanRecordedIsDiscarded) {
  RememberContentLength(kUrl, 9437184);
  {
    CDownloadTaskManager m(kUrl, local_, taskFile_);
    ASSERT_EQ(m.generateDownloadTask(0, "", 0), kErrSuccess);
    m.allTasks()[0]->downloadedPos = 4194303;
    m.allTasks()[0]->status = kTaskComplete;
    m.saveTaskToFile();
  }
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  ASSERT_EQ(m.loadDownloadTask(0, "", 0), kErrSuccess);
  EXPECT_EQ(m.handedTasks().size(), 0u);
  EXPECT_EQ(m.waitingCount(), 2u);
}

// "Complete" without the full position would skip missing bytes.
TEST_F(TaskFileTest, CompleteStatusWithoutFullPositionIsFetchedAgain) {
  writeFreshTaskFile(9437184);
  std::string text = readFile(taskFile_);
  const size_t at = text.find("<TaskStatus>0</TaskStatus>");
  text.replace(at, 26, "<TaskStatus>1</TaskStatus>");
  ASSERT_TRUE(writeFile(taskFile_, text));
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  m.loadTaskFromFile(0);
  EXPECT_EQ(m.handedTasks().size(), 0u);
  EXPECT_EQ(m.waitingCount(), 2u);
}

TEST_F(TaskFileTest, TakeTaskHandsOutInFileOrder) {
  RememberContentLength(kUrl, 12582913);
  CDownloadTaskManager m(kUrl, local_, taskFile_);
  ASSERT_EQ(m.generateDownloadTask(0, "", 0), kErrSuccess);
  for (int id = 1; id <= 3; ++id) {
    CTask* t = m.takeTask();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->id.load(), id);
    EXPECT_EQ(t->status.load(), kTaskHanded);
  }
  EXPECT_EQ(m.takeTask(), nullptr);
  EXPECT_EQ(m.handedTasks().size(), 3u);
}

}  // namespace
}  // namespace engine
