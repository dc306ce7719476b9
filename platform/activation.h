#ifndef WEBSETUP_PLATFORM_ACTIVATION_H_
#define WEBSETUP_PLATFORM_ACTIVATION_H_

// Bringing an existing setup window to the front from a second process (the
// stand-in for FindWindow + SwitchToThisWindow). The first instance listens
// on a UNIX socket named after its window class; a later one connects and
// asks it to raise its window.

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Listens for activation requests. Owned by the main thread; the callback
// runs on the listener's own thread, so it must only post to the window.
class ActivationListener {
 public:
  using Callback = std::function<void()>;

  // Starts listening for `windowClass`. Returns null when another live
  // process already listens under that name or the socket cannot be made.
  static std::unique_ptr<ActivationListener> listen(const std::string& windowClass,
                                                    Callback onActivate);
  // Stops the thread and removes the socket. Waits at most ~100 ms.
  ~ActivationListener();

  // Replaces the callback (the window sets it once it exists). Thread-safe.
  void setCallback(Callback onActivate);

 private:
  struct State;
  explicit ActivationListener(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

// Asks the instance listening under `windowClass` to raise its window.
// Returns true when one answered (a window was "found"), false when none
// listens. Waits at most one second.
bool requestActivation(const std::string& windowClass);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_ACTIVATION_H_
