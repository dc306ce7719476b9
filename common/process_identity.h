#ifndef WEBSETUP_COMMON_PROCESS_IDENTITY_H_
#define WEBSETUP_COMMON_PROCESS_IDENTITY_H_

// Who this process is among the setups on the machine: what start-up
// learned before the window exists and hands down to it (no module reads it
// from a global).

#include <cstdint>
#include <functional>
#include <string>

namespace common {

struct ProcessIdentity {
  // The integer downloader id of this build (0 when absent or not numeric).
  int32_t downloaderId = 0;
  // The setup window's class: "QM_UI_Frame_" + the downloader id text, or
  // "QM_UI_Frame" when that text is empty. Later instances find this one
  // by it.
  std::wstring windowClass;
  // Releases the single-instance lock, so a restarted setup can take it.
  // One atomic step, safe from any thread and more than once; the lock
  // itself lives until the window's threads have ended. Never empty.
  std::function<void()> releaseInstanceLock = [] {};
};

}  // namespace common

#endif  // WEBSETUP_COMMON_PROCESS_IDENTITY_H_
