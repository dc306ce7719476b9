#ifndef WEBSETUP_PLATFORM_TASKBAR_PROGRESS_H_
#define WEBSETUP_PLATFORM_TASKBAR_PROGRESS_H_

// Progress on this program's taskbar or dock entry (the stand-in for
// ITaskbarList3).

#include <memory>
#include <string>

namespace platform {

// The states of a taskbar button's progress, as Windows names them.
enum class TaskbarState {
  kNoProgress = 0,     // no bar
  kNormal = 1,         // the bar shows the fraction
  kError = 2,          // the bar stays and the button asks for attention
  kIndeterminate = 3,  // no fraction is known: the bar is hidden
  kPaused = 4,         // the bar shows the fraction
};

// The progress bar on this program's dock or taskbar entry. Rapid changes
// are coalesced: at most one update per 100 ms, the last state always
// sent. Does nothing when the desktop offers no such bar. Destroying it
// hides the bar. Owned by the window; thread-safe.
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

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_TASKBAR_PROGRESS_H_
