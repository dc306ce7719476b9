#ifndef WEBSETUP_TOOLS_SAMPLE_INSTALLER_SWITCHES_H_
#define WEBSETUP_TOOLS_SAMPLE_INSTALLER_SWITCHES_H_

// The installer's command line: the Inno-Setup-style switches a web setup
// passes, already split into arguments the way Windows splits a command
// line (so `/DIR="a b"` arrives as `/DIR=a b`). Switch names are compared
// without regard to case; a value that still carries its quotes loses one
// surrounding pair. Free functions; thread-safe.

#include <optional>
#include <string>
#include <vector>

namespace sample_installer {

struct Switches {
  bool verySilent = false;      // /VERYSILENT
  bool silent = false;          // /SILENT
  bool noStartupPrompt = false; // /SP-
  bool noRestart = false;       // /NORESTART
  std::optional<std::string> dir;   // /DIR=
  std::optional<std::string> lang;  // /LANG=
  std::optional<std::string> log;   // /LOG= (an empty value: /LOG alone)
  std::optional<std::string> track; // /sptrack TAG (or /sptrack=TAG)
  std::vector<std::string> unknown; // anything else, kept for the log
};

// Reads `args` (without the program name).
Switches parseSwitches(const std::vector<std::string>& args);

}  // namespace sample_installer

#endif  // WEBSETUP_TOOLS_SAMPLE_INSTALLER_SWITCHES_H_
