#ifndef WEBSETUP_PLATFORM_SHOW_IN_FOLDER_H_
#define WEBSETUP_PLATFORM_SHOW_IN_FOLDER_H_

// Showing a file in the file manager (the stand-in for
// "explorer /select,").

#include <string>

namespace platform {

// Opens the folder holding `path` in the file manager with `path`
// selected. When no file manager answers, opens the folder with the
// desktop's opener, or with the program named by WEBSETUP_OPEN_COMMAND,
// detached and as the invoking user when we run as root. Queues the work
// and returns at once (fire and forget). Thread-safe.
void showItemInFolder(const std::string& path);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_SHOW_IN_FOLDER_H_
