// Progress on the taskbar button: ITaskbarList3, from a worker thread that
// sends at most once per interval.
//
// Windows ties the bar to a window, not to a desktop entry, and the header
// names no window: the desktop id it takes means nothing here. The button
// is the one of this process's main window, found when a change is sent
// (the window may come after the bar, and may be replaced): the first
// visible, unowned top-level window of ours that is neither a tool window
// nor a dialog box. The dialogs the platform layer opens itself (the
// folder picker) are dialog boxes, and their buttons are not the setup's.

#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/taskbar_progress.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using Microsoft::WRL::ComPtr;

constexpr std::chrono::milliseconds kInterval{100};
// A taskbar that does not answer at exit is not waited for longer.
constexpr std::chrono::milliseconds kExitWait{1000};
constexpr ULONGLONG kValueTotal = 10000;

TBPFLAG flagFor(TaskbarState state) {
  switch (state) {
    case TaskbarState::kNoProgress: return TBPF_NOPROGRESS;
    case TaskbarState::kNormal: return TBPF_NORMAL;
    case TaskbarState::kError: return TBPF_ERROR;
    case TaskbarState::kIndeterminate: return TBPF_INDETERMINATE;
    case TaskbarState::kPaused: return TBPF_PAUSED;
  }
  return TBPF_NOPROGRESS;
}

