#include "engine/download_thread.h"

#include <chrono>
#include <thread>

#include "common/log.h"
#include "common/events.h"
#include "platform/process.h"

namespace engine {

CDownloadThread::CDownloadThread(platform::NamedMutex* fileMutex, platform::IDownloadFile* file,
                                 const std::atomic<bool>* abort,
                                 const std::vector<std::unique_ptr<CTask>>* tasks,
                                 std::atomic<bool>* remoteChanged)
    : CThread(fileMutex), file_(file), abort_(abort), tasks_(tasks), remoteChanged_(remoteChanged) {
  if (!curl_.valid()) LOG(INFO) << "  m_pCurl init error !!!";
}

int64_t CDownloadThread::lowerRunEnd(int64_t last) {
  int64_t had = runEnd_.load();
  while (had > last && !runEnd_.compare_exchange_weak(had, last)) {
  }
  return had;
}

bool CDownloadThread::followsInList(const CTask* task) const {
  const int64_t index = int64_t(task->id.load()) - 1;
  return tasks_ != nullptr && index >= 0 && index < int64_t(tasks_->size()) &&
         (*tasks_)[size_t(index)].get() == task;
}

int64_t CDownloadThread::requestEnd(const CTask* task) const {
  const int64_t last = runEnd_.load();
  if (!followsInList(task) || last < task->id.load() || last >= int64_t(tasks_->size())) {
    return task->end();
  }
  return (*tasks_)[size_t(last)]->end();
}

CTask* CDownloadThread::enterNextSegment() {
  CTask* current = currentTask();
  if (current == nullptr || current->isLastSegment() || !followsInList(current)) return nullptr;
  const int64_t next = current->id.load();  // the index after the current one
  if (next >= int64_t(tasks_->size()) || next > runEnd_.load()) return nullptr;
  CTask* task = (*tasks_)[size_t(next)].get();
  if (task->start() > transfer_.requestedTo || !task->claim()) return nullptr;
  // A segment with bytes in it resumes from its own position in a request
  // of its own; this response is at its first byte.
  if (!task->untouched()) {
    task->status.store(kTaskWaiting);
    return nullptr;
  }
  if (current->status.load() != kTaskComplete) segmentFilled(current);
  // The segment's bytes come from the response that delivered the one
  // before it, so it was served by the same CDN.
  task->segmentCdn = current->segmentCdn;
  if (task->logFlag) {
    LOG(INFO) << " Tasks info, download begin, id = " << task->id.load()
              << ", task status = " << task->status.load() << ", thread status = " << status();
  }
  moveToTask(task);
  transfer_.reachedEnd = false;
  return task;
}

void CDownloadThread::segmentFilled(CTask* task) {
  task->status.exchange(kTaskComplete);
  if (task->logFlag) {
    LOG(INFO) << " Tasks info, download success(" << 0 << "), id = " << task->id.load()
              << ", reqTime = " << task->requestTimes;
  }
}

int CDownloadThread::taskBusiness() {
  CTask* task = currentTask();
  if (task == nullptr) return 1;
  // The last segment is whole once its downloaded position reaches its
  // end. For any other segment that position is also the one of a last byte
  // that may still be missing, so it is fetched again rather than assumed.
  if (task->downloaded() == task->end() && task->isLastSegment()) {
    task->status.exchange(kTaskComplete);
    return 1;
  }
  transfer_ = SegmentTransfer{};
  const int result = curl_.httpDownloadContent(task->remotePath.c_str(), task->downloaded(),
                                               requestEnd(task), 0, this);
  finishAttempt(result);
  return 1;
}

void CDownloadThread::finishAttempt(int result) {
  // The segment the request stopped in; those before it in the run were
  // completed as their last bytes came in.
  CTask* task = currentTask();
  if (task->status.load() == kTaskComplete) return;
  const bool whole = task->isLastSegment() ? task->downloaded() == task->end()
                                           : transfer_.reachedEnd;
  if ((result == 0 || transfer_.endedAtBoundary) && whole) {
    task->status.exchange(kTaskComplete);
    if (task->logFlag) {
      LOG(INFO) << " Tasks info, download success(" << result << "), id = " << task->id.load()
                << ", reqTime = " << task->requestTimes;
    }
    return;
  }
  ++task->requestTimes;
  // A request cut while bytes flowed (the low-speed limit on a slow link, a
  // dropped connection, a stop) is worth making again from where it
  // stopped, in this run; one that brought nothing would only fail again.
  task->status.exchange(transfer_.bytesWritten > 0 ? kTaskWaiting : kTaskFailed);
  if (task->logFlag) {
    LOG(INFO) << " Tasks info, download fail(" << result << "), id = " << task->id.load()
              << ", reqTime = " << task->requestTimes;
  }
}

CDownloadThreadManager::CDownloadThreadManager(const std::string& localPath,
                                               const std::atomic<bool>* abort,
                                               std::atomic<bool>* remoteChanged,
                                               platform::IDownloadFile* file)
    : file_(file != nullptr ? file : &diskFile_),
      localPath_(localPath),
      abort_(abort),
      remoteChanged_(remoteChanged) {}

int CDownloadThreadManager::giveRun(CTask* first, int64_t last) {
  CThread* w = getOneFreeThreads();
  if (w == nullptr) {
    LOG(INFO) << "get free thread is null" << (first ? first->id.load() : 0);
    return 0;
  }
  // Every worker of this pool is a download worker (createThreads).
  static_cast<CDownloadThread*>(w)->setRunEnd(last);
  w->doTask(first);
  busy_.push_back(w);
  return 1;
}

CDownloadThreadManager::~CDownloadThreadManager() {
  // Workers reach the file through their tasks' callbacks: stop them before
  // the file goes.
  shutdownThreads();
  file_->close();
}

int CDownloadThreadManager::endProcessesHoldingFile() {
  int ended = 0;
  for (const platform::ProcessInfo& p : platform::listProcesses()) {
    if (p.exePath != localPath_ || p.pid == platform::currentProcessId()) continue;
    if (platform::killProcess(p.pid) == platform::PlatformResult::kOk) ++ended;
  }
  return ended;
}

int CDownloadThreadManager::createThreads(int n) {
  int err = file_->open(localPath_);
  if (err != 0) {
    LOG(INFO) << "local file is NULL error code = " << err;
    if (err == platform::DownloadFile::kSharingViolation) {
      endProcessesHoldingFile();
      err = file_->open(localPath_);
      // A killed process lets go of its image only once the kernel has torn
      // it down, a moment after the kill returns.
      for (int i = 0; i < 200 && err == platform::DownloadFile::kSharingViolation; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        err = file_->open(localPath_);
      }
    }
  }
  if (err != 0) {
    LOG(INFO) << "after kill local file is NULL error code = " << err;
    common::Events().Event("Other", "OpenFileErrCode", std::to_string(err), false);
    return -1;
  }
  LOG(INFO) << " Create threads and init: " << n;
  for (int i = 0; i < n; ++i)
    adoptWorker(
        std::make_unique<CDownloadThread>(&fileMutex_, file_, abort_, tasks_, remoteChanged_));
  return static_cast<int>(handles_.size());
}

}  // namespace engine
