#ifndef WEBSETUP_TESTS_SUPPORT_FAULTY_DOWNLOAD_FILE_H_
#define WEBSETUP_TESTS_SUPPORT_FAULTY_DOWNLOAD_FILE_H_

// A download file that writes through to the real one until a test tells
// it to fail: writes that come back short, or a disk that fills up. Handed
// to the engine through DownloadOptions::file. Thread-safe.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/mutex.h"
#include "platform/download_file.h"

namespace testing_support {

class FaultyDownloadFile : public platform::IDownloadFile {
 public:
  [[nodiscard]] int open(const std::string& path) override { return file_.open(path); }
  void close() override { file_.close(); }
  bool isOpen() const override { return file_.isOpen(); }
  [[nodiscard]] size_t writeAt(int64_t pos, const void* data, size_t size) override;

  // Every later write stores at most `bytes` and says so, as a write the
  // system cut short does.
  void shortenWritesTo(size_t bytes);
  // The disk holds `bytes` more bytes: the write that reaches the limit is
  // cut there, every one after it stores nothing.
  void fillDiskAfter(int64_t bytes);
  // Writes go through whole again (the disk was cleared).
  void clearFaults();

  // Writes that stored fewer bytes than asked, and those that stored none.
  int shortWrites() const;
  int failedWrites() const;

 private:
  platform::DownloadFile file_;
  mutable common::Mutex mu_;
  size_t maxWrite_ GUARDED_BY(mu_) = 0;  // 0: no limit
  int64_t room_ GUARDED_BY(mu_) = -1;    // -1: no limit
  int shortWrites_ GUARDED_BY(mu_) = 0;
  int failedWrites_ GUARDED_BY(mu_) = 0;
};

}  // namespace testing_support

#endif  // WEBSETUP_TESTS_SUPPORT_FAULTY_DOWNLOAD_FILE_H_
