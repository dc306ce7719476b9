#ifndef WEBSETUP_ENGINE_TASK_MANAGER_H_
#define WEBSETUP_ENGINE_TASK_MANAGER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/task.h"

namespace engine {

// The segments of one download in three lists: all (file order, owning),
// handed (given out, or complete when loaded) and waiting. Used by one
// thread at a time: the caller of downloadInit, then the driver thread.
class CTaskManager {
 public:
  CTaskManager() = default;
  virtual ~CTaskManager() = default;
  CTaskManager(const CTaskManager&) = delete;
  CTaskManager& operator=(const CTaskManager&) = delete;

  // Takes ownership of `task` and files it as handed when complete, else as
  // waiting. Returns 1, or 0 for null.
  int addTask(std::unique_ptr<CTask> task);
  // Hands out the first waiting task (its status becomes 3); null when
  // nothing waits.
  virtual CTask* takeTask();
  virtual int addWaitingTask(CTask* task);
  virtual int addHandedTask(CTask* task);
  // Destroys every task and empties the lists.
  int clearTasks();

  const std::vector<std::unique_ptr<CTask>>& allTasks() const { return all_; }
  const std::vector<CTask*>& handedTasks() const { return handed_; }
  size_t waitingCount() const { return waiting_.size() - waitingFront_; }
  int32_t tasksCount() const { return tasksCount_; }

 protected:
  std::vector<std::unique_ptr<CTask>> all_;
  int32_t tasksCount_ = 0;
  std::vector<CTask*> handed_;
  // Taken from the front; waitingFront_ skips the ones already taken, so
  // taking is O(1) however many segments a file has.
  std::vector<CTask*> waiting_;
  size_t waitingFront_ = 0;
};

}  // namespace engine

#endif  // WEBSETUP_ENGINE_TASK_MANAGER_H_
