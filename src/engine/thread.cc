#include "engine/thread.h"

#include <chrono>
#include <system_error>

#include "common/log.h"

namespace engine {

CThread::CThread(platform::NamedMutex* shared) : shared_(shared) {}

int CThread::init() {
  if (!handle_.start([this] { ThreadFunc(this); })) {
    LOG(INFO) << "  creat thread error code =  " << errno;
    return 0;
  }
  return 1;
}

int CThread::doTask(CTask* task) {
  task_.store(task);
  if (task->logFlag) {
    LOG(INFO) << " Tasks info, download begin, id = " << task->id.load()
              << ", task status = " << task->status.load() << ", thread status = " << status_.load();
  }
  status_.exchange(kThreadRun);
  wakeEvent_.set();
  return 1;
}

int CThread::ThreadFunc(CThread* worker) {
  for (;;) {
    const int32_t s = worker->status_.load();
    if (s == kThreadIdle) {
      LOG(INFO) << " wait before thread " << std::this_thread::get_id();
      worker->wakeEvent_.wait();
      LOG(INFO) << " wait after thread " << std::this_thread::get_id();
    } else if (s == kThreadExit) {
      return 1;
    } else if (s == kThreadRun) {
      try {
        worker->taskBusiness();
      } catch (...) {
        // An escaping exception would end the process; the task simply
        // stays unfinished and the driver sees an idle worker.
        LOG(INFO) << " taskBusiness threw";
      }
      // Only a worker still in the run state goes idle: an exit request
      // that came in while the task ran must not be overwritten.
      int32_t running = kThreadRun;
      worker->status_.compare_exchange_strong(running, kThreadIdle);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

CThreadManager::CThreadManager() : fileMutex_("mutex_for_downloadthread") {}

CThreadManager::~CThreadManager() {
  // A pool destroyed with live workers asks them to exit first, so no
  // thread is left blocked on an event that is about to vanish.
  shutdownThreads();
}

void CThreadManager::adoptWorker(std::unique_ptr<CThread> worker) {
  if (worker->init() == 1) {
    free_.push_back(worker.get());
    handles_.push_back(worker->handle());
    owned_.push_back(std::move(worker));
  }
}

int CThreadManager::createThreads(int n) {
  for (int i = 0; i < n; ++i) adoptWorker(std::make_unique<CThread>(&fileMutex_));
  return static_cast<int>(handles_.size());
}

CThread* CThreadManager::getOneFreeThreads() {
  if (free_.empty()) {
    LOG(INFO) << "is no free threads";
    return nullptr;
  }
  CThread* w = free_.back();
  free_.pop_back();
  return w;
}

int CThreadManager::giveTaskToAThreadTodo(CTask* task) {
  CThread* w = getOneFreeThreads();
  if (w == nullptr) {
    LOG(INFO) << "get free thread is null" << (task ? task->id.load() : 0);
    return 0;
  }
  w->doTask(task);
  busy_.push_back(w);
  return 1;
}

int CThreadManager::recycleThreads() {
  size_t kept = 0;
  for (CThread* w : busy_) {
    if (w->status() == kThreadIdle) {
      free_.push_back(w);
    } else {
      busy_[kept++] = w;
    }
  }
  busy_.resize(kept);
  return 1;
}

int CThreadManager::stopThreads() {
  for (CThread* w : free_) {
    w->setStatus(kThreadExit);
    w->wake();
  }
  LOG(INFO) << " start wait threads exit";
  for (CThreadHandle* h : handles_) h->waitFor(30000);
  LOG(INFO) << " end wait threads exit";
  return 1;
}

void CThreadManager::shutdownThreads() {
  if (owned_.empty()) return;
  for (CThread* w : busy_) free_.push_back(w);
  busy_.clear();
  stopThreads();
  releaseThreads();
}

void CThreadManager::releaseThreads() {
  for (auto& w : owned_) {
    if (!w->handle()->close()) {
      LOG(INFO) << " abandoning a worker that did not exit";
      (void)w.release();
    }
  }
  owned_.clear();
  free_.clear();
  busy_.clear();
  handles_.clear();
}

}  // namespace engine
