// The engine against a disk that misbehaves: writes cut short, and a disk
// that fills up in the middle of a download. The download file goes
// through a FaultyDownloadFile; the server is a real file host.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/text.h"
#include "download_host_fixture.h"
#include "support/faulty_download_file.h"

namespace engine {
namespace {

using testing_support::FaultyDownloadFile;

class DiskFaultTest : public DownloadHostTest {
 protected:
  // A download that reports progress, into the faulty file, that ends
  // after `stall` without a new byte.
  int download(std::chrono::milliseconds stall = std::chrono::milliseconds(60000)) {
    DownloadOptions options = reporting();
    options.file = &file_;
    options.stallLimit = stall;
    return CDownLoadImpl::SuperDownloadFile(common::utf8ToWide(url("/files/a.bin")),
                                            common::utf8ToWide(local_), nullptr, options);
  }

  FaultyDownloadFile file_;
};

// A write the system cuts short is not a failure: the rest of the chunk is
// written on from where the short write stopped.
TEST_F(DiskFaultTest, ShortWritesAreWrittenOnInPlace) {
  serve("a.bin", randomBytes(9 * kMiB + 4097, 21));
  file_.shortenWritesTo(1000);
  ASSERT_EQ(download(), kErrSuccess);
  EXPECT_GT(file_.shortWrites(), 0);
  EXPECT_EQ(file_.failedWrites(), 0);
  EXPECT_TRUE(readFile(local_) == content_);
}

// A disk that fills up ends the download as one that makes no progress,
// and the task file claims only the bytes the disk took. Once there is
// room again, the next run fetches just the missing bytes and the file
// comes out whole.
TEST_F(DiskFaultTest, FullDiskEndsTheDownloadAndTheNextRunResumes) {
  serve("a.bin", randomBytes(9 * kMiB + 4097, 22));
  // The last write that fits is cut short, as on a real disk.
  file_.fillDiskAfter(5 * kMiB + 12345);
  ASSERT_EQ(download(std::chrono::milliseconds(2000)), kErrNoProgress);
  EXPECT_GT(file_.failedWrites(), 0);
  const int64_t missing = expectTaskFileMatchesDisk();
  EXPECT_EQ(missing, int64_t(content_.size()) - (5 * kMiB + 12345));

  file_.clearFaults();
  const size_t before = host_->journal().size();
  ASSERT_EQ(download(), kErrSuccess);
  EXPECT_TRUE(readFile(local_) == content_);
  EXPECT_EQ(getBytesSent(before), missing);
}

// The driver without the stall rule: with the disk full, every segment
// ends failed or complete, and the task file it saves still matches the
// disk byte for byte.
TEST_F(DiskFaultTest, FullDiskFailsTheSegmentsItCannotHold) {
  serve("a.bin", randomBytes(9 * kMiB + 4097, 23));
  file_.fillDiskAfter(kMiB);
  ASSERT_EQ(runOnce(url("/files/a.bin"), 4, &file_), kErrSuccess);
  EXPECT_EQ(expectTaskFileMatchesDisk(), int64_t(content_.size()) - kMiB);
}

}  // namespace
}  // namespace engine
