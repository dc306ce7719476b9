#include "engine/task_manager.h"

namespace engine {

int CTaskManager::addTask(std::unique_ptr<CTask> task) {
  if (!task) return 0;
  CTask* raw = task.get();
  all_.push_back(std::move(task));
  return raw->status.load() == kTaskComplete ? addHandedTask(raw) : addWaitingTask(raw);
}

CTask* CTaskManager::takeTask() {
  if (waitingFront_ >= waiting_.size()) return nullptr;
  CTask* task = waiting_[waitingFront_++];
  task->status.exchange(kTaskHanded);
  handed_.push_back(task);
  return task;
}

int CTaskManager::addWaitingTask(CTask* task) {
  if (task == nullptr) return 0;
  waiting_.push_back(task);
  return 1;
}

int CTaskManager::addHandedTask(CTask* task) {
  if (task == nullptr) return 0;
  handed_.push_back(task);
  return 1;
}

int CTaskManager::clearTasks() {
  waiting_.clear();
  waitingFront_ = 0;
  handed_.clear();
  all_.clear();
  tasksCount_ = 0;
  return 1;
}

}  // namespace engine
