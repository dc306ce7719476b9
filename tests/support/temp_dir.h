#ifndef WEBSETUP_TESTS_SUPPORT_TEMP_DIR_H_
#define WEBSETUP_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>

namespace testing_support {

// A fresh folder under $TMPDIR, removed with everything in it when the
// object goes. Owned by one test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `content` to `path`, replacing it. Returns false on failure.
bool writeFile(const std::string& path, const std::string& content);

// The whole content of `path`; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace testing_support

#endif  // WEBSETUP_TESTS_SUPPORT_TEMP_DIR_H_
