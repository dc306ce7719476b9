#ifndef WEBSETUP_TESTS_CRASH_CRASH_TEST_SUPPORT_H_
#define WEBSETUP_TESTS_CRASH_CRASH_TEST_SUPPORT_H_

// What the crash tests share: a real websetup with every place it writes
// inside a test folder, and reading what maker-services received as a
// report.

#include <json/json.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace crash_test {

// The path at which this test reaches a file that maker-services (a
// program of the build machine) names: the same on Linux, the Unix path's
// drive path under Wine (posix/ and win32/crash_test_support_*.cc).
std::string LocalPath(const std::string& buildMachinePath);

// The real websetup, copied into a test folder so that its developer
// settings file is the test's, with its log folder, cache, registry, lock
// and services pointed inside that folder and at `servicesBase`.
class ReportRun {
 public:
  ReportRun(const testing_support::TempDir& tmp, const std::string& servicesBase);

  const std::string& program() const { return program_; }
  const std::map<std::string, std::string>& env() const { return env_; }
  // The folder where the setup's logs, dumps and report archives go.
  std::string logDir() const;
  // Names of the log files (not the copies) holding `text`.
  std::vector<std::string> logsContaining(const std::string& text) const;
  // Names of the files in logDir() ending with `suffix`.
  std::vector<std::string> filesEndingWith(const std::string& suffix) const;
  // Runs "websetup <args>" to its end; returns its exit code as
  // testing_support::Subprocess::wait does.
  int run(const std::vector<std::string>& args) const;

 private:
  std::string program_;
  std::string root_;
  std::map<std::string, std::string> env_;
};

// One upload as maker-services received it.
struct Upload {
  std::string fileName;                       // the "file" part's file name
  std::vector<std::string> fieldOrder;        // part names, in order
  std::map<std::string, std::string> fields;  // text parts
  std::string md5;                            // of the bytes received
  std::string savedPath;                      // where maker-services kept them
  // The archive's entries (name, content) in archive order.
  std::vector<std::pair<std::string, std::string>> entries;
};

// Reads the journal line of an upload and the archive it saved.
Upload ReadUpload(const Json::Value& line);

// The entries of the zip archive at `path`, in archive order.
std::vector<std::pair<std::string, std::string>> ZipEntries(const std::string& path);

// MD5 of the file at `path`, 32 lower-case hex digits.
std::string FileMd5(const std::string& path);

// Sets mode `key` of the maker-services at `base` (POST /control/mode).
bool SetMode(const std::string& base, const std::string& key, const std::string& value);

}  // namespace crash_test

#endif  // WEBSETUP_TESTS_CRASH_CRASH_TEST_SUPPORT_H_
