#ifndef WEBSETUP_ENGINE_DOWNLOAD_THREAD_H_
#define WEBSETUP_ENGINE_DOWNLOAD_THREAD_H_

// The download pool and its workers: the pool opens the one download file
// all workers share; each worker fetches one segment at a time with a
// ranged request.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/download_file.h"
#include "engine/libcurl_tool.h"
#include "engine/thread.h"

namespace engine {

// What the callbacks learn about the response of the segment request in
// flight. Touched only by the worker's own thread.
struct SegmentTransfer {
  int64_t requestedFrom = 0;
  long status = 0;         // of the latest response's status line
  int64_t rangeStart = -1; // first position of its Content-Range, -1 if none
  bool bodyChecked = false;
  bool rejected = false;
  // For a segment that is not the last: the byte at its end position is
  // written. Its downloaded position then equals its end position, which
  // it also does while that one byte is still missing.
  bool reachedEnd = false;
};

// A download worker. Owned by its pool; taskBusiness runs on its thread.
class CDownloadThread : public CThread {
 public:
  // `abort`, when given, ends the worker's transfer in flight as soon as
  // it reads true (the owner stops the whole download).
  CDownloadThread(platform::NamedMutex* fileMutex, platform::DownloadFile* file,
                  const std::atomic<bool>* abort = nullptr);

  // Fetches the current task's missing bytes and marks it complete (1) or
  // failed (2). Returns 1.
  int taskBusiness() override;

  platform::DownloadFile* file() { return file_; }
  SegmentTransfer& transfer() { return transfer_; }
  CLibcurlTool& curlTool() { return curl_; }
  bool aborted() const { return abort_ != nullptr && abort_->load(std::memory_order_relaxed); }

 private:
  platform::DownloadFile* file_;
  const std::atomic<bool>* abort_;
  CLibcurlTool curl_;
  SegmentTransfer transfer_;
};

// The pool of one download. Driver thread only.
class CDownloadThreadManager : public CThreadManager {
 public:
  // Workers end their transfers when `abort` reads true (may be null).
  CDownloadThreadManager(const std::string& localPath, const std::atomic<bool>* abort = nullptr);
  ~CDownloadThreadManager() override;

  // Opens the download file and starts `n` workers. Returns the number
  // started, or -1 when the file cannot be opened.
  int createThreads(int n) override;
  void closeFile() { file_.close(); }

 private:
  // Ends the processes whose image is the download file. Returns how many.
  int endProcessesHoldingFile();

  platform::DownloadFile file_;
  std::string localPath_;
  const std::atomic<bool>* abort_;
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_DOWNLOAD_THREAD_H_
