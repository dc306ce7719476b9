#include "platform/program_start.h"

#include <cstdio>

namespace platform {

std::vector<std::string> programArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

void routeStandardOutput(bool show) {
  if (show) return;
  if (std::freopen("/dev/null", "w", stdout) == nullptr) {
    // Nothing to do: the lines then go wherever standard output goes.
  }
}

}  // namespace platform
