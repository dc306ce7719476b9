#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "common/text.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "support/win32/host_paths_win.h"

namespace testing_support {

namespace {

// Longer than any one test may take (ctest stops a binary at 300 s): the
// server of a test process that died without its destructors goes by then.
constexpr int kMaxLifetimeSeconds = 900;

void removeFile(const std::string& path) { DeleteFileW(common::utf8ToWide(path).c_str()); }

}  // namespace

MakerServices::MakerServices(const std::string& root, const std::vector<std::string>& extraArgs)
    : journalPath_(win::scratchPath("maker", ".journal")),
      portFile_(win::scratchPath("maker", ".port")),
      stopFile_(win::scratchPath("maker", ".run")) {
  if (!writeFile(stopFile_, ""))
    throw std::runtime_error("maker-services: cannot write " + stopFile_);
  // Subprocess hands a program of the build machine Unix paths for our
  // Windows ones.
  std::vector<std::string> argv = {binPath("maker-services"),
                                   "--port",
                                   "0",
                                   "--port-file",
                                   portFile_,
                                   "--root",
                                   root,
                                   "--journal",
                                   journalPath_,
                                   "--exit-when-removed",
                                   stopFile_,
                                   "--max-lifetime-seconds",
                                   std::to_string(kMaxLifetimeSeconds)};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  process_ = std::make_unique<Subprocess>(argv);
  // The port file appears (renamed into place, whole) once the server has
  // bound its socket; the server then accepts connections at once.
  bool exited = false;
  bool ready = waitFor(
      [&] {
        if (process_->wait(std::chrono::milliseconds(0)) >= 0) {
          exited = true;
          return true;
        }
        port_ = std::atoi(readFile(portFile_).c_str());
        return port_ > 0;
      },
      std::chrono::seconds(20));
  if (exited || !ready) {
    const std::string errors = process_->errors();
    removeFile(stopFile_);
    process_.reset();
    removeFile(portFile_);
    removeFile(journalPath_);
    throw std::runtime_error("maker-services did not start (" + argv[0] + "): " + errors);
  }
  pid_ = process_->pid();
}

MakerServices::~MakerServices() {
  if (process_) {
    // The server ends by itself once its stop file is gone; the journal is
    // whole when it has exited.
    removeFile(stopFile_);
    if (process_->wait(std::chrono::seconds(10)) < 0) process_->signal(SIGKILL);
    process_.reset();
  }
  removeFile(stopFile_);
  removeFile(portFile_);
  removeFile(journalPath_);
}

}  // namespace testing_support
