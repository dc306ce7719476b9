#ifndef WEBSETUP_APP_COMMAND_LINE_H_
#define WEBSETUP_APP_COMMAND_LINE_H_

// The command line and the mode it selects.

#include <string>
#include <vector>

namespace app {

enum class EnumRunMode {
  kSetup = 0,        // the setup window
  kDebugSetup = 1,   // the setup window, log lines shown on the console
  kCrashReport = 2,  // pack and upload the crash files named after "-dmp "
  kCloseReport = 3,  // pack and upload the close report named after "-close"
};

// The command line as one text: the arguments after the program name
// (UTF-8) joined by single blanks, as the Windows entry point receives it.
std::wstring JoinArguments(const std::vector<std::string>& args);
std::wstring JoinArguments(int argc, char** argv);

// Chooses the mode: the exact text "debug"; else "-dmp " anywhere (it wins
// over "-close"); else "-close" anywhere; else setup.
EnumRunMode ChooseRunMode(const std::wstring& commandLine);

// What a report run uploads.
struct ReportArguments {
  std::string label;      // "CrashDmp", or the close code such as "close03"
  std::wstring argument;  // the file names that follow
};

// The arguments of a crash-report run: the text from five characters after
// "-dmp " to the end. REQUIRES: ChooseRunMode() gave kCrashReport.
ReportArguments CrashReportArguments(const std::wstring& commandLine);

// The arguments of a close-report run: the close code is the seven
// characters after the leading dash, the argument the text from nine
// characters after "-close". Texts shorter than that give what there is.
// REQUIRES: ChooseRunMode() gave kCloseReport.
ReportArguments CloseReportArguments(const std::wstring& commandLine);

}  // namespace app

#endif  // WEBSETUP_APP_COMMAND_LINE_H_
