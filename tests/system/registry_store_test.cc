#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "system/system_facts.h"

namespace {

using platform::PlatformResult;
using platform::RegistryHive;
using platform::RegistryType;
using platform::RegistryValue;

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("WEBSETUP_REGISTRY", dir_.path().c_str(), 1); }
  void TearDown() override { unsetenv("WEBSETUP_REGISTRY"); }

  static RegistryValue text(const std::string& t) {
    RegistryValue v;
    v.text = t;
    return v;
  }
  std::string valuesFile(const std::string& keyFolder) const {
    return dir_.path() + "/HKLM/" + keyFolder + "/@values";
  }

  testing_support::TempDir dir_;
};

// Types survive a round trip, and key and value names ignore case.
TEST_F(RegistryStoreTest, RoundTripsValuesIgnoringCase) {
#ifdef _WIN32
  GTEST_SKIP() << "the file store is the Linux registry; tests/platform/win32/registry_win_test.cc "
                  "tests the real one";
#endif
  RegistryValue dword;
  dword.type = RegistryType::kDword;
  dword.number = 4294967295u;
  RegistryValue multi;
  multi.type = RegistryType::kMultiString;
  multi.texts = {"\\??\\C:\\a", "", "b\nc"};
  ASSERT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, "SOFTWARE\\Quillmont\\App", "Path",
                                    text("/opt/a b\n\xe4\xb8\xad")),
            PlatformResult::kOk);
  ASSERT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, "software/quillmont/APP", "Count",
                                    dword),
            PlatformResult::kOk);
  ASSERT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, "SOFTWARE\\Quillmont\\App",
                                    "Moves", multi),
            PlatformResult::kOk);

  RegistryValue got;
  ASSERT_EQ(
      platform::registryRead(RegistryHive::kLocalMachine, "Software\\QUILLMONT\\app", "PATH", &got),
      PlatformResult::kOk);
  EXPECT_EQ(got.text, "/opt/a b\n\xe4\xb8\xad");
  ASSERT_EQ(platform::registryRead(RegistryHive::kLocalMachine, "SOFTWARE\\Quillmont\\App", "count",
                                   &got),
            PlatformResult::kOk);
  EXPECT_EQ(got.number, 4294967295u);
  ASSERT_EQ(platform::registryRead(RegistryHive::kLocalMachine, "SOFTWARE\\Quillmont\\App", "Moves",
                                   &got),
            PlatformResult::kOk);
  EXPECT_EQ(got.texts, multi.texts);
  // The other hive is another store; the 32-bit view is the same one.
  EXPECT_EQ(
      platform::registryRead(RegistryHive::kCurrentUser, "SOFTWARE\\Quillmont\\App", "Path", &got),
      PlatformResult::kNotFound);
  EXPECT_EQ(platform::registryRead(RegistryHive::kLocalMachine,
                                   "SOFTWARE\\WOW6432Node\\Quillmont\\App", "Path", &got),
            PlatformResult::kOk);
  EXPECT_EQ(platform::registryDeleteValue(RegistryHive::kLocalMachine, "SOFTWARE\\Quillmont\\App",
                                          "PATH"),
            PlatformResult::kOk);
  EXPECT_EQ(
      platform::registryRead(RegistryHive::kLocalMachine, "SOFTWARE\\Quillmont\\App", "Path", &got),
      PlatformResult::kNotFound);
  EXPECT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, "SOFTWARE\\..\\x", "v", text("x")),
            PlatformResult::kInvalidArgument);
}

