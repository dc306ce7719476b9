#ifndef WEBSETUP_ENGINE_THREAD_H_
#define WEBSETUP_ENGINE_THREAD_H_

// Long-lived worker threads with an idle/run/exit protocol, and the pool
// that hands segments to them.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/thread_tools.h"
#include "engine/task.h"
#include "platform/named_mutex.h"

namespace engine {

// Worker status values.
enum : int32_t {
  kThreadExit = 0,
  kThreadRun = 1,
  kThreadIdle = 2,
};

using common::CEvent;
using common::CThreadHandle;

// Base class of a worker. The driver thread hands it tasks with doTask();
// the worker's own thread runs taskBusiness() for each.
class CThread {
 public:
  explicit CThread(platform::NamedMutex* shared);
  virtual ~CThread() = default;
  CThread(const CThread&) = delete;
  CThread& operator=(const CThread&) = delete;

  // Runs the current task. The base version does nothing. Returns 1.
  virtual int taskBusiness() { return 1; }

  // Starts the thread. Returns 1, or 0 (logged) when it could not start.
  [[nodiscard]] int init();
  // Gives `task` to this idle worker and wakes it. Driver thread only.
  int doTask(CTask* task);

  int32_t status() const { return status_.load(); }
  void setStatus(int32_t s) { status_.exchange(s); }
  void wake() { wakeEvent_.set(); }
  CThreadHandle* handle() { return &handle_; }
  CTask* currentTask() const { return task_.load(); }
  platform::NamedMutex* sharedHandle() const { return shared_; }

 protected:
  // The worker's own thread moves on to the task its request has reached.
  void moveToTask(CTask* task) { task_.store(task); }

 private:
  static int ThreadFunc(CThread* worker);

  CThreadHandle handle_;
  std::atomic<int32_t> status_{kThreadIdle};
  std::atomic<CTask*> task_{nullptr};
  platform::NamedMutex* shared_;
  CEvent wakeEvent_;
};

// Base class of a pool of workers. Only the driver thread calls it while a
// download runs; it owns its workers.
class CThreadManager {
 public:
  CThreadManager();
  virtual ~CThreadManager();
  CThreadManager(const CThreadManager&) = delete;
  CThreadManager& operator=(const CThreadManager&) = delete;

  // Starts `n` base workers. Returns the number that started.
  [[nodiscard]] virtual int createThreads(int n);

  // Removes and returns the most recently freed worker; null (logged) when
  // none is free.
  [[nodiscard]] CThread* getOneFreeThreads();
  // Gives `task` to a free worker. Returns 1, or 0 (logged) when none is free.
  [[nodiscard]] int giveTaskToAThreadTodo(CTask* task);
  // Moves every worker that went idle from the busy to the free list.
  int recycleThreads();
  // Asks every free worker to exit and waits up to 30 s for each.
  int stopThreads();
  // Forgets every worker: those whose thread has ended are destroyed, a
  // thread still running keeps its object (it is abandoned, not freed).
  void releaseThreads();
  // stopThreads() for every worker, busy or not, then releaseThreads().
  // Used on destruction.
  void shutdownThreads();

  size_t freeCount() const { return free_.size(); }
  size_t busyCount() const { return busy_.size(); }
  const std::vector<CThread*>& busyWorkers() const { return busy_; }
  size_t threadCount() const { return handles_.size(); }
  platform::NamedMutex* fileMutex() { return &fileMutex_; }

 protected:
  // Starts `worker`; on success files it as free. Takes ownership.
  void adoptWorker(std::unique_ptr<CThread> worker);

  std::vector<CThread*> free_;
  std::vector<CThread*> busy_;
  std::vector<CThreadHandle*> handles_;
  std::vector<std::unique_ptr<CThread>> owned_;
  platform::NamedMutex fileMutex_;
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_THREAD_H_
