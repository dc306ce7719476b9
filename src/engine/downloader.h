#ifndef WEBSETUP_ENGINE_DOWNLOADER_H_
#define WEBSETUP_ENGINE_DOWNLOADER_H_

// One segmented download: the task manager, the worker pool and the driver
// thread that hands segments to idle workers, keeps the progress record and
// saves the task file.

#include <atomic>
#include <cstdint>
#include <string>

#include "common/mutex.h"
#include "engine/download_task_manager.h"
#include "engine/download_thread.h"
#include "engine/error_code.h"
#include "engine/thread.h"

namespace engine {

// Run state values.
enum : int32_t {
  kRunStop = 0,
  kRunRunning = 1,
  kRunIdle = 2,
};

struct CProgress {
  uint32_t tick = 0;        // tickCount() of the last update
  int64_t downloaded = 0;   // sum over tasks of (downloaded - start + 1)
  double percent = 0;       // truncated to two decimals
  int64_t elapsed = 0;      // download time over all runs, ms
  int32_t requestTimes = 0;

  // Bytes per second: (downloaded / elapsed) * 1000, 0 when elapsed is 0.
  int64_t averageSpeed() const { return elapsed == 0 ? 0 : downloaded / elapsed * 1000; }
};

// Owned by one owner thread (the download routine); the driver thread runs
// inside. The owner writes the run state (1 start, 0 stop), reads progress()
// and started(), and after the driver thread has ended calls reset() before
// destroying the object.
class CDownloader {
 public:
  // The workers write into `file` (null: the file at `localPath` on disk),
  // which must outlive the downloader.
  CDownloader(const std::string& remotePath, const std::string& localPath,
              const std::string& taskFilePath, int threadCount,
              platform::IDownloadFile* file = nullptr);
  ~CDownloader();
  CDownloader(const CDownloader&) = delete;
  CDownloader& operator=(const CDownloader&) = delete;

  // Loads or generates the segments and starts the workers. Returns an
  // EnumErrorCode: 1, or 6, 7, 8, 13.
  [[nodiscard]] int downloadInit(int flag, const std::string& label, int logFlag);

  void setRunState(int32_t state) { runState_.store(state); }
  // Ends every segment request in flight at once (any stop by the owner);
  // the stopped segments resume from the task file next time.
  void abortTransfers() { abort_.store(true); }
  // True once a segment answer came from another version of the file than
  // the one being downloaded (its validator changed).
  bool remoteChanged() const { return remoteChanged_.load(); }
  int32_t runState() const { return runState_.load(); }
  // Waits at most `ms` for the driver thread. True when it has ended.
  [[nodiscard]] bool waitDriver(uint32_t ms) { return driver_.waitFor(ms); }

  CProgress progress() const;
  bool started() const { return started_.load(); }
  // "T(<probe CDN>);C(<segment CDN>;...)" over the handed tasks, or empty.
  // Call after the driver thread has ended.
  std::string getCdnInfo() const;
  // Recomputes the progress record. Driver thread, or the owner after the
  // driver has ended.
  int updateDownloadInfo();
  // Releases the run's tasks, file and threads. The driver thread must
  // have ended.
  int reset();

  CDownloadTaskManager& taskManager() { return tasks_; }
  CDownloadThreadManager& pool() { return pool_; }

 private:
  void downloaderThread();
  bool allHandedComplete() const;
  // Gives every idle worker a run of waiting segments (segment_plan.h).
  void dispatch();

  std::string remotePath_;
  std::string localPath_;
  std::string taskFilePath_;
  int threadCount_;
  std::atomic<int32_t> runState_{kRunIdle};
  std::atomic<bool> abort_{false};  // before pool_, which hands it to workers
  std::atomic<bool> remoteChanged_{false};  // likewise
  std::atomic<bool> started_{false};
  mutable common::Mutex progressMu_;
  CProgress progress_ GUARDED_BY(progressMu_);
  CDownloadTaskManager tasks_;
  CDownloadThreadManager pool_;
  CThreadHandle driver_;  // last: started once everything above exists
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_DOWNLOADER_H_
