#ifndef WEBSETUP_WINDOW_CLOSE_REPORT_H_
#define WEBSETUP_WINDOW_CLOSE_REPORT_H_

// Where the user left the flow when the window closed, read from the
// window's state alone: the close code, the phase of the close record and
// the duration that goes with it. Pure; any thread.

#include <string>

namespace window {

// The tick a close's duration is counted from.
enum class DurationStart {
  kWindowShown,     // InstallShared::startTick
  kInstallClick,    // installClickTick
  kDownloadDone,    // downloadDoneTick
  kInstallerStart,  // installStartTick
};

struct CloseReport {
  std::string code;            // "close01" ... "close07", empty: none applies
  std::string phase;           // the core function of the close record
  std::string durationAction;  // empty: no duration is reported
  std::string durationKey;
  DurationStart durationFrom = DurationStart::kWindowShown;
};

// The window's state as the close codes read it.
struct CloseState {
  int mainPage = 0;   // main_tablayout
  int innerPage = 0;  // page_layout
  int progress = 0;
  bool failed = false;  // text_fail_retry shown
  bool launching = false;
};

CloseReport CloseReportOf(const CloseState& state);

}  // namespace window

#endif  // WEBSETUP_WINDOW_CLOSE_REPORT_H_
