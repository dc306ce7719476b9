#include "support/maker_services.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace testing_support {

namespace {

std::string uniquePath(const char* tag) {
  static int counter = 0;
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/websetup-maker-" + std::to_string(getpid()) +
         "-" + std::to_string(++counter) + tag;
}

// Waits up to `limit` for `pid` to end; true when it was reaped.
bool reapWithin(int pid, std::chrono::milliseconds limit) {
  return waitFor(
      [pid] {
        int status = 0;
        return waitpid(pid, &status, WNOHANG) == pid;
      },
      limit);
}

}  // namespace

MakerServices::MakerServices(const std::string& root, const std::vector<std::string>& extraArgs)
    : journalPath_(uniquePath(".journal")), portFile_(uniquePath(".port")) {
  std::vector<std::string> argv = {binPath("maker-services"),
                                   "--port",
                                   "0",
                                   "--port-file",
                                   portFile_,
                                   "--root",
                                   root,
                                   "--journal",
                                   journalPath_};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("maker-services: fork failed");
  if (pid_ == 0) {
    // A test that dies without its destructors (a sanitizer's abort) must
    // not leave the server behind: ctest would wait on its output for ever.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  // The port file appears (renamed into place, whole) once the server has
  // bound its socket; the server then accepts connections at once.
  bool exited = false;
  bool ready = waitFor(
      [&] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
          exited = true;
          return true;
        }
        port_ = std::atoi(readFile(portFile_).c_str());
        return port_ > 0;
      },
      std::chrono::seconds(10));
  if (exited || !ready) {
    if (!exited) {
      kill(pid_, SIGKILL);
      reapWithin(pid_, std::chrono::seconds(5));
    }
    pid_ = -1;
    unlink(portFile_.c_str());
    unlink(journalPath_.c_str());
    throw std::runtime_error("maker-services did not start (" + argv[0] + ")");
  }
}

MakerServices::~MakerServices() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (!reapWithin(pid_, std::chrono::seconds(10))) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  unlink(portFile_.c_str());
  unlink(journalPath_.c_str());
}

}  // namespace testing_support
