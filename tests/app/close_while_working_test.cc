// Closing the real program while its workers are in their longest waits:
// a banner picture whose download has stalled, and the installer running.
// The process must end by itself, soon and cleanly; in the sanitizer build
// this is where a thread left running over freed memory shows.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

#ifdef SAMPLE_INSTALLER_DIR
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testing_support::TempDir;

// The installer's run after the close: the process waits for it, as it
// waits for every installer it started.
constexpr int kInstallerSeconds = 3;

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(CloseWhileWorkingTest, StalledBannerAndRunningInstallerEndTheProcessSoonAndCleanly) {
  TempDir tmp;
  const std::string served = tmp.file("served");
  fs::create_directories(served + "/banners/en");
  for (const char* name : {"setup_orlastra.exe", "downloader.xml"}) {
    fs::copy_file(std::string(SAMPLE_INSTALLER_DIR) + "/" + name, served + "/" + name);
  }
  // One banner, whose picture stops coming after its first bytes and never
  // ends: only the setup's own stop can end that download.
  std::ofstream(served + "/banners/en/1.png", std::ios::binary) << std::string(64 * 1024, 'p');
  std::ofstream(served + "/banners/en/banners.json")
      << R"([{"banner_url":"@BASE@/faults/stall-after=1000/banners/en/1.png","sort":1}])";
  testing_support::MakerServices services(served);

  // The program reads its developer settings beside itself: AutoRun presses
  // Install, as an automated run does.
  const std::string setup = tmp.file("setup");
  fs::create_directories(setup);
  const std::string exe = setup + "/websetup";
  fs::copy_file(testing_support::binPath("websetup"), exe);
  std::ofstream(setup + "/qm_downloader.cfg") << "[Settings]\nAutoRun=1\n";
  for (const char* folder : {"home", "tmp", "run", "appdata", "cache", "programs"}) {
    fs::create_directories(tmp.file(folder));
  }
  const std::string argsFile = tmp.file("installer-args.txt");
  testing_support::Subprocess run(
      {exe},
      {{"WEBSETUP_UI_HOST", "headless"},
       {"HOME", tmp.file("home")},
       {"TMPDIR", tmp.file("tmp")},
       {"XDG_RUNTIME_DIR", tmp.file("run")},
       {"WEBSETUP_RUN_ROOT", tmp.file("run")},
       {"LANG", "en_US.UTF-8"},
       {"LC_ALL", "en_US.UTF-8"},
       {"WEBSETUP_SERVICES_BASE", services.baseUrl()},
       {"WEBSETUP_TRUSTED_CA", std::string(SAMPLE_INSTALLER_DIR) + "/test-ca.pem"},
       {"WEBSETUP_SIGNER_PINS", std::string(SAMPLE_INSTALLER_DIR) + "/signer.sha256"},
       {"WEBSETUP_REGISTRY", tmp.file("registry")},
       {"WEBSETUP_CACHE_ROOT", tmp.file("cache")},
       {"WEBSETUP_OPEN_COMMAND", "/bin/true"},
       {"APPDATA", tmp.file("appdata")},
       {"ProgramFiles", tmp.file("programs")},
       {"ORLASTRA_STARTED_FILE", tmp.file("product-started.txt")},
       {"SAMPLE_INSTALLER_SECONDS", std::to_string(kInstallerSeconds)},
       {"SAMPLE_INSTALLER_ARGS_FILE", argsFile}},
      setup);

  // The installer writes its arguments as it starts; the banner picture is
  // usually stalled long before, but a loaded machine may ask for it later.
  auto pictureAsked = [&] {
    for (const Json::Value& line : services.journal()) {
      if (line["path"].asString().find("/banners/en/1.png") != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(testing_support::waitFor(
      [&] { return (fs::exists(argsFile) && pictureAsked()) || run.wait(milliseconds(0)) >= 0; },
      seconds(120)))
      << run.errors();
  ASSERT_TRUE(fs::exists(argsFile)) << "the setup ended before its installer ran:\n"
                                    << run.errors();
  const auto closed = std::chrono::steady_clock::now();
  run.signal(SIGTERM);  // the session's end closes the window as its close button does

  // The installer is waited for; nothing else may hold the process.
  const int code = run.wait(seconds(kInstallerSeconds + 60));
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - closed).count();
  ASSERT_NE(code, -1) << "the setup did not end after its window closed";
  EXPECT_EQ(code, 0) << run.errors();
  const std::string errors = run.errors();
  EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
  EXPECT_LT(took, kInstallerSeconds + 5.0) << "the close waited for more than the installer";

  // The stalled picture ended because the setup left it: its response was
  // cut after the bytes that came before the stall.
  // The server writes a response's journal line once it notices the
  // response has ended, a moment after the setup left.
  std::vector<Json::Value> pictures;
  testing_support::waitFor(
      [&] {
        pictures.clear();
        for (const Json::Value& line : services.journal()) {
          if (line["path"].asString().find("/banners/en/1.png") != std::string::npos &&
              line["method"].asString() == "GET") {
            pictures.push_back(line);
          }
        }
        return !pictures.empty();
      },
      seconds(5));
  ASSERT_FALSE(pictures.empty()) << "the banner picture was never asked for";
  EXPECT_LE(pictures.back()["bytes_sent"].asInt64(), 1000);

  // The whole shutdown ran, without leaving a worker behind.
  std::string log;
  for (const auto& entry : fs::recursive_directory_iterator(tmp.path())) {
    if (entry.is_regular_file() && entry.path().extension() == ".log" &&
        entry.path().string().find("/served/") == std::string::npos) {
      log += readAll(entry.path().string());
    }
  }
  EXPECT_NE(log.find(" Wait exit 3"), std::string::npos)
      << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
  EXPECT_EQ(log.find("still running"), std::string::npos);
}

}  // namespace
#endif  // SAMPLE_INSTALLER_DIR
