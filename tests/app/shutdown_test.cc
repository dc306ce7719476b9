// The end of a setup run, in a child process of its own: what is torn down
// depends on whether the telemetry sender has ended.

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/startup.h"
#include "app/startup_hooks.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;

std::string g_marker;

// Runs a setup whose window closes at once, whose window threads' wait
// says `threadsEnded` and whose telemetry wait says `senderEnded`, in a
// child; true when the child's static clean-up ran (an at-exit function
// registered before the run left its marker).
bool staticCleanUpRan(bool threadsEnded, bool senderEnded, int* exitCode) {
  TempDir tmp;
  g_marker = tmp.file("marker");
  const pid_t child = fork();
  if (child == 0) {
    setenv("APPDATA", tmp.file("appdata").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", tmp.path().c_str(), 1);
    setenv("WEBSETUP_REGISTRY", tmp.file("registry").c_str(), 1);
    setenv("WEBSETUP_SERVICES_BASE", "http://127.0.0.1:9", 1);
    std::atexit([] {
      if (FILE* f = std::fopen(g_marker.c_str(), "w")) std::fclose(f);
    });
    // A window that closes at once, whose threads have ended or not, and a
    // sender that has ended or not.
    class NoWindow : public app::WindowRunnerHooks {
     public:
      explicit NoWindow(bool ended) : ended_(ended) {}
      void Run(const common::ProcessIdentity&, const app::ActivationRegistrar&) override {}
      bool WaitThreads() override { return ended_; }
      void Show32BitRefusal() override {}

     private:
      bool ended_;
    } window(threadsEnded);
    class Sender : public app::TelemetryHooks {
     public:
      explicit Sender(bool ended) : ended_(ended) {}
      void Init(const app::TelemetryInit&) override {}
      void AddEvent(const std::string&, const std::string&, const std::string&, bool) override {}
      bool WaitForExit() override { return ended_; }

     private:
      bool ended_;
    } telemetry(senderEnded);
    app::StartupHooks hooks = app::DefaultStartupHooks();
    hooks.window = &window;
    hooks.telemetry = &telemetry;
    std::exit(app::RunWebsetup(L"", hooks) == 0 ? 0 : 3);
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  *exitCode = WEXITSTATUS(status);
  return std::filesystem::exists(g_marker);
}

// A sender still in a request when the exit wait ran out, or a window
// thread that outlived its wait, would otherwise find libcurl cleaned up
// and the program's statics destroyed under it.
TEST(ShutdownTest, NoCleanUpUnderARunningThread) {
  int code = -1;
  EXPECT_FALSE(staticCleanUpRan(true, false, &code));
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(staticCleanUpRan(false, true, &code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(staticCleanUpRan(true, true, &code));
  EXPECT_EQ(code, 0);
}

}  // namespace
