// Entry point of the web setup.

#include <signal.h>
#include <stdio.h>

#include "app/command_line.h"
#include "app/startup.h"
#include "app/production_hooks.h"

int main(int argc, char** argv) {
  // Quit requests are taken by the message loop alone: block them before
  // any thread exists so every thread inherits the mask.
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, SIGINT);
  sigaddset(&quit, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &quit, nullptr);

  const std::wstring commandLine = app::JoinArguments(argc, argv);
  // A setup is a windowed program: only the "debug" run shows its log lines
  // on the console.
  if (app::ChooseRunMode(commandLine) != app::EnumRunMode::kDebugSetup) {
    if (freopen("/dev/null", "w", stdout) == nullptr) {
      // Nothing to do: the lines then go wherever standard output goes.
    }
  }
  return app::RunWebsetup(commandLine, app::ProductionStartupHooks());
}
