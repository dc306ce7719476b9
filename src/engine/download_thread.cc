#include "engine/download_thread.h"

#include <chrono>
#include <thread>

#include "common/log.h"
#include "common/events.h"
#include "platform/process.h"

namespace engine {

CDownloadThread::CDownloadThread(platform::NamedMutex* fileMutex, platform::DownloadFile* file,
                                 const std::atomic<bool>* abort)
    : CThread(fileMutex), file_(file), abort_(abort) {
  if (!curl_.valid()) LOG(INFO) << "  m_pCurl init error !!!";
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
                                               task->end(), 0, this);
  const bool whole = task->isLastSegment() ? task->downloaded() == task->end()
                                           : transfer_.reachedEnd;
  if (result == 0 && whole) {
    task->status.exchange(kTaskComplete);
    if (task->logFlag) {
      LOG(INFO) << " Tasks info, download success(" << result << "), id = " << task->id.load()
                << ", reqTime = " << task->requestTimes;
    }
  } else {
    ++task->requestTimes;
    task->status.exchange(kTaskFailed);
    if (task->logFlag) {
      LOG(INFO) << " Tasks info, download fail(" << result << "), id = " << task->id.load()
                << ", reqTime = " << task->requestTimes;
    }
  }
  return 1;
}

CDownloadThreadManager::CDownloadThreadManager(const std::string& localPath,
                                               const std::atomic<bool>* abort)
    : localPath_(localPath), abort_(abort) {}

CDownloadThreadManager::~CDownloadThreadManager() {
  // Workers reach the file through their tasks' callbacks: stop them before
  // the file goes.
  shutdownThreads();
  file_.close();
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
  int err = file_.open(localPath_);
  if (err != 0) {
    LOG(INFO) << "local file is NULL error code = " << err;
    if (err == platform::DownloadFile::kSharingViolation) {
      endProcessesHoldingFile();
      err = file_.open(localPath_);
      // A killed process lets go of its image only once the kernel has torn
      // it down, a moment after the kill returns.
      for (int i = 0; i < 200 && err == platform::DownloadFile::kSharingViolation; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        err = file_.open(localPath_);
      }
    }
  }
  if (err != 0) {
    LOG(INFO) << "after kill local file is NULL error code = " << err;
    common::Events().Event("Other", "OpenFileErrCode", std::to_string(err), false);
    return -1;
  }
  LOG(INFO) << " Create threads and init: " << n;
  for (int i = 0; i < n; ++i) adoptWorker(std::make_unique<CDownloadThread>(&fileMutex_, &file_, abort_));
  return static_cast<int>(handles_.size());
}

}  // namespace engine
