#ifndef WEBSETUP_ENGINE_DOWNLOAD_THREAD_H_
#define WEBSETUP_ENGINE_DOWNLOAD_THREAD_H_

// The download pool and its workers: the pool opens the one download file
// all workers share; each worker fetches one segment at a time with a
// ranged request.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/download_file.h"
#include "engine/libcurl_tool.h"
#include "engine/thread.h"

namespace engine {

// What the callbacks learn about the response of the segment request in
// flight. Touched only by the worker's own thread.
struct SegmentTransfer {
  int64_t requestedFrom = 0;
  // Last position asked for; past the current segment's end when the
  // request runs on through the segments after it. -1: the segment's end.
  int64_t requestedTo = -1;
  long status = 0;         // of the latest response's status line
  int64_t rangeStart = -1; // first position of its Content-Range, -1 if none
  std::string etag;        // its ETag and Last-Modified, as sent
  std::string lastModified;
  bool ifRangeSent = false;
  bool bodyChecked = false;
  bool rejected = false;
  // For a segment that is not the last: the byte at its end position is
  // written. Its downloaded position then equals its end position, which
  // it also does while that one byte is still missing.
  bool reachedEnd = false;
  // The request ran on past a whole segment into one it may not enter
  // (another worker holds it): the transfer was ended on purpose.
  bool endedAtBoundary = false;
  int64_t bytesWritten = 0;  // by this request, over all its segments
};

// A download worker. Owned by its pool; taskBusiness runs on its thread.
// Its request starts at the current task and may run on through the
// following segments up to the run end the driver gave it; the driver may
// lower that end (to hand the rest to an idle worker) while it runs.
class CDownloadThread : public CThread {
 public:
  // `abort`, when given, ends the worker's transfer in flight as soon as
  // it reads true (the owner stops the whole download). `tasks`, when
  // given, are the file's segments in order (task id i at index i - 1),
  // which the worker's run may continue into. `remoteChanged` is set when
  // an answer comes from another version of the file.
  CDownloadThread(platform::NamedMutex* fileMutex, platform::IDownloadFile* file,
                  const std::atomic<bool>* abort = nullptr,
                  const std::vector<std::unique_ptr<CTask>>* tasks = nullptr,
                  std::atomic<bool>* remoteChanged = nullptr);

  // Fetches the current task's missing bytes, and those of the segments of
  // its run, marking each complete (1) as its last byte is written. The
  // segment the request stopped in ends complete, waiting again (the
  // attempt was cut but brought bytes: the driver hands it out again) or
  // failed (2, the attempt brought nothing). Returns 1.
  int taskBusiness() override;

  // Driver thread, before doTask: the run may reach segment index `last`.
  void setRunEnd(int64_t last) { runEnd_.store(last); }
  // Driver thread: the run must stop before segment index `last` + 1.
  // Returns the end it had.
  int64_t lowerRunEnd(int64_t last);
  // Driver thread: undoes lowerRunEnd(`lowered`) when the cut did not
  // happen, unless the end has changed since.
  void restoreRunEnd(int64_t lowered, int64_t had) { runEnd_.compare_exchange_strong(lowered, had); }
  int64_t runEnd() const { return runEnd_.load(); }

  // Write callback only. Called when the current middle segment is whole
  // and bytes for the next one arrive: claims that segment and makes it
  // the current task. Returns it, or null when the run may not go on.
  CTask* enterNextSegment();
  // Write callback only: the current segment's last byte is in and the
  // request goes on; the segment is complete now.
  void segmentFilled(CTask* task);
  void reportRemoteChanged() {
    if (remoteChanged_ != nullptr) remoteChanged_->store(true);
  }

  platform::IDownloadFile* file() { return file_; }
  SegmentTransfer& transfer() { return transfer_; }
  CLibcurlTool& curlTool() { return curl_; }
  bool aborted() const { return abort_ != nullptr && abort_->load(std::memory_order_relaxed); }

 private:
  // Where the request for `task` ends: the end of the last segment of the
  // run, or the task's own end.
  int64_t requestEnd(const CTask* task) const;
  void finishAttempt(int result);
  bool followsInList(const CTask* task) const;

  platform::IDownloadFile* file_;
  const std::atomic<bool>* abort_;
  const std::vector<std::unique_ptr<CTask>>* tasks_;
  std::atomic<bool>* remoteChanged_;
  std::atomic<int64_t> runEnd_{-1};
  CLibcurlTool curl_;
  SegmentTransfer transfer_;
};

// The pool of one download. Driver thread only.
class CDownloadThreadManager : public CThreadManager {
 public:
  // Workers end their transfers when `abort` reads true (may be null) and
  // set `remoteChanged` (may be null) on an answer from another version of
  // the file. They write into `file` (null: the pool's own file on disk),
  // which must outlive the pool.
  CDownloadThreadManager(const std::string& localPath, const std::atomic<bool>* abort = nullptr,
                         std::atomic<bool>* remoteChanged = nullptr,
                         platform::IDownloadFile* file = nullptr);
  ~CDownloadThreadManager() override;

  // The segments the workers' runs may continue into; set before
  // createThreads. They must outlive the workers.
  void setTasks(const std::vector<std::unique_ptr<CTask>>* tasks) { tasks_ = tasks; }
  // Opens the download file and starts `n` workers. Returns the number
  // started, or -1 when the file cannot be opened.
  [[nodiscard]] int createThreads(int n) override;
  // Gives a free worker the run from `first` to segment index `last`.
  // Returns 1, or 0 (logged) when none is free.
  [[nodiscard]] int giveRun(CTask* first, int64_t last);
  void closeFile() { file_->close(); }

 private:
  // Ends the processes whose image is the download file. Returns how many.
  int endProcessesHoldingFile();

  platform::DownloadFile diskFile_;
  platform::IDownloadFile* file_;
  std::string localPath_;
  const std::atomic<bool>* abort_;
  std::atomic<bool>* remoteChanged_;
  const std::vector<std::unique_ptr<CTask>>* tasks_ = nullptr;
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_DOWNLOAD_THREAD_H_
