#ifndef WEBSETUP_ENGINE_DOWNLOAD_TASK_MANAGER_H_
#define WEBSETUP_ENGINE_DOWNLOAD_TASK_MANAGER_H_

// Sizing a download, cutting it into segments, and the task file through
// which a later run resumes it.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/error_code.h"
#include "engine/task_manager.h"

namespace engine {

constexpr int64_t kSegmentSize = 4194304;
// Limits on what a task file or a size probe may claim. No installer comes
// near a tebibyte, and a claim beyond it would lay out segments by the
// million (or more than memory holds).
constexpr int64_t kMaxContentLength = int64_t(1) << 40;
constexpr int64_t kMaxSegments = int64_t(1) << 18;

struct SegmentBounds {
  int64_t start;
  int64_t end;  // inclusive, except the last: the content length
};

// The segments of a file of `contentLength` bytes: 4 MiB each, at least
// one, the last taking the remainder.
std::vector<SegmentBounds> segmentLayout(int64_t contentLength);

// What a header probe's text says, by the header names the probe knows.
struct ProbeAnswer {
  bool cloudflare = false;  // CF-Cache-Status and CF-RAY with a ray id
  std::string cfCacheStatus;  // with its leading blank
  std::string cfDataCentre;
  bool xCache = false;
  std::string xCacheText;
  bool hasLocation = false;
  std::string location;
  bool hasLength = false;  // a Content-Range or Content-Length line
  int64_t length = 0;
  // The final response's strong ETag, else its Last-Modified text; empty
  // when it has neither (a weak ETag cannot be used in If-Range).
  std::string validator;
};
ProbeAnswer readProbeAnswer(const std::string& headers);

// The segments of one download and its task file. Lives inside its
// CDownloader; used by the caller of downloadInit, then the driver thread.
class CDownloadTaskManager : public CTaskManager {
 public:
  CDownloadTaskManager(const std::string& remotePath, const std::string& localPath,
                       const std::string& taskFilePath);

  // Resumes from the task file when it is sound, else probes the size and
  // generates fresh segments. Returns an EnumErrorCode; when a task file
  // exists but the server gives no size, both files stay for a later run
  // and the result is 6 (or 13).
  [[nodiscard]] int loadDownloadTask(int flag, const std::string& label, int logFlag);
  [[nodiscard]] int generateDownloadTask(int flag, const std::string& label, int logFlag);
  // The size of the remote file (from this process's cache, else probed),
  // 0 on failure or when it exceeds kMaxContentLength. *code receives the
  // libcurl result of the last request, *cdn the probe's CDN text.
  [[nodiscard]] int64_t getContentLength(int* code, std::string* cdn, int logFlag);
  // Reads the task file into the lists. True only when no loaded task
  // carried a TaskStatus element. A number out of bounds (a length above
  // kMaxContentLength, a negative position or time, more than kMaxSegments
  // tasks) stops the reading and fails the next checkLoadedTasks as DL026.
  bool loadTaskFromFile(int logFlag);
  // Writes the task file. Returns 1 in every case.
  int saveTaskToFile();
  // Checks loaded tasks against the remote file: 1 sound, 2 size changed
  // (DL025), 3 segments misplaced or out of bounds (DL026), 6 (13 for a
  // redirect loop) when the server gave no size. The size is one a server
  // gave in this process: the task file's own claim is never taken as the
  // remote size.
  [[nodiscard]] int checkLoadedTasks(int logFlag);
  bool taskFileExists() const;

  // The task file's text for the current state.
  std::string taskFileText() const;

  int64_t contentLength() const { return contentLength_; }
  // The file's validator from the probe or the task file; empty if none.
  const std::string& validator() const { return validator_; }
  int64_t downloadTime() const { return downloadTime_; }
  void addDownloadTime(int64_t ms) { downloadTime_ += ms; }
  const std::string& remotePath() const { return remotePath_; }
  const std::string& localPath() const { return localPath_; }
  const std::string& taskFilePath() const { return taskFilePath_; }

 private:
  // True when the download file holds at least every byte the loaded tasks
  // claim to have written.
  bool localFileHoldsTasks() const;
  void discardTaskFile();

  std::string taskFilePath_;
  std::string remotePath_;
  std::string localPath_;
  int64_t contentLength_ = 0;
  int64_t downloadTime_ = 0;
  std::string validator_;
  // Cleared by loadTaskFromFile when the file held a number out of bounds.
  bool loadedInBounds_ = true;
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_DOWNLOAD_TASK_MANAGER_H_
