#ifndef WEBSETUP_ENGINE_TASK_MANAGER_H_
#define WEBSETUP_ENGINE_TASK_MANAGER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/task.h"

namespace engine {

// The segments of one download in three lists: all (file order, owning),
// handed (given out, or complete when loaded) and waiting. Used by one
// thread at a time: the caller of downloadInit, then the driver thread;
// while a download runs, workers also claim waiting tasks (CTask::claim),
// so a task's status, not its list, says whether it still waits.
class CTaskManager {
 public:
  CTaskManager() = default;
  virtual ~CTaskManager() = default;
  CTaskManager(const CTaskManager&) = delete;
  CTaskManager& operator=(const CTaskManager&) = delete;

  // Takes ownership of `task` and files it as handed when complete, else as
  // waiting (status 0, whatever status it was loaded with). Returns 1, or 0
  // for null.
  int addTask(std::unique_ptr<CTask> task);
  // Hands out the first waiting task (its status becomes 3); null when
  // nothing waits.
  [[nodiscard]] virtual CTask* takeTask();
  // Hands out `task` if it still waits. Returns false when another claimed
  // it first.
  [[nodiscard]] bool takeThisTask(CTask* task);
  // Files on the handed list every task a worker claimed since the last
  // call. Driver thread only.
  void listClaimedTasks();
  virtual int addWaitingTask(CTask* task);
  virtual int addHandedTask(CTask* task);
  // Destroys every task and empties the lists.
  int clearTasks();

  const std::vector<std::unique_ptr<CTask>>& allTasks() const { return all_; }
  const std::vector<CTask*>& handedTasks() const { return handed_; }
  // Tasks whose status is waiting: never handed out, or handed back after
  // a cut attempt that brought bytes.
  size_t waitingCount() const;
  int32_t tasksCount() const { return tasksCount_; }

 protected:
  std::vector<std::unique_ptr<CTask>> all_;
  int32_t tasksCount_ = 0;
  std::vector<CTask*> handed_;
  // Every task filed as waiting, in file order; those whose status has
  // left 0 are skipped. A task handed back goes to 0 again and so is found
  // here again without being filed twice.
  std::vector<CTask*> waiting_;
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_TASK_MANAGER_H_
