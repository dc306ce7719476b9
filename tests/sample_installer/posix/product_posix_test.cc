#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

using testing_support::readFile;
using testing_support::Subprocess;
using testing_support::TempDir;
using testing_support::waitFor;
using testing_support::writeFile;

// The installed product's program, run without a display as the tests and
// automated runs start it.
class OrlastraProductTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> headless() const {
    return {{"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""},
            {"ORLASTRA_STARTED_FILE", started_},
            {"ORLASTRA_STOP_FILE", stop_}};
  }

  TempDir tmp_;
  const std::string started_ = tmp_.file("started");
  const std::string stop_ = tmp_.file("stop");
};

// Catches a report that is missing, partial or names another process, and
// a product that ignores one of its ways to stop (a setup or a test would
// hang on it).
TEST_F(OrlastraProductTest, ReportsItsStartAndEndsOnEachStopRequest) {
  enum class Stop { kSigterm, kSigint, kStopFile };
  for (Stop stop : {Stop::kSigterm, Stop::kSigint, Stop::kStopFile}) {
    std::filesystem::remove(started_);
    std::filesystem::remove(stop_);
    Subprocess product({ORLASTRA_PRODUCT_PATH, "--from-setup", "two words"}, headless());
    ASSERT_TRUE(
        waitFor([&] { return std::filesystem::exists(started_); }, std::chrono::seconds(10)));
    EXPECT_EQ(readFile(started_), "pid=" + std::to_string(product.pid()) +
                                      "\nmode=headless\narg=--from-setup\narg=two words\n");
    EXPECT_EQ(product.wait(std::chrono::milliseconds(200)), -1) << "ended by itself";
    if (stop == Stop::kStopFile) {
      ASSERT_TRUE(writeFile(stop_, ""));
    } else {
      product.signal(stop == Stop::kSigterm ? SIGTERM : SIGINT);
    }
    EXPECT_EQ(product.wait(std::chrono::seconds(5)), 0) << static_cast<int>(stop);
  }
}

}  // namespace
