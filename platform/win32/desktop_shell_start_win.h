#ifndef WEBSETUP_PLATFORM_WIN32_DESKTOP_SHELL_START_WIN_H_
#define WEBSETUP_PLATFORM_WIN32_DESKTOP_SHELL_START_WIN_H_

// Starting a program through the desktop's shell (Explorer), so that it
// runs with the desktop user's token instead of ours: the way an elevated
// setup hands the installed product back to the person. Used by
// process_win.cc; nothing outside platform/win32/ includes this header.
// Any thread; COM is entered on the calling thread for the call.

#include <windows.h>

#include <string>

namespace platform::win {

// Why the shell could not take a start request.
struct DesktopShellFailure {
  const char* step = "";  // the call that failed, for the log
  HRESULT code = S_OK;
};

// Asks the shell window of the desktop to open `program` (a full path)
// with the command line `arguments` in `folder` (a full path), as a double
// click would; a program file is run. Returns true when the shell took the
// request; what becomes of it then (a program that fails to start) the
// shell shows the person itself. False, with the failing step in *failure,
// when no shell answers: Explorer not running, crashed or still starting,
// or COM unusable on this thread.
bool startThroughDesktopShell(const std::wstring& program, const std::wstring& arguments,
                              const std::wstring& folder, DesktopShellFailure* failure);

}  // namespace platform::win

#endif  // WEBSETUP_PLATFORM_WIN32_DESKTOP_SHELL_START_WIN_H_
