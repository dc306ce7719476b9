#ifndef WEBSETUP_UIFRAMEWORK_POSIX_X11_SESSION_POSIX_H_
#define WEBSETUP_UIFRAMEWORK_POSIX_X11_SESSION_POSIX_H_

// The X server going away (the session ended, the server was killed) ends
// the program at once. Xlib's own answer is exit(), which runs the static
// destructors while the download, install and telemetry threads are still
// at work on what they destroy; such a process has been seen spinning on a
// core for an hour. UI thread, once SDL runs on X11.

namespace ui {

void EndProgramWhenDisplayIsLost();

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_POSIX_X11_SESSION_POSIX_H_
