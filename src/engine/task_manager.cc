#include "engine/task_manager.h"

namespace engine {

int CTaskManager::addTask(std::unique_ptr<CTask> task) {
  if (!task) return 0;
  CTask* raw = task.get();
  all_.push_back(std::move(task));
  if (raw->status.load() == kTaskComplete) return addHandedTask(raw);
  // A task loaded as failed or in flight waits again in this run.
  raw->status.store(kTaskWaiting);
  return addWaitingTask(raw);
}

CTask* CTaskManager::takeTask() {
  for (CTask* task : waiting_) {
    if (takeThisTask(task)) return task;
  }
  return nullptr;
}

bool CTaskManager::takeThisTask(CTask* task) {
  if (task == nullptr || !task->claim()) return false;
  if (!task->listedHanded) addHandedTask(task);
  return true;
}

void CTaskManager::listClaimedTasks() {
  for (CTask* task : waiting_) {
    if (!task->listedHanded && task->status.load() != kTaskWaiting) addHandedTask(task);
  }
}

size_t CTaskManager::waitingCount() const {
  size_t n = 0;
  for (const CTask* task : waiting_) n += task->status.load() == kTaskWaiting;
  return n;
}

int CTaskManager::addWaitingTask(CTask* task) {
  if (task == nullptr) return 0;
  waiting_.push_back(task);
  return 1;
}

int CTaskManager::addHandedTask(CTask* task) {
  if (task == nullptr) return 0;
  task->listedHanded = true;
  handed_.push_back(task);
  return 1;
}

int CTaskManager::clearTasks() {
  waiting_.clear();
  handed_.clear();
  all_.clear();
  tasksCount_ = 0;
  return 1;
}

}  // namespace engine
