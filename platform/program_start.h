#ifndef WEBSETUP_PLATFORM_PROGRAM_START_H_
#define WEBSETUP_PLATFORM_PROGRAM_START_H_

// What a program is given at its start: its arguments and its standard
// output. On Windows the arguments come from GetCommandLineW, since main's
// argv is in the ANSI code page and loses every character it cannot show,
// and a windowed program has no console until it asks for one
// (AllocConsole). On Linux argv is already the bytes the caller gave, and
// standard output always exists. Main thread, before other threads start.

#include <string>
#include <vector>

namespace platform {

// The arguments after the program's name, in UTF-8.
std::vector<std::string> programArguments(int argc, char** argv);

// `show` (the debug run): standard output goes to a console the user sees.
// Otherwise it goes nowhere, so log lines meant for the console cost
// nothing and block on no terminal.
void routeStandardOutput(bool show);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_PROGRAM_START_H_
