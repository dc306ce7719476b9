// Entry point of the web setup.

#include "app/command_line.h"
#include "app/production_hooks.h"
#include "app/startup.h"
#include "crash/crash_handler.h"
#include "platform/program_start.h"
#include "platform/quit_signal.h"

int main(int argc, char** argv) {
  // First of all, so that every later step of start-up is covered. A
  // sanitizer's own handlers are set up before main, so this one replaces
  // them for the fatal signals. Should it fail, the setup runs on without:
  // there is no log yet to say so in.
  (void)crash::InstallCrashHandler();
  // Quit requests are taken by the message loop alone: block them before
  // any thread exists so every thread inherits the mask.
  // Should that fail, a quit request ends the setup the default way.
  (void)platform::blockQuitSignalsInThisThread();

  const std::wstring commandLine = app::JoinArguments(platform::programArguments(argc, argv));
  // A setup is a windowed program: only the "debug" run shows its log lines
  // on the console.
  platform::routeStandardOutput(app::ChooseRunMode(commandLine) == app::EnumRunMode::kDebugSetup);
  app::ProductionServices services;
  return app::RunWebsetup(commandLine, services.Hooks());
}
