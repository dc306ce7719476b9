// Raising the first setup from a second one on Windows, with named kernel
// objects of the session rather than FindWindowW: the listener exists
// before the window does (and without a window host at all), its callback
// runs on its own thread as the interface promises, and "someone listens"
// does not depend on a window class another program might also register.
//
// The listener owns a small named section holding its process id (its
// existence is the claim on the name; the kernel drops it with the last
// handle, so a dead listener's name is free again) and two named events:
// a request and its answer. A requester takes a named turn mutex so that
// two requests do not share one answer, lets the listener's process take
// the foreground (a program started by the user has that right, the one in
// the background does not), signals the request and waits for the answer.
//
// The setup asks for elevation, but a person may also start it without:
// every named object carries the shared descriptor
// (shared_object_security_win.h), so either run reaches the other's, and a
// requester opens each with only the rights it uses.

#include "platform/activation.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "common/thread_tools.h"
#include "platform/win32/shared_object_security_win.h"
#include "platform/win32/win_util.h"

namespace platform {

namespace {

constexpr DWORD kRequestLimitMs = 1000;

// Session-local, so another user's session can neither claim the name nor
// answer for us. A name may not carry a backslash.
std::wstring objectName(const std::string& windowClass, const wchar_t* suffix) {
  std::wstring out = L"Local\\websetup-activate-";
  for (const wchar_t c : win::widen(windowClass)) out += c == L'\\' ? L'_' : c;
  return out + suffix;
}

}  // namespace

struct ActivationListener::State {
  win::UniqueHandle claim;  // the section with our process id
  win::UniqueHandle request;
  win::UniqueHandle answer;
  win::UniqueHandle stop;
  std::thread thread;
  std::mutex mu;
  Callback callback;

  void run() {
    const HANDLE waits[2] = {stop.get(), request.get()};
    for (;;) {
      const DWORD w = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
      if (w != WAIT_OBJECT_0 + 1) return;
      Callback cb;
      {
        std::lock_guard<std::mutex> lock(mu);
        cb = callback;
      }
      if (cb) cb();
      SetEvent(answer.get());
    }
  }
};

ActivationListener::ActivationListener(std::shared_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<ActivationListener> ActivationListener::listen(const std::string& windowClass,
                                                               Callback onActivate) {
  auto state = std::make_shared<State>();
  state->callback = std::move(onActivate);
  win::SharedObjectSecurity sectionSecurity(win::kSharedSectionAccess);
  state->claim.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, sectionSecurity.attributes(),
                                        PAGE_READWRITE, 0, sizeof(LONG),
                                        objectName(windowClass, L"").c_str()));
  if (!state->claim.valid() || GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;
  auto* pid = static_cast<LONG*>(MapViewOfFile(state->claim.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (pid == nullptr) return nullptr;
  InterlockedExchange(pid, static_cast<LONG>(GetCurrentProcessId()));
  UnmapViewOfFile(pid);
  // The events may outlive an earlier listener in a requester's hands;
  // taking them over is harmless, as every request resets the answer.
  win::SharedObjectSecurity eventSecurity(win::kSharedEventAccess);
  state->request.reset(CreateEventExW(eventSecurity.attributes(),
                                      objectName(windowClass, L"-request").c_str(), 0,
                                      win::kSharedEventAccess));
  state->answer.reset(CreateEventExW(eventSecurity.attributes(),
                                     objectName(windowClass, L"-answer").c_str(), 0,
                                     win::kSharedEventAccess));
  state->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->request.valid() || !state->answer.valid() || !state->stop.valid()) return nullptr;
  state->thread = common::StartThread([s = state.get()] { s->run(); });
  return std::unique_ptr<ActivationListener>(new ActivationListener(std::move(state)));
}

ActivationListener::~ActivationListener() {
  SetEvent(state_->stop.get());
  if (state_->thread.joinable()) state_->thread.join();
}

void ActivationListener::setCallback(Callback onActivate) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->callback = std::move(onActivate);
}

bool requestActivation(const std::string& windowClass) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestLimitMs);
  auto msLeft = [&deadline] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? DWORD{0} : static_cast<DWORD>(left.count());
  };
  DWORD listenerPid = 0;
  {
    // Held only for the read, so that a claim left by a listener that died
    // meanwhile is not kept alive by us.
    win::UniqueHandle claim(
        OpenFileMappingW(FILE_MAP_READ, FALSE, objectName(windowClass, L"").c_str()));
    if (!claim.valid()) return false;
    const auto* pid = static_cast<const LONG*>(MapViewOfFile(claim.get(), FILE_MAP_READ, 0, 0, 0));
    if (pid == nullptr) return false;
    listenerPid = static_cast<DWORD>(*pid);
    UnmapViewOfFile(pid);
  }
  // The request is only set; the answer is reset and waited for.
  win::UniqueHandle request(
      OpenEventW(EVENT_MODIFY_STATE, FALSE, objectName(windowClass, L"-request").c_str()));
  win::UniqueHandle answer(
      OpenEventW(win::kSharedEventAccess, FALSE, objectName(windowClass, L"-answer").c_str()));
  // Whichever requester comes first makes the turn mutex.
  win::SharedObjectSecurity turnSecurity(win::kSharedMutexAccess);
  win::UniqueHandle turn(CreateMutexExW(turnSecurity.attributes(),
                                        objectName(windowClass, L"-turn").c_str(), 0,
                                        win::kSharedMutexAccess));
  if (!request.valid() || !answer.valid() || !turn.valid()) return false;
  const DWORD t = WaitForSingleObject(turn.get(), msLeft());
  if (t != WAIT_OBJECT_0 && t != WAIT_ABANDONED) return false;
  if (listenerPid != 0) AllowSetForegroundWindow(listenerPid);
  // A late answer to an earlier requester must not count as ours.
  ResetEvent(answer.get());
  SetEvent(request.get());
  const bool answered = WaitForSingleObject(answer.get(), msLeft()) == WAIT_OBJECT_0;
  ReleaseMutex(turn.get());
  return answered;
}

}  // namespace platform
