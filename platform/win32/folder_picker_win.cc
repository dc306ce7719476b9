// The folder picker: the common item dialog in folder mode, else the
// older folder browser, shown on a thread of its own.
//
// The dialogs are modal loops that need a single-threaded COM apartment,
// and the window thread that asks must not wait for them. The worker
// enters the apartment for each dialog only, so between dialogs it owns no
// COM window that a broadcast message could wait on.
//
// The dialog has no owner: the header hands us no window, and an owner on
// another thread would tie the two threads' input together. The window
// keeps a second picker from opening while one is shown.

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/folder_picker.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

using Microsoft::WRL::ComPtr;

// How long the exit waits for a dialog still open to close.
constexpr std::chrono::milliseconds kExitWait{1000};
constexpr std::chrono::milliseconds kClosePoll{50};

struct PickRequest {
  std::string title;
  std::string startDir;
  std::function<void(std::optional<std::string>)> done;
};

std::wstring nativePath(const std::string& path) {
  std::wstring wide = win::widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return wide;
}

// The start folder as a shell item: `dir`, or its nearest existing parent
// (the path box often names a folder the setup has yet to make).
ComPtr<IShellItem> startFolderItem(std::wstring dir) {
  ComPtr<IShellItem> item;
  while (!dir.empty()) {
    if (SUCCEEDED(SHCreateItemFromParsingName(dir.c_str(), nullptr, IID_PPV_ARGS(&item)))) {
      return item;
    }
    const size_t cut = dir.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut < 2) break;
    dir.resize(cut);
    if (dir.size() == 2 && dir[1] == L':')
      dir += L'\\';  // "C:" alone is the drive's current folder
  }
  return nullptr;
}

enum class Outcome { kChosen, kCancelled, kUnavailable };

Outcome pickWithItemDialog(const PickRequest& req, std::string* folder) {
  ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&dialog)))) {
    return Outcome::kUnavailable;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  if (FAILED(dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM |
                                FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR))) {
    return Outcome::kUnavailable;
  }
  dialog->SetTitle(win::widen(req.title).c_str());
  if (!req.startDir.empty()) {
    if (ComPtr<IShellItem> start = startFolderItem(nativePath(req.startDir))) {
      dialog->SetFolder(start.Get());
    }
  }
  const HRESULT shown = dialog->Show(nullptr);
  if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return Outcome::kCancelled;
  if (FAILED(shown)) return Outcome::kUnavailable;
  ComPtr<IShellItem> result;
  wchar_t* path = nullptr;
  if (FAILED(dialog->GetResult(&result)) ||
      FAILED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
    return Outcome::kCancelled;  // shown and closed, but nothing usable chosen
  }
  *folder = win::outwardPath(path);
  CoTaskMemFree(path);
  return Outcome::kChosen;
}

struct BrowseStart {
  std::wstring title;
  std::wstring dir;
};

int CALLBACK browseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    const auto* start = reinterpret_cast<const BrowseStart*>(data);
    SetWindowTextW(window, start->title.c_str());
    if (!start->dir.empty()) {
      SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start->dir.c_str()));
    }
  }
  return 0;
}

Outcome pickWithFolderBrowser(const PickRequest& req, std::string* folder) {
  BrowseStart start{win::widen(req.title), nativePath(req.startDir)};
  BROWSEINFOW info{};
  info.lpszTitle = start.title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = browseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&start);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return Outcome::kCancelled;
  std::wstring path(32768, L'\0');
  const bool ok =
      SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  CoTaskMemFree(chosen);
  if (!ok) return Outcome::kCancelled;  // a place that is no folder on disk
  path.resize(wcslen(path.c_str()));
  *folder = win::outwardPath(std::move(path));
  return Outcome::kChosen;
}

std::optional<std::string> pick(const PickRequest& req) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (FAILED(com)) return std::nullopt;
  std::string folder;
  Outcome outcome = pickWithItemDialog(req, &folder);
  if (outcome == Outcome::kUnavailable) outcome = pickWithFolderBrowser(req, &folder);
  CoUninitialize();
  if (outcome != Outcome::kChosen) return std::nullopt;
  return folder;
}

class PickerWorker {
 public:
  static PickerWorker& instance() {
    static PickerWorker worker;
    return worker;
  }

  void post(PickRequest req) {
    std::unique_lock<std::mutex> lock(s_->mu);
    if (s_->stopping) return;
    s_->queue.push_back(std::move(req));
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([s = s_] { run(*s); });
      } catch (const std::system_error&) {
        PickRequest failed = std::move(s_->queue.back());
        s_->queue.pop_back();
        lock.unlock();
        failed.done(std::nullopt);  // no dialog could be shown
        return;
      }
    }
    s_->wake.notify_all();
  }

  // Drops the requests still queued, closes a dialog still open and drops
  // its answer.
  ~PickerWorker() {
    std::unique_lock<std::mutex> lock(s_->mu);
    s_->stopping = true;
    s_->queue.clear();
    s_->wake.notify_all();
    if (!thread_.joinable()) return;
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    while (!s_->finished && std::chrono::steady_clock::now() < deadline) {
      // Closing the dialog's window is the person's cancel. Asked again
      // until the thread ends, since a dialog may still be on its way up.
      EnumThreadWindows(s_->threadId, closeVisibleWindow, 0);
      s_->wake.wait_for(lock, kClosePoll);
    }
    const bool ended = s_->finished;
    lock.unlock();
    if (ended) {
      thread_.join();
    } else {
      // A dialog closed while still coming up can hide without ending its
      // loop (Wine's does). Nobody sees it any more and the process ends
      // the thread; it shares the state, so it outlives this object.
      thread_.detach();
    }
  }

 private:
  struct State {
    std::mutex mu;
    std::condition_variable wake;
    std::deque<PickRequest> queue;
    bool stopping = false;
    bool finished = false;
    DWORD threadId = 0;
  };

  PickerWorker() = default;

  // Only visible ones: the thread's hidden windows are COM's and the
  // input method's, which must live until the dialog is gone.
  static BOOL CALLBACK closeVisibleWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
  }

  static void run(State& s) {
    std::unique_lock<std::mutex> lock(s.mu);
    s.threadId = GetCurrentThreadId();
    for (;;) {
      if (s.stopping) break;
      if (s.queue.empty()) {
        s.wake.wait(lock);
        continue;
      }
      PickRequest req = std::move(s.queue.front());
      s.queue.pop_front();
      lock.unlock();
      std::optional<std::string> folder = pick(req);
      lock.lock();
      if (s.stopping) break;  // nobody is left to tell
      lock.unlock();
      req.done(std::move(folder));
      lock.lock();
    }
    s.finished = true;
    s.wake.notify_all();
  }

  std::shared_ptr<State> s_ = std::make_shared<State>();
  std::thread thread_;
};

}  // namespace

void pickFolder(const std::string& title, const std::string& startDir,
                std::function<void(std::optional<std::string> folder)> done) {
  PickerWorker::instance().post(PickRequest{title, startDir, std::move(done)});
}

}  // namespace platform
