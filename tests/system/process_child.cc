// The program the process tests copy where they need a process to run
// from (apps/x/setup.exe, is-AB12.tmp/setup.tmp) and start as the product.
// One binary for both systems, so the tests need no system's own sleep or
// shell. It carries out its arguments in order:
//
//   --cwd FILE        writes its current folder to FILE
//   --elevated FILE   writes 1 or 0 to FILE: platform::runsElevated()
//   --ready FILE      writes "ready" to FILE, once the steps before are done
//   --sleep SECONDS   sleeps
//   --start-as-desktop-user FILE PROGRAM ARGS...
//                     starts PROGRAM with ARGS as asDesktopUser asks and
//                     writes "<result> <pid>" to FILE; takes the rest
//
// Each FILE appears whole (written beside it, then renamed), so a test
// that polls for it never reads half. Exit code 100: arguments that make
// no sense, or a file that could not be written.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/program_start.h"

namespace {

constexpr int kUsage = 100;

namespace fs = std::filesystem;

// Paths travel as UTF-8, which the narrow file calls of Windows do not
// read.
fs::path fromUtf8(const std::string& path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string toUtf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool writeWhole(const std::string& path, const std::string& text) {
  const fs::path whole = fromUtf8(path);
  const fs::path temp = fromUtf8(path + ".part");
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  std::error_code ec;
  fs::rename(temp, whole, ec);
  return !ec;
}

int startAsDesktopUser(const std::vector<std::string>& args, size_t first) {
  platform::SpawnOptions options;
  options.argv.assign(args.begin() + static_cast<std::ptrdiff_t>(first) + 1, args.end());
  options.asDesktopUser = true;
  int pid = -1;
  const platform::PlatformResult r = platform::spawnProcess(options, &pid);
  return writeWhole(args[first], std::to_string(static_cast<int>(r)) + " " + std::to_string(pid))
             ? 0
             : kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::programArguments(argc, argv);
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    const std::string& step = args[i];
    const std::string& value = args[i + 1];
    bool ok = true;
    if (step == "--cwd") {
      ok = writeWhole(value, toUtf8(fs::current_path()));
    } else if (step == "--elevated") {
      ok = writeWhole(value, platform::runsElevated() ? "1" : "0");
    } else if (step == "--ready") {
      ok = writeWhole(value, "ready");
    } else if (step == "--sleep") {
      std::this_thread::sleep_for(std::chrono::seconds(std::atoi(value.c_str())));
    } else if (step == "--start-as-desktop-user" && i + 2 < args.size()) {
      return startAsDesktopUser(args, i + 1);
    } else {
      ok = false;
    }
    if (!ok) return kUsage;
  }
  return args.size() % 2 == 0 ? 0 : kUsage;
}
