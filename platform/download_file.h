#ifndef WEBSETUP_PLATFORM_DOWNLOAD_FILE_H_
#define WEBSETUP_PLATFORM_DOWNLOAD_FILE_H_

// The file a download writes into, shared by all workers of one download.
// Every write is one positioned write, so workers need no shared file
// position; callers still serialise writes through the machine-wide file
// mutex. Thread-safe for writeAt(); open/close belong to the pool.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class DownloadFile {
 public:
  DownloadFile() = default;
  ~DownloadFile();
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  // Opens `path` for update: an existing file keeps its bytes ("rb+"), a
  // missing one is created ("wb+"). Returns 0 on success, else the error
  // number. kSharingViolation means another process holds the file (on
  // this system: it is the running image of a process).
  int open(const std::string& path);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // Writes `size` bytes at byte offset `pos` with one call. Returns the
  // number written (possibly short), 0 on error.
  size_t writeAt(int64_t pos, const void* data, size_t size);

  static constexpr int kSharingViolation = 32;

 private:
  int fd_ = -1;
};

// Whether `path` can be opened for reading.
bool fileReadable(const std::string& path);
// The size of the file at `path`, or -1 when it cannot be read.
int64_t fileSize(const std::string& path);
// Removes the file at `path`. Returns true when it is gone.
bool deleteFile(const std::string& path);
// Replaces `path` with `content` through a temporary file and a rename, so
// a reader never sees half a file. Returns false on failure.
bool replaceFileAtomically(const std::string& path, const std::string& content);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_DOWNLOAD_FILE_H_
