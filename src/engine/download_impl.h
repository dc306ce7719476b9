#ifndef WEBSETUP_ENGINE_DOWNLOAD_IMPL_H_
#define WEBSETUP_ENGINE_DOWNLOAD_IMPL_H_

// The two calls through which the rest of the setup uses the engine:
// download one URL to one file, and check a file's MD5.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {
class IDownloadFile;
}  // namespace platform

namespace engine {

// How one download runs and whom it tells.
struct DownloadOptions {
  int threadCount = 0;  // 0: the processor-based default
  // A download that reports progress: the callback gets (downloaded,
  // total) bytes on the calling thread, many times a second, and the
  // download also logs per segment and refuses a file under 1 MiB (a real
  // installer is never that small). Empty: a quiet download (banners).
  std::function<void(int64_t downloaded, int64_t total)> onProgress;
  // Set by any thread to end the download within a second (the window
  // closed); the call then returns kErrStopped, the task file kept.
  const std::atomic<bool>* stop = nullptr;
  // The file the workers write into; null: the file at the local path on
  // disk. A caller's own must outlive the call.
  platform::IDownloadFile* file = nullptr;
  // How long the download may go without a new byte before it ends with
  // kErrNoProgress.
  std::chrono::milliseconds stallLimit{60000};
};

// Figures of a finished download, for front ends that print them.
struct DownloadStats {
  int64_t contentLength = 0;
  int64_t downloaded = 0;
  int64_t elapsedMs = 0;       // download time summed over runs
  double averageMBps = 0;      // as logged: truncated to two decimals
  double fastestMBps = 0;
  double slowestMBps = 102400.0;
  bool fetchedSegments = false;  // false: everything was already on disk
};

class CDownLoadImpl {
 public:
  // Downloads `url` to `localPath`, resuming from localPath + ".xml".
  // Blocks until the download ends. *cdnInfo receives the CDN summary on
  // the exits that produce one. Returns an EnumErrorCode: 1 success;
  // 6, 7, 8, 13 from the set-up; 9 network down; 10 no progress for 60 s;
  // 12 fewer bytes than the content length; 15 a reported download smaller
  // than 1 MiB; 16 stopped through options.stop. Thread-safe; calls for
  // different files may run at once.
  [[nodiscard]] static int32_t SuperDownloadFile(const std::wstring& url,
                                                 const std::wstring& localPath,
                                                 std::string* cdnInfo,
                                                 const DownloadOptions& options = {},
                                                 DownloadStats* stats = nullptr);

  // Hashes `filePath`, writes the hash record filePath + ".db" (label,
  // "###", digest) and returns 1 when the digest equals `md5` or `md5Extra`
  // exactly, else 0. A file that cannot be read hashes as no bytes. The
  // bytes are read through `readPath` when given (a held file's path).
  [[nodiscard]] static int checkMD5(const std::wstring& filePath, const std::wstring& md5,
                                    const std::wstring& md5Extra, const std::wstring& label,
                                    const std::string& readPath = "");

  // The 32 lower-case hexadecimal digits of the file's MD5 (of no bytes
  // when it cannot be read).
  static std::string fileMd5(const std::string& path);

  // Processor count x 8 / 5, at least 4.
  static int defaultThreadCount();
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_DOWNLOAD_IMPL_H_
