#ifndef WEBSETUP_TESTS_ENGINE_ENGINE_TEST_ENV_H_
#define WEBSETUP_TESTS_ENGINE_ENGINE_TEST_ENV_H_

// Shared helpers of the engine tests: captured log lines and events.

#include <string>
#include <vector>

#include "common/mutex.h"

namespace engine_test {

// Everything the engine logged and raised since the last clear(). The
// process-wide instance is filled by hooks installed at start-up.
class Recorder {
 public:
  static Recorder& instance();
  void clear();
  void addLog(const std::string& line);
  void addEvent(const std::string& text);
  bool logged(const std::string& part) const;
  // How many lines hold `part`.
  int logCount(const std::string& part) const;
  int eventCount(const std::string& text) const;
  std::vector<std::string> events() const;

 private:
  mutable common::Mutex mu_;
  std::vector<std::string> logs_ GUARDED_BY(mu_);
  std::vector<std::string> events_ GUARDED_BY(mu_);
};

// Installs the recording event hooks (again: a test may have replaced them).
void installRecordingHooks();

}  // namespace engine_test

#endif  // WEBSETUP_TESTS_ENGINE_ENGINE_TEST_ENV_H_
