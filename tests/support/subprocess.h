#ifndef WEBSETUP_TESTS_SUPPORT_SUBPROCESS_H_
#define WEBSETUP_TESTS_SUPPORT_SUBPROCESS_H_

#include <chrono>
#include <csignal>
#include <map>
#include <string>
#include <vector>

// The C runtime of Windows names only the signals it raises itself; the
// tests end children with these numbers all the same.
#ifndef SIGKILL
#define SIGKILL 9
#endif

namespace testing_support {

// A child process started by a test, its output captured in files. Killed
// (SIGKILL) and reaped when the object goes if still running.
//
// On Windows a child that is a program of the build machine (under Wine:
// an ELF file or a script, such as maker-services or curl) gets Unix paths
// for its Windows path arguments, and its Unix pid, exit status and
// signals; a Windows child "receives" a signal by ending with 128+signal,
// the status a POSIX parent reads.
class Subprocess {
 public:
  // Starts `argv[0]` with `argv` in folder `cwd` (empty: ours), with `env`
  // added to our environment. Standard output and error go to files.
  Subprocess(const std::vector<std::string>& argv,
             const std::map<std::string, std::string>& env = {}, const std::string& cwd = "");
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  int pid() const { return pid_; }
  // Waits up to `limit` for the child to end. Returns its exit code, 128+signal
  // when a signal ended it, or -1 when it is still running at the limit.
  int wait(std::chrono::milliseconds limit);
  // Sends `sig` to the child.
  void signal(int sig);
  std::string output() const;  // standard output so far
  std::string errors() const;  // standard error so far

 private:
  int pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string outPath_;
  std::string errPath_;
#ifdef _WIN32
  void* process_ = nullptr;  // HANDLE of a Windows child
  std::string statusPath_;   // where a host program's status appears
#endif
};

// Runs a child to its end (at most `limit`); returns its exit code as wait().
int runToEnd(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
             std::string* out = nullptr, const std::map<std::string, std::string>& env = {});

// Path of a program the build put in bin/ ("websetup", "maker-services").
std::string binPath(const std::string& name);

// Polls `condition` every 5 ms until it holds or `limit` passes.
template <typename Pred>
bool waitFor(Pred condition, std::chrono::milliseconds limit);

}  // namespace testing_support

#include <thread>

namespace testing_support {
template <typename Pred>
bool waitFor(Pred condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
}  // namespace testing_support

#endif  // WEBSETUP_TESTS_SUPPORT_SUBPROCESS_H_
