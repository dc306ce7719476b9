#ifndef WEBSETUP_ENGINE_TASK_H_
#define WEBSETUP_ENGINE_TASK_H_

#include <atomic>
#include <cstdint>
#include <string>

namespace engine {

// Task status values.
enum : int32_t {
  kTaskWaiting = 0,
  kTaskComplete = 1,
  kTaskFailed = 2,
  kTaskHanded = 3,
};

// One segment of one download. Owned by its task manager. Status and id are
// shared between the driver and a worker; the positions are written by the
// one worker holding the task and read by the driver for progress, so they
// are atomics too (relaxed: a stale progress figure is harmless). The
// strings belong to the holding worker while the task is handed out.
struct CTask {
  std::atomic<int32_t> status{kTaskWaiting};
  std::atomic<int32_t> id{0};
  int32_t logFlag = 0;
  std::string remotePath;
  std::string localPath;
  std::string probeCdn;    // CDN text found by the content-length probe
  std::string segmentCdn;  // CDN values seen in this segment's responses
  // The server's validator of the file (its ETag, else its Last-Modified
  // text); empty when the server gave none. Sent as If-Range, so bytes of
  // another version of the file are never mixed into this one.
  std::string validator;
  // Driver only: the task is on the handed list (set once).
  bool listedHanded = false;
  std::atomic<int64_t> startPos{0};
  // Last byte of the segment (inclusive); the content length for the last
  // segment of a file.
  std::atomic<int64_t> endPos{0};
  // Next byte to fetch; equal to endPos once the segment is complete.
  std::atomic<int64_t> downloadedPos{0};
  std::atomic<int64_t> contentLength{0};
  std::atomic<int32_t> requestTimes{0};  // failed attempts in this run

  // Status 0 also marks the only tasks a worker or the driver may claim;
  // a claim is this exchange, so two never hold one task.
  bool claim() {
    int32_t waiting = kTaskWaiting;
    return status.compare_exchange_strong(waiting, kTaskHanded);
  }
  // Nothing of the segment has been written yet.
  bool untouched() const { return downloaded() == start(); }

  int64_t start() const { return startPos.load(std::memory_order_relaxed); }
  int64_t end() const { return endPos.load(std::memory_order_relaxed); }
  int64_t downloaded() const { return downloadedPos.load(std::memory_order_relaxed); }
  int64_t length() const { return contentLength.load(std::memory_order_relaxed); }
  // The last segment ends at the content length itself, one past its last
  // byte; every other segment ends on its last byte.
  bool isLastSegment() const { return end() == length(); }
  // One past the last byte this segment may write.
  int64_t writeLimit() const { return isLastSegment() ? end() : end() + 1; }
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_TASK_H_
