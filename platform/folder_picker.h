#ifndef WEBSETUP_PLATFORM_FOLDER_PICKER_H_
#define WEBSETUP_PLATFORM_FOLDER_PICKER_H_

// The folder picker the setup window offers beside its path box (the
// stand-in for SHBrowseForFolder).
//
// The work runs on a worker thread of the platform layer, started on first
// use; the call only queues it and returns at once, so the window thread
// may make it. At process exit the worker stops: a dialog still open is
// closed and its `done` is dropped uncalled.

#include <functional>
#include <optional>
#include <string>

namespace platform {

// Asks the person for a folder, starting in `startDir` (empty: the
// dialog's choice), with `title` on the dialog. Tries the desktop portal's
// file chooser, then zenity or kdialog when installed; when none is there
// it logs that only the path box remains and calls done(nullopt) at once.
// `done` gets the chosen folder's path, or nullopt when the person
// cancelled or no dialog could be shown. It is called once, on a thread of
// the platform layer, so it must only post to the window. Thread-safe.
void pickFolder(const std::string& title, const std::string& startDir,
                std::function<void(std::optional<std::string> folder)> done);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_FOLDER_PICKER_H_