BOOL CALLBACK considerWindow(HWND window, LPARAM found) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(window) ||
      GetWindow(window, GW_OWNER) != nullptr ||
      (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0) {
    return TRUE;
  }
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (wcscmp(className, L"#32770") == 0) return TRUE;  // a dialog box
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND mainWindowOfThisProcess() {
  HWND found = nullptr;
  EnumWindows(considerWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

struct TaskbarProgress::Entry {
  std::mutex mu;
  double fraction = 0;                             // guarded by mu
  TaskbarState state = TaskbarState::kNoProgress;  // guarded by mu

  // The worker's alone.
  HWND window = nullptr;
  bool sent = false;
  TaskbarState sentState = TaskbarState::kNoProgress;
  ULONGLONG sentValue = 0;
  Clock::time_point notBefore{};
};

namespace {

// The one thread that talks to the taskbar. COM is of the multithreaded
// model there: the taskbar object then lives in an apartment COM keeps
// for it, and this thread, which pumps no messages, owns no window that
// broadcasts could wait on.
class TaskbarWorker {
 public:
  static TaskbarWorker& instance() {
    static TaskbarWorker worker;
    return worker;
  }

  void changed(std::shared_ptr<TaskbarProgress::Entry> entry) {
    std::lock_guard<std::mutex> lock(s_->mu);
    if (std::find(s_->dirty.begin(), s_->dirty.end(), entry) == s_->dirty.end()) {
      s_->dirty.push_back(std::move(entry));
    }
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([s = s_] { run(*s); });
      } catch (const std::system_error&) {
        s_->dirty.clear();  // no thread, no bar
        return;
      }
    }
    s_->wake.notify_all();
  }

  // Sends what is still pending (a bar hidden on the way out), then stops.
  ~TaskbarWorker() {
    std::unique_lock<std::mutex> lock(s_->mu);
    if (!thread_.joinable()) return;
    s_->stopping = true;
    s_->wake.notify_all();
    const bool ended = s_->wake.wait_for(lock, kExitWait, [this] { return s_->finished; });
    lock.unlock();
    if (ended) {
      thread_.join();
    } else {
      // The process ends it; it shares the state, so it outlives this
      // object.
      thread_.detach();
    }
  }

 private:
  struct State {
    std::mutex mu;
    std::condition_variable wake;
    std::vector<std::shared_ptr<TaskbarProgress::Entry>> dirty;
    bool stopping = false;
    bool finished = false;
  };

  TaskbarWorker() = default;

  static void run(State& s) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
      ComPtr<ITaskbarList3> taskbar;
      if (SUCCEEDED(com) &&
          SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&taskbar))) &&
          FAILED(taskbar->HrInit())) {
        taskbar.Reset();
      }
      std::unique_lock<std::mutex> lock(s.mu);
      for (;;) {
        if (s.dirty.empty()) {
          if (s.stopping) break;
          s.wake.wait(lock);
          continue;
        }
        Clock::time_point due = Clock::time_point::max();
        for (const auto& e : s.dirty) due = std::min(due, e->notBefore);
        if (!s.stopping && Clock::now() < due) {
          s.wake.wait_until(lock, due);
          continue;
        }
        std::vector<std::shared_ptr<TaskbarProgress::Entry>> ready;
        const auto now = Clock::now();
        for (auto it = s.dirty.begin(); it != s.dirty.end();) {
          if (s.stopping || (*it)->notBefore <= now) {
            ready.push_back(std::move(*it));
            it = s.dirty.erase(it);
          } else {
            ++it;
          }
        }
        lock.unlock();
        if (taskbar) {
          for (const auto& e : ready) send(taskbar.Get(), e.get());
        }
        ready.clear();
        lock.lock();
      }
      s.finished = true;
      s.wake.notify_all();
    }
    if (SUCCEEDED(com)) CoUninitialize();
  }

  static void send(ITaskbarList3* taskbar, TaskbarProgress::Entry* e) {
    TaskbarState state;
    double fraction;
    {
      std::lock_guard<std::mutex> lock(e->mu);
      state = e->state;
      fraction = e->fraction;
    }
    const auto value = static_cast<ULONGLONG>(std::lround(fraction * kValueTotal));
    if (e->window == nullptr || !IsWindow(e->window) || !IsWindowVisible(e->window)) {
      e->window = mainWindowOfThisProcess();
      e->sent = false;
    }
    // No window: the next change tries again.
    if (e->window == nullptr) return;
    const bool showsValue = state == TaskbarState::kNormal || state == TaskbarState::kPaused ||
                            state == TaskbarState::kError;
    if (e->sent && state == e->sentState && (!showsValue || value == e->sentValue)) return;
    // The value first: Windows switches a bar without progress to normal
    // when it gets one, and the state then puts it where it belongs.
    bool ok = true;
    if (showsValue) ok = SUCCEEDED(taskbar->SetProgressValue(e->window, value, kValueTotal));
    ok = SUCCEEDED(taskbar->SetProgressState(e->window, flagFor(state))) && ok;
    // A button not made yet refuses; the next change tries again.
    e->sent = ok;
    e->sentState = state;
    e->sentValue = value;
    e->notBefore = Clock::now() + kInterval;
  }

  std::shared_ptr<State> s_ = std::make_shared<State>();
  std::thread thread_;
};

}  // namespace

TaskbarProgress::TaskbarProgress(const std::string& desktopId) : entry_(std::make_shared<Entry>()) {
  (void)desktopId;            // see the top of this file
  TaskbarWorker::instance();  // made first, so it outlives this object at exit
}

TaskbarProgress::~TaskbarProgress() { setState(TaskbarState::kNoProgress); }

void TaskbarProgress::setProgress(double fraction) {
  if (std::isnan(fraction)) fraction = 0;
  {
    std::lock_guard<std::mutex> lock(entry_->mu);
    entry_->fraction = std::clamp(fraction, 0.0, 1.0);
    if (entry_->state == TaskbarState::kNoProgress ||
        entry_->state == TaskbarState::kIndeterminate) {
      entry_->state = TaskbarState::kNormal;
    }
  }
  TaskbarWorker::instance().changed(entry_);
}

void TaskbarProgress::setState(TaskbarState state) {
  {
    std::lock_guard<std::mutex> lock(entry_->mu);
    entry_->state = state;
  }
  TaskbarWorker::instance().changed(entry_);
}

}  // namespace platform
