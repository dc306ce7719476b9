// sample-payload-pack as the build runs it: a step that fails must say
// which file and why, or a parallel build stops on a bare tool name.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Subprocess;
using testing_support::TempDir;

// Runs the tool; *errors gets its standard error.
int pack(const std::vector<std::string>& args, std::string* errors) {
  std::vector<std::string> argv = {SAMPLE_PAYLOAD_PACK};
  argv.insert(argv.end(), args.begin(), args.end());
  Subprocess child(argv);
  const int rc = child.wait(std::chrono::seconds(20));
  *errors = child.errors();
  return rc;
}

// Catches an output that cannot be opened reported with an empty reason
// (the first build of a fresh clone, packing before its folder existed),
// and a failure that leaves a half-written file behind.
TEST(SamplePayloadPackTest, FailureNamesTheFileAndTheReason) {
  TempDir tmp;
  const std::string input = tmp.file("readme.txt");
  ASSERT_TRUE(testing_support::writeFile(input, "hello\n"));
  std::string errors;

  const std::string missingFolder = tmp.file("not-yet/setup.exe");
  EXPECT_EQ(pack({"--stub", input, "--out", missingFolder, "readme.txt=" + input}, &errors), 1);
  EXPECT_NE(errors.find(tmp.file("not-yet/")), std::string::npos) << errors;
  EXPECT_NE(errors.find("No such file or directory"), std::string::npos) << errors;

  const std::string out = tmp.file("setup.exe");
  EXPECT_EQ(pack({"--stub", input, "--out", out, "readme.txt=" + tmp.file("gone.txt")}, &errors),
            1);
  EXPECT_NE(errors.find(tmp.file("gone.txt") + ": No such file or directory"), std::string::npos)
      << errors;
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out + ".tmp"));

  EXPECT_EQ(pack({"--stub", tmp.file("no-stub"), "--out", out, "readme.txt=" + input}, &errors), 1);
  EXPECT_NE(errors.find(tmp.file("no-stub") + ": No such file or directory"), std::string::npos)
      << errors;
  EXPECT_FALSE(fs::exists(out + ".tmp"));
}

}  // namespace
