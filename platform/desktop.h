#ifndef WEBSETUP_PLATFORM_DESKTOP_H_
#define WEBSETUP_PLATFORM_DESKTOP_H_

// Desktop services the setup window asks for: a folder picker, showing a
// file in its folder and progress on the taskbar (the stand-ins for
// SHBrowseForFolder, "explorer /select," and ITaskbarList3).
//
// The D-Bus work runs on one worker thread this module owns and starts on
// first use; the calls below only queue work and return at once, so the
// window thread may make them. The session bus is the one
// DBUS_SESSION_BUS_ADDRESS names when a call is made; without one (unset,
// or nobody listening) every call still works through its fallback or does
// nothing. Connecting waits at most one second, on the worker.
//
// At process exit the worker stops: a folder dialog still open is closed
// and its `done` is dropped uncalled.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Asks the person for a folder, starting in `startDir` (empty: the
// dialog's choice), with `title` on the dialog. Tries the desktop portal's
// file chooser, then zenity or kdialog when installed; when none is there
// it logs that only the path box remains and calls done(nullopt) at once.
// `done` gets the chosen folder's path, or nullopt when the person
// cancelled or no dialog could be shown. It is called once, on a thread of
// this module, so it must only post to the window. Thread-safe.
void pickFolder(const std::string& title, const std::string& startDir,
                std::function<void(std::optional<std::string> folder)> done);

// Opens the folder holding `path` in the file manager with `path`
// selected (FileManager1.ShowItems). When no file manager answers, opens
// the folder with xdg-open, or with the program named by
// WEBSETUP_OPEN_COMMAND, detached and as the invoking user when we run as
// root. Fire and forget. Thread-safe.
void showItemInFolder(const std::string& path);

// The states of a taskbar button's progress, as Windows names them.
enum class TaskbarState {
  kNoProgress = 0,     // no bar
  kNormal = 1,         // the bar shows the fraction
  kError = 2,          // the bar stays and the button asks for attention
  kIndeterminate = 3,  // no fraction is known: the bar is hidden
  kPaused = 4,         // the bar shows the fraction
};

// The progress bar on this program's dock or taskbar entry, sent as the
// com.canonical.Unity.LauncherEntry Update signal that KDE and GNOME docks
// show. Rapid changes are coalesced: at most one signal per 100 ms, the
// last state always sent. Does nothing when there is no session bus.
// Destroying it hides the bar. Owned by the window; thread-safe.
class TaskbarProgress {
 public:
  // `desktopId` names the entry's .desktop file without ".desktop"
  // ("websetup" → "application://websetup.desktop").
  explicit TaskbarProgress(const std::string& desktopId);
  ~TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // Sets the bar to `fraction` (clamped to 0..1). In kNoProgress or
  // kIndeterminate it also switches to kNormal, as Windows does.
  void setProgress(double fraction);
  void setState(TaskbarState state);

  struct Entry;

 private:
  std::shared_ptr<Entry> entry_;
};

// "file://" URI of the absolute path `path`: every byte but letters,
// digits, "-._~" and "/" percent-encoded.
std::string fileUriFromPath(const std::string& path);

// The local path a "file://" URI names, percent-decoded; the host must be
// empty or "localhost". nullopt for another scheme or host, a broken
// escape or an escaped NUL.
std::optional<std::string> pathFromFileUri(const std::string& uri);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_DESKTOP_H_
