// galog.json and the small pure helpers of the telemetry hub.

#include <gtest/gtest.h>
#include <json/json.h>

#include "telemetry/galog.h"
#include "telemetry/single_user_log.h"
#include "tests/support/temp_dir.h"

namespace telemetry {
namespace {

platform::LocalTime Day(int year, int month, int day) {
  platform::LocalTime t;
  t.year = year, t.month = month, t.day = day;
  return t;
}

Json::Value ReadJson(const std::string& path) {
  Json::Value v;
  Json::Reader().parse(testing_support::readFile(path), v);
  return v;
}

// Counts the first start of a day once, and again on the next day.
TEST(GalogTest, FirstRunOfTheDay) {
  testing_support::TempDir dir;
  const std::string path = dir.file("galog.json");
  EXPECT_TRUE(IsFirstRunTodayAt(path, Day(2025, 7, 10)));
  EXPECT_FALSE(IsFirstRunTodayAt(path, Day(2025, 7, 10)));
  EXPECT_TRUE(IsFirstRunTodayAt(path, Day(2025, 7, 11)));
  EXPECT_TRUE(IsFirstRunTodayAt(path, Day(2025, 8, 11)));
  EXPECT_EQ(ReadJson(path)["month"], 8);
  // A damaged file counts as empty and is rewritten whole.
  testing_support::writeFile(path, "{\"year\": 2025, ");
  EXPECT_TRUE(IsFirstRunTodayAt(path, Day(2025, 8, 11)));
  EXPECT_FALSE(IsFirstRunTodayAt(path, Day(2025, 8, 11)));
}

TEST(GalogTest, VersionUpdateKeepsTheDate) {
  testing_support::TempDir dir;
  const std::string path = dir.file("galog.json");
  UpdateGalogVersionAt(path, "1.0.0.1");
  EXPECT_EQ(ReadJson(path), ReadJson(path));
  EXPECT_EQ(ReadJson(path)["version"], "1.0.0.1");
  EXPECT_FALSE(ReadJson(path).isMember("year"));
  IsFirstRunTodayAt(path, Day(2025, 7, 10));
  UpdateGalogVersionAt(path, "1.0.0.2");
  const Json::Value doc = ReadJson(path);
  EXPECT_EQ(doc["version"], "1.0.0.2");
  EXPECT_EQ(doc["day"], 10);
}

TEST(SingleUserLogHelpersTest, ExeNameTag) {
  EXPECT_EQ(ExeNameTagOf("/opt/x/Setup_ab12.exe"), "ab12");
  EXPECT_EQ(ExeNameTagOf("C:\\dl\\Setup_a_b.exe"), "b");
  EXPECT_EQ(ExeNameTagOf("/opt/x/Setup.exe"), "");
  EXPECT_EQ(ExeNameTagOf("/opt/x_y/websetup"), "");
  EXPECT_EQ(ExeNameTagOf("/opt/x/a.b_c"), "");
}

}  // namespace
}  // namespace telemetry
