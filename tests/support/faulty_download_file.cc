#include "support/faulty_download_file.h"

#include <algorithm>

namespace testing_support {

size_t FaultyDownloadFile::writeAt(int64_t pos, const void* data, size_t size) {
  size_t take = size;
  {
    common::MutexLock lock(&mu_);
    if (maxWrite_ > 0) take = std::min(take, maxWrite_);
    if (room_ >= 0)
      take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(take), room_));
    if (take == 0) {
      ++failedWrites_;
      return 0;
    }
  }
  const size_t written = file_.writeAt(pos, data, take);
  common::MutexLock lock(&mu_);
  if (room_ >= 0) room_ -= static_cast<int64_t>(written);
  if (written < size) ++shortWrites_;
  return written;
}

void FaultyDownloadFile::shortenWritesTo(size_t bytes) {
  common::MutexLock lock(&mu_);
  maxWrite_ = bytes;
}

void FaultyDownloadFile::fillDiskAfter(int64_t bytes) {
  common::MutexLock lock(&mu_);
  room_ = bytes;
}

void FaultyDownloadFile::clearFaults() {
  common::MutexLock lock(&mu_);
  maxWrite_ = 0;
  room_ = -1;
}

int FaultyDownloadFile::shortWrites() const {
  common::MutexLock lock(&mu_);
  return shortWrites_;
}

int FaultyDownloadFile::failedWrites() const {
  common::MutexLock lock(&mu_);
  return failedWrites_;
}

}  // namespace testing_support
