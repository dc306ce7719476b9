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

// What the download engine needs of its file. The engine is given one
// (DownloadFile unless a caller brings its own), so a test can put a file
// in between that writes short or finds the disk full.
class IDownloadFile {
 public:
  virtual ~IDownloadFile() = default;

  // Opens `path` for update: an existing file keeps its bytes ("rb+"), a
  // missing one is created ("wb+"). Returns 0 on success, else the error
  // number. kSharingViolation means another process holds the file (on
  // this system: it is the running image of a process).
  [[nodiscard]] virtual int open(const std::string& path) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  // Writes `size` bytes at byte offset `pos` with one call. Returns the
  // number written (possibly short), 0 on error (a full disk among them).
  [[nodiscard]] virtual size_t writeAt(int64_t pos, const void* data, size_t size) = 0;

  static constexpr int kSharingViolation = 32;
};

// The file on disk.
class DownloadFile final : public IDownloadFile {
 public:
  DownloadFile() = default;
  ~DownloadFile() override;
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  [[nodiscard]] int open(const std::string& path) override;
  void close() override;
  bool isOpen() const override { return handle_ != kClosed; }
  [[nodiscard]] size_t writeAt(int64_t pos, const void* data, size_t size) override;

 private:
  // A file descriptor or a Windows HANDLE; both fit an intptr_t, and -1 is
  // "none" for both (INVALID_HANDLE_VALUE on Windows).
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
};

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_DOWNLOAD_FILE_H_
