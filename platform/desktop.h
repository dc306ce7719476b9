#ifndef WEBSETUP_PLATFORM_DESKTOP_H_
#define WEBSETUP_PLATFORM_DESKTOP_H_

// The desktop services the setup window asks for, together: the folder
// picker, showing a file in its folder, taskbar progress and file URIs.
// Each has a header of its own; new code includes the one it uses.
//
// The session bus these talk to (on this system) is the one
// DBUS_SESSION_BUS_ADDRESS names when a call is made; without one (unset,
// or nobody listening) every call still works through its fallback or does
// nothing. Connecting waits at most one second, on the worker.

#include "platform/file_uri.h"
#include "platform/folder_picker.h"
#include "platform/show_in_folder.h"
#include "platform/taskbar_progress.h"

#endif  // WEBSETUP_PLATFORM_DESKTOP_H_
