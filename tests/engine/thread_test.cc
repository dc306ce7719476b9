#include "engine/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "engine_test_env.h"
#include "support/subprocess.h"

namespace engine {
namespace {

using std::chrono::milliseconds;
using testing_support::waitFor;

// A worker that counts the tasks it ran.
class CountingThread : public CThread {
 public:
  using CThread::CThread;
  int taskBusiness() override {
    ++runs;
    currentTask()->status.exchange(kTaskComplete);
    return 1;
  }
  std::atomic<int> runs{0};
};

class CountingPool : public CThreadManager {
 public:
  int createThreads(int n) override {
    for (int i = 0; i < n; ++i) {
      auto w = std::make_unique<CountingThread>(&fileMutex_);
      workers.push_back(w.get());
      adoptWorker(std::move(w));
    }
    return static_cast<int>(threadCount());
  }
  std::vector<CountingThread*> workers;
};

TEST(ThreadPoolTest, EmptyPoolStartsNothingAndRefusesTasks) {
  CThreadManager pool;
  EXPECT_EQ(pool.createThreads(0), 0);
  CTask task;
  task.id = 5;
  engine_test::Recorder::instance().clear();
  EXPECT_EQ(pool.giveTaskToAThreadTodo(&task), 0);
  EXPECT_TRUE(engine_test::Recorder::instance().logged("get free thread is null5"));
}

// A worker recycled and handed a new task straight away must run it
// (the wake event stays set until the worker next waits).
TEST(ThreadPoolTest, RecycledWorkerRunsEveryTaskItIsGiven) {
  CountingPool pool;
  ASSERT_EQ(pool.createThreads(1), 1);
  CTask tasks[50];
  for (CTask& t : tasks) {
    ASSERT_TRUE(waitFor([&] { pool.recycleThreads(); return pool.freeCount() == 1; }, milliseconds(5000)));
    ASSERT_EQ(pool.giveTaskToAThreadTodo(&t), 1);
  }
  ASSERT_TRUE(waitFor([&] { return pool.workers[0]->runs.load() == 50; }, milliseconds(5000)));
  for (CTask& t : tasks) EXPECT_EQ(t.status.load(), kTaskComplete);
}

TEST(ThreadPoolTest, StopThreadsEndsIdleWorkersPromptly) {
  CountingPool pool;
  ASSERT_EQ(pool.createThreads(4), 4);
  const auto start = std::chrono::steady_clock::now();
  pool.stopThreads();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  for (CountingThread* w : pool.workers) EXPECT_TRUE(w->handle()->waitFor(0));
}

// Free workers are taken from the end: the most recently freed first.
TEST(ThreadPoolTest, RecycleKeepsBusyOrderAndFreesIdleWorkers) {
  CountingPool pool;
  ASSERT_EQ(pool.createThreads(3), 3);
  CTask a, b, c;
  ASSERT_EQ(pool.giveTaskToAThreadTodo(&a), 1);
  ASSERT_EQ(pool.giveTaskToAThreadTodo(&b), 1);
  ASSERT_EQ(pool.giveTaskToAThreadTodo(&c), 1);
  EXPECT_EQ(pool.freeCount(), 0u);
  ASSERT_TRUE(waitFor([&] { pool.recycleThreads(); return pool.busyCount() == 0; }, milliseconds(5000)));
  EXPECT_EQ(pool.freeCount(), 3u);
}

}  // namespace
}  // namespace engine
