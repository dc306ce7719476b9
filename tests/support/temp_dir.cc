#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

namespace {

// Our paths are UTF-8 text on every system.
std::filesystem::path fsPath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(fsPath(path_), ec);
}

bool writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

std::string readFile(const std::string& path) {
  std::ifstream in(fsPath(path), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace testing_support
