#ifndef WEBSETUP_TESTS_SUPPORT_SUBPROCESS_H_
#define WEBSETUP_TESTS_SUPPORT_SUBPROCESS_H_

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// A child process started by a test, its output captured in files. Killed
// (SIGKILL) and reaped when the object goes if still running.
class Subprocess {
 public:
  // Starts `argv[0]` with `argv` in folder `cwd` (empty: ours), with `env`
  // added to our environment. Standard output and error go to files.
  Subprocess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
             const std::string& cwd = "");
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