// A damaged values file reads as missing; a later write keeps the damaged
// copy aside instead of overwriting it, and the key works again.
TEST_F(RegistryStoreTest, CorruptFileReadsAsMissingAndIsKeptAside) {
#ifdef _WIN32
  GTEST_SKIP() << "the file store is the Linux registry; tests/platform/win32/registry_win_test.cc "
                  "tests the real one";
#endif
  ASSERT_TRUE(FuntionImpl::SetRegString(L"SOFTWARE\\GuidGuidold", L"guid", L"1234"));
  std::string file = testing_support::readFile(valuesFile("software/guidguidold"));
  ASSERT_FALSE(file.empty());
  file[file.size() / 2] ^= 0x01;
  ASSERT_TRUE(testing_support::writeFile(valuesFile("software/guidguidold"), file));
  EXPECT_EQ(FuntionImpl::GetRegString(L"SOFTWARE\\GuidGuidold", L"guid"), L"");

  ASSERT_TRUE(FuntionImpl::SetRegString(L"SOFTWARE\\GuidGuidold", L"user_id", L"1001"));
  EXPECT_EQ(testing_support::readFile(dir_.path() + "/HKLM/software/guidguidold/@values.corrupt"),
            file);
  EXPECT_EQ(FuntionImpl::GetRegString(L"SOFTWARE\\GuidGuidold", L"user_id"), L"1001");

  // A truncated file (a writer that died mid-write without the rename) too.
  std::string good = testing_support::readFile(valuesFile("software/guidguidold"));
  ASSERT_TRUE(testing_support::writeFile(valuesFile("software/guidguidold"),
                                         good.substr(0, good.size() - 5)));
  EXPECT_EQ(FuntionImpl::GetRegString(L"SOFTWARE\\GuidGuidold", L"user_id"), L"");
}

TEST_F(RegistryStoreTest, RegStringLimitsAndTypes) {
  const std::wstring long260(260, L'x');
  ASSERT_TRUE(FuntionImpl::SetRegString(L"SOFTWARE\\T", L"a", long260));
  EXPECT_EQ(FuntionImpl::GetRegString(L"SOFTWARE\\T", L"a"), long260);
  ASSERT_TRUE(FuntionImpl::SetRegString(L"SOFTWARE\\T", L"b", long260 + L"x"));
  EXPECT_EQ(FuntionImpl::GetRegString(L"SOFTWARE\\T", L"b"), L"");
  RegistryValue dword;
  dword.type = RegistryType::kDword;
  ASSERT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, "SOFTWARE\\T", "c", dword),
            PlatformResult::kOk);
  EXPECT_EQ(FuntionImpl::GetRegString(L"SOFTWARE\\T", L"c"), L"");
}

// Two processes and this one write 3 x 150 values into one key at once:
// every value is there afterwards and the file parses.
TEST_F(RegistryStoreTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
  const std::string key = "SOFTWARE\\Concurrent";
  const std::map<std::string, std::string> env = {{"WEBSETUP_REGISTRY", dir_.path()}};
  testing_support::Subprocess a({REGISTRY_WRITER_PATH, key, "a", "150"}, env);
  testing_support::Subprocess b({REGISTRY_WRITER_PATH, key, "b", "150"}, env);
  for (int i = 0; i < 150; ++i) {
    ASSERT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, key, "c-" + std::to_string(i),
                                      text("value of c " + std::to_string(i))),
              PlatformResult::kOk);
  }
  ASSERT_EQ(a.wait(std::chrono::seconds(60)), 0) << a.errors();
  ASSERT_EQ(b.wait(std::chrono::seconds(60)), 0) << b.errors();
  for (const char* prefix : {"a", "b", "c"}) {
    for (int i = 0; i < 150; ++i) {
      RegistryValue got;
      const std::string name = std::string(prefix) + "-" + std::to_string(i);
      ASSERT_EQ(platform::registryRead(RegistryHive::kLocalMachine, key, name, &got),
                PlatformResult::kOk)
          << name;
      EXPECT_EQ(got.text, "value of " + std::string(prefix) + " " + std::to_string(i));
    }
  }
#ifndef _WIN32
  // The store's files; Windows keeps the values in its own registry.
  for (const auto& entry :
       std::filesystem::directory_iterator(dir_.path() + "/HKLM/software/concurrent")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "@values" || name == "@lock") << "left behind: " << name;
  }
#endif
}

}  // namespace
