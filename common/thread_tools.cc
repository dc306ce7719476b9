#include "common/thread_tools.h"

#include <atomic>
#include <system_error>

namespace common {
namespace {

std::atomic<ThreadPrologue> g_prologue{nullptr};

}  // namespace

void SetThreadPrologue(ThreadPrologue prologue) { g_prologue.store(prologue); }

std::thread StartThread(std::function<void()> body) {
  return std::thread([body = std::move(body)] {
    if (const ThreadPrologue prologue = g_prologue.load()) prologue();
    body();
  });
}

void CEvent::set() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = true;
  }
  cv_.notify_one();
}

void CEvent::wait() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

CThreadHandle::~CThreadHandle() { close(); }

bool CThreadHandle::start(std::function<void()> body) {
  auto done = std::make_shared<Done>();
  try {
    thread_ = StartThread([done, body = std::move(body)] {
      body();
      {
        std::lock_guard<std::mutex> lock(done->mu);
        done->done = true;
      }
      done->cv.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  done_ = std::move(done);
  return true;
}

bool CThreadHandle::waitFor(uint32_t ms) {
  if (!done_) return true;
  std::unique_lock<std::mutex> lock(done_->mu);
  return done_->cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_->done; });
}

bool CThreadHandle::close() {
  if (!thread_.joinable()) return true;
  if (waitFor(0)) {
    thread_.join();
    return true;
  }
  thread_.detach();
  return false;
}

void ManualResetEvent::set() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void ManualResetEvent::reset() {
  std::lock_guard<std::mutex> lock(mu_);
  signalled_ = false;
}

bool ManualResetEvent::isSet() {
  std::lock_guard<std::mutex> lock(mu_);
  return signalled_;
}

bool ManualResetEvent::wait(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mu_);
  if (limit.count() < 0) {
    cv_.wait(lock, [this] { return signalled_; });
    return true;
  }
  return cv_.wait_for(lock, limit, [this] { return signalled_; });
}

}  // namespace common
