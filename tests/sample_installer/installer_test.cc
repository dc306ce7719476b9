#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/registry.h"
#include "sample_installer/sample_installer_support.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::RegistryHive;
using sample_installer_test::nativePath;
using testing_support::readFile;
using testing_support::Subprocess;
using testing_support::TempDir;

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;
const std::string kSigned = kArtefacts + "/setup_orlastra.exe";
// The 32-bit view, where a 32-bit Inno installer (and its stand-in) keeps it.
constexpr char kUninstallKeys[] =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kAppId[] = "{Orlastra}";

// An application id no other run uses, for a registry that every test
// shares (Windows: the Wine prefix's own).
std::string uniqueAppId() {
  static std::atomic<int> counter{0};
  return "{OrlastraTest-" + std::to_string(platform::currentProcessId()) + "-" +
         std::to_string(++counter) + "}";
}

// The real installer file, run as a web setup runs it, into a temporary
// install folder and registry. Where the registry is a store of the
// test's own (Linux), the installer writes its own key; where it is the
// machine's, under an application id of the test's (SAMPLE_INSTALLER_APP_ID),
// removed afterwards.
class SampleInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("WEBSETUP_REGISTRY", registry_.c_str(), 1);
    privateRegistry_ = platform::registryRoot() == registry_;
    appId_ = privateRegistry_ ? kAppId : uniqueAppId();
    key_ = kUninstallKeys + appId_ + "_is1";
  }
  void TearDown() override {
    if (!privateRegistry_) sample_installer_test::removeRegistryKey(key_);
    unsetenv("WEBSETUP_REGISTRY");
  }

  int run(const std::vector<std::string>& args, std::map<std::string, std::string> env = {},
          const std::string& installer = kSigned) {
    std::vector<std::string> argv = {installer};
    argv.insert(argv.end(), args.begin(), args.end());
    env.emplace("SAMPLE_INSTALLER_SECONDS", "0");
    if (!privateRegistry_) env.emplace("SAMPLE_INSTALLER_APP_ID", appId_);
    Subprocess child(argv, env);
    const int rc = child.wait(std::chrono::seconds(20));
    errors_ = child.errors();
    return rc;
  }
  // The switches the setup passes, split as Windows splits them.
  std::vector<std::string> setupArgs(const std::string& lang = "en") const {
    return {"/VERYSILENT",   "/SP-",         "/NORESTART", "/DIR=" + dir_,
            "/LANG=" + lang, "/LOG=" + log_, "/sptrack",   "setup_orlastra.exe"};
  }
  std::string value(const std::string& name) const {
    platform::RegistryValue v;
    if (platform::registryRead(RegistryHive::kLocalMachine, key_, name, &v) !=
        platform::PlatformResult::kOk) {
      return "<missing>";
    }
    return v.text;
  }
  bool keyExists() const { return platform::registryKeyExists(RegistryHive::kLocalMachine, key_); }
  static bool executable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
  }

  TempDir tmp_;
  const std::string registry_ = tmp_.file("registry");
  const std::string dir_ = tmp_.file("Program Files/Orlastra Demo");
  const std::string log_ = tmp_.file("logs/setup_orlastra/Orlastra_Setup_20260131120000.log");
  std::string errors_;
  bool privateRegistry_ = true;
  std::string appId_;
  std::string key_;
};

// Catches a payload read at the wrong offset (the signature not skipped),
// a value written under the wrong name, and a log that is not made.
TEST_F(SampleInstallerTest, InstallsProductWritesUninstallKeyAndLog) {
  const std::string argsFile = tmp_.file("args.txt");
  ASSERT_EQ(run(setupArgs("de"), {{"SAMPLE_INSTALLER_ARGS_FILE", argsFile}}), 0) << errors_;

  const std::string exe = nativePath(dir_ + "/" + SAMPLE_PRODUCT_EXE);
  EXPECT_EQ(readFile(exe), readFile(ORLASTRA_PRODUCT_PATH));
  EXPECT_TRUE(executable(exe));
  EXPECT_TRUE(fs::exists(dir_ + "/readme.txt"));
  EXPECT_FALSE(fs::exists(dir_ + "/manifest"));

  EXPECT_EQ(value("DisplayName"), "Orlastra");
  EXPECT_EQ(value("DisplayVersion"), SAMPLE_PRODUCT_VERSION);
  EXPECT_EQ(value("Publisher"), "Orlastra demo publisher");
  EXPECT_EQ(value("InstallLocation"), nativePath(dir_));
  EXPECT_EQ(value("Inno Setup: App Path"), nativePath(dir_));
  EXPECT_EQ(value("Inno Setup: Language"), "de");
  EXPECT_EQ(value("DisplayIcon"), exe);

  std::string expectedArgs;
  for (const std::string& a : setupArgs("de")) expectedArgs += a + "\n";
  EXPECT_EQ(readFile(argsFile), expectedArgs);
  const std::string log = readFile(log_);
  EXPECT_NE(log.find("Installed " + exe), std::string::npos) << log;
  EXPECT_NE(log.find("Tracking tag: setup_orlastra.exe"), std::string::npos) << log;
  EXPECT_NE(log.find("exit code 0"), std::string::npos) << log;
}

