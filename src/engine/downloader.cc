#include "engine/downloader.h"

#include <chrono>
#include <algorithm>
#include <cmath>
#include <thread>

#include "common/log.h"
#include "engine/segment_plan.h"
#include "platform/clock.h"

namespace engine {
namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

constexpr int kRunningPassMs = 5;

}  // namespace

CDownloader::CDownloader(const std::string& remotePath, const std::string& localPath,
                         const std::string& taskFilePath, int threadCount,
                         platform::IDownloadFile* file)
    : remotePath_(remotePath),
      localPath_(localPath),
      taskFilePath_(taskFilePath),
      threadCount_(threadCount),
      tasks_(remotePath, localPath, taskFilePath),
      pool_(localPath, &abort_, &remoteChanged_, file) {
  {
    common::MutexLock lock(&progressMu_);
    progress_.tick = platform::tickCount();
  }
  if (!driver_.start([this] { downloaderThread(); })) {
    LOG(INFO) << "  creat thread error code =  " << errno;
  }
}

CDownloader::~CDownloader() {
  // An owner that skipped the stop still must not leave the driver running
  // on a dead object.
  if (driver_.started() && !driver_.waitFor(0)) {
    abort_.store(true);
    runState_.store(kRunStop);
    driver_.waitFor(180000);
  }
  driver_.close();
}

int CDownloader::downloadInit(int flag, const std::string& label, int logFlag) {
  const int r = tasks_.loadDownloadTask(flag, label, logFlag);
  if (r != kErrSuccess) {
    LOG(INFO) << " [Error]: " << "error to loadDownloadTask";
    return r;
  }
  pool_.setTasks(&tasks_.allTasks());
  const int n = pool_.createThreads(threadCount_);
  if (n == -1) return kErrFileNotOpened;
  if (n == 0) {
    LOG(INFO) << " [Error]: " << " createThreads is empty";
    return kErrNoWorkerThread;
  }
  started_.store(false);
  return kErrSuccess;
}

bool CDownloader::allHandedComplete() const {
  for (const CTask* t : tasks_.handedTasks()) {
    if (t->status.load() != kTaskComplete) return false;
  }
  return true;
}

void CDownloader::downloaderThread() {
  double saves = 0;
  for (;;) {
    const int32_t state = runState_.load();
    if (state == kRunStop) {
      if (pool_.busyCount() == 0) break;
      pool_.recycleThreads();
      updateDownloadInfo();
      // Workers finish within their transfer limit; polling them every
      // millisecond costs nothing noticeable and spares a core.
      sleepMs(1);
      continue;
    }
    if (state == kRunIdle) {
      sleepMs(1);
      continue;
    }
    if (state != kRunRunning) continue;

    if (progress().percent / 10 > saves) {
      saves += 1;
      tasks_.saveTaskToFile();
    }
    tasks_.listClaimedTasks();
    if (tasks_.waitingCount() == 0 && allHandedComplete() && pool_.busyCount() == 0) {
      runState_.store(kRunStop);
      sleepMs(100);
      LOG(INFO) << " Download will stop";
      continue;
    }
    started_.store(true);
    pool_.recycleThreads();
    updateDownloadInfo();
    dispatch();
    // With runs of many segments a worker comes back for work a few times
    // per download, not every 4 MiB, so a pass every few milliseconds
    // hands out as promptly as one a millisecond did, at a fraction of the
    // wake-ups (those were most of the engine's CPU on a slow link).
    sleepMs(kRunningPassMs);
  }

  bool unfinished = false;
  for (const auto& t : tasks_.allTasks()) unfinished |= t->status.load() != kTaskComplete;
  if (unfinished) {
    LOG(INFO) << " Stopping Download," << "Mission Failed";
    tasks_.saveTaskToFile();
  }
  pool_.stopThreads();
  updateDownloadInfo();
  LOG(INFO) << " Stopping Download," << "Update DownloadInfo";
  tasks_.saveTaskToFile();
  LOG(INFO) << " Download Stopped！";
}

void CDownloader::dispatch() {
  const size_t idle = pool_.freeCount();
  if (idle == 0 || tasks_.waitingCount() == 0) return;
  const auto& all = tasks_.allTasks();
  std::vector<SegmentView> views(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    views[i].waiting = all[i]->status.load() == kTaskWaiting;
    views[i].untouched = all[i]->untouched();
  }
  // What each busy worker's run will still reach after its current segment.
  std::vector<CDownloadThread*> holders;
  for (CThread* w : pool_.busyWorkers()) {
    auto* worker = static_cast<CDownloadThread*>(w);  // the pool makes no other kind
    const CTask* current = worker->currentTask();
    if (current == nullptr) continue;
    const int64_t last = std::min<int64_t>(worker->runEnd(), int64_t(all.size()) - 1);
    for (int64_t i = current->id.load(); i >= 1 && i <= last; ++i) {
      views[size_t(i)].reservedBy = static_cast<int>(holders.size());
    }
    holders.push_back(worker);
  }
  for (const PlannedRun& run : planRuns(views, idle)) {
    CTask* first = all[run.first].get();
    CDownloadThread* victim = run.victim >= 0 ? holders[size_t(run.victim)] : nullptr;
    // The victim must stop before `first` before anyone else may start
    // there; whichever of the two claims `first` has it.
    const int64_t cutAt = int64_t(run.first) - 1;
    const int64_t had = victim != nullptr ? victim->lowerRunEnd(cutAt) : -1;
    if (!tasks_.takeThisTask(first)) {
      if (victim != nullptr) victim->restoreRunEnd(cutAt, had);
      continue;
    }
    if (pool_.giveRun(first, int64_t(run.last)) == 0) {
      // No worker took the run after all: its first segment waits for the
      // next pass instead of staying claimed by nobody, and the victim
      // keeps the segments it had.
      first->status.store(kTaskWaiting);
      if (victim != nullptr) victim->restoreRunEnd(cutAt, had);
    }
  }
}

int CDownloader::updateDownloadInfo() {
  const uint32_t now = platform::tickCount();
  int64_t downloaded = 0;
  int32_t requests = 0;
  for (const auto& t : tasks_.allTasks()) {
    downloaded += t->downloaded() - t->start() + 1;
    requests += t->requestTimes.load();
  }
  common::MutexLock lock(&progressMu_);
  if (now == progress_.tick) return 1;
  const int32_t delta = static_cast<int32_t>(now - progress_.tick);
  tasks_.addDownloadTime(delta);
  CProgress next;
  next.tick = now;
  next.downloaded = downloaded;
  next.elapsed = tasks_.downloadTime();
  const int64_t length = tasks_.contentLength();
  next.percent = length == 0 ? 0 : std::trunc(double(downloaded) / double(length) * 10000) / 100;
  next.requestTimes = requests;
  progress_ = next;
  return 1;
}

CProgress CDownloader::progress() const {
  common::MutexLock lock(&progressMu_);
  return progress_;
}

std::string CDownloader::getCdnInfo() const {
  std::string probe;
  std::string segments;
  for (const CTask* t : tasks_.handedTasks()) {
    probe = t->probeCdn;
    if (!t->segmentCdn.empty()) segments += t->segmentCdn + ";";
  }
  if (segments.empty()) return std::string();
  return "T(" + probe + ");C(" + segments + ")";
}

int CDownloader::reset() {
  tasks_.clearTasks();
  pool_.closeFile();
  pool_.releaseThreads();
  runState_.store(kRunIdle);
  {
    common::MutexLock lock(&progressMu_);
    progress_.tick = platform::tickCount();
  }
  driver_.close();
  return 1;
}

}  // namespace engine
