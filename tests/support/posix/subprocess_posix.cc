#include "support/subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace testing_support {

namespace {

std::string uniqueOutputPath(const char* tag) {
  static int counter = 0;
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/websetup-child-" + std::to_string(getpid()) +
         "-" + std::to_string(++counter) + tag;
}

int decodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, const std::string& cwd)
    : outPath_(uniqueOutputPath(".out")), errPath_(uniqueOutputPath(".err")) {
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    setpgid(0, 0);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
}

Subprocess::~Subprocess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  unlink(outPath_.c_str());
  unlink(errPath_.c_str());
}

int Subprocess::wait(std::chrono::milliseconds limit) {
  if (reaped_) return decodeStatus(status_);
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      return decodeStatus(status_);
    }
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Subprocess::signal(int sig) {
  if (!reaped_) kill(pid_, sig);
}

std::string Subprocess::output() const { return readFile(outPath_); }
std::string Subprocess::errors() const { return readFile(errPath_); }

int runToEnd(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
             std::string* out, const std::map<std::string, std::string>& env) {
  Subprocess child(argv, env);
  int rc = child.wait(limit);
  if (out) *out = child.output();
  return rc;
}

std::string binPath(const std::string& name) {
  return std::string(WEBSETUP_BUILD_DIR) + "/bin/" + name;
}

}  // namespace testing_support
