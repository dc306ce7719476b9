#include "sample_installer/sample_installer_support.h"

#include <filesystem>

namespace sample_installer_test {

std::string nativePath(const std::string& path) {
  std::filesystem::path p(std::u8string(path.begin(), path.end()));
  const std::u8string text = p.make_preferred().u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace sample_installer_test
