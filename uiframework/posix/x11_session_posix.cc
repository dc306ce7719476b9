#include "uiframework/posix/x11_session_posix.h"

#include <unistd.h>

#include <cstdio>

// The logging header first: Xlib's macros (None, Status, Bool) would
// break it.
#include "common/log.h"
// clang-format off
#include <X11/Xlib.h>
// clang-format on

namespace ui {

namespace {

// Xlib calls exit() when this returns, so it never does. Nothing of the
// program is torn down: the log is flushed and the process ends, as a
// setup whose session ended.
int onDisplayLost(Display* display) {
  (void)display;
  LOG(INFO) << " ui: the display connection was lost: quit";
  el::Loggers::flushAll();
  std::fflush(nullptr);
  _exit(0);
}

}  // namespace

void EndProgramWhenDisplayIsLost() { XSetIOErrorHandler(onDisplayLost); }

}  // namespace ui