// Catches switch names matched case-sensitively and quotes kept in paths.
TEST_F(SampleInstallerTest, SwitchNamesIgnoreCaseAndValuesLoseLeftoverQuotes) {
  ASSERT_EQ(
      run({"/verysilent", "/Sp-", "/dir=\"" + dir_ + "\"", "/Lang=ja", "/log=\"" + log_ + "\""}), 0)
      << errors_;
  EXPECT_TRUE(fs::exists(dir_ + "/" + SAMPLE_PRODUCT_EXE));
  EXPECT_EQ(value("InstallLocation"), nativePath(dir_));
  EXPECT_EQ(value("Inno Setup: Language"), "ja");
  EXPECT_TRUE(fs::exists(log_));
}

// Catches an installer that guesses a folder when the setup gave none.
TEST_F(SampleInstallerTest, RefusesWithoutDirOnStderrAndInLog) {
  EXPECT_EQ(run({"/VERYSILENT", "/SP-", "/NORESTART", "/LOG=" + log_}), 1);
  EXPECT_NE(errors_.find("/DIR"), std::string::npos) << errors_;
  EXPECT_NE(readFile(log_).find("/DIR"), std::string::npos);
  EXPECT_FALSE(keyExists());
}

// Catches a forced failure that still installs, so a setup would wrongly
// find the product afterwards.
TEST_F(SampleInstallerTest, ForcedExitCodeInstallsNothing) {
  EXPECT_EQ(run(setupArgs(), {{"SAMPLE_INSTALLER_EXIT", "3"}}), 3);
  EXPECT_FALSE(fs::exists(dir_));
  EXPECT_FALSE(keyExists());
  EXPECT_TRUE(fs::exists(log_));
}

// Catches the knob moving every file, or none.
TEST_F(SampleInstallerTest, SubdirKnobMovesOnlyTheMainExecutable) {
  ASSERT_EQ(run(setupArgs(), {{"SAMPLE_INSTALLER_SUBDIR", "bin/x64"}}), 0) << errors_;
  const std::string exe = nativePath(dir_ + "/bin/x64/" + SAMPLE_PRODUCT_EXE);
  EXPECT_TRUE(executable(exe));
  EXPECT_FALSE(fs::exists(dir_ + "/" + SAMPLE_PRODUCT_EXE));
  EXPECT_TRUE(fs::exists(dir_ + "/readme.txt"));
  EXPECT_EQ(value("DisplayIcon"), exe);
  EXPECT_EQ(value("InstallLocation"), nativePath(dir_));
}

// Catches a payload lookup that only works for one signature length, or
// only for signed files.
TEST_F(SampleInstallerTest, FindsPayloadWhateverSignatureFollows) {
  for (const char* name :
       {"setup_orlastra_unsigned.exe", "setup_orlastra_foreign.exe", "setup_orlastra.exe"}) {
    fs::remove_all(dir_);
    ASSERT_EQ(run(setupArgs(), {}, kArtefacts + "/" + name), 0) << name << ": " << errors_;
    EXPECT_EQ(readFile(dir_ + "/" + SAMPLE_PRODUCT_EXE), readFile(ORLASTRA_PRODUCT_PATH)) << name;
  }
}

// Catches an installer that unpacks garbage from a download cut short.
TEST_F(SampleInstallerTest, TruncatedInstallerRefusesToInstall) {
  const std::string copy = tmp_.file("setup_orlastra.exe");
  fs::copy_file(kSigned, copy);
  fs::resize_file(copy, fs::file_size(copy) - 4096);
  EXPECT_EQ(run(setupArgs(), {}, copy), 1);
  EXPECT_NE(errors_.find("payload"), std::string::npos) << errors_;
  EXPECT_FALSE(fs::exists(dir_ + "/" + SAMPLE_PRODUCT_EXE));
}

}  // namespace
