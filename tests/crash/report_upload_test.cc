// Crash and close report runs of the real websetup against maker-services:
// what goes into the archive, how the form names it, what stays on disk.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "crash_test_support.h"
#include "support/maker_services.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

using testing_support::readFile;
using testing_support::writeFile;

constexpr auto kLimit = std::chrono::seconds(20);
constexpr char kLogName[] = "setup_orlastra_20250710093015123.log";
constexpr char kUploadPath[] = "/v1/productLogUpload";

class ReportUploadTest : public ::testing::Test {
 protected:
  ReportUploadTest() : services_(tmp_.path()), run_(tmp_, services_.baseUrl()) {}

  std::string inLogDir(const std::string& name) const { return run_.logDir() + "/" + name; }

  // The one upload of the run, with the bytes maker-services saved.
  crash_test::Upload onlyUpload() {
    auto lines = services_.requestsTo(kUploadPath, 1, kLimit);
    EXPECT_EQ(lines.size(), 1u);
    if (lines.empty()) return {};
    crash_test::Upload upload = crash_test::ReadUpload(lines[0]);
    EXPECT_EQ(crash_test::FileMd5(upload.savedPath), upload.md5)
        << "saved bytes differ from those sent";
    return upload;
  }

  testing_support::TempDir tmp_;
  testing_support::MakerServices services_;
  crash_test::ReportRun run_;
};

// A crash report whose dump is missing packs every dump of the log folder
// instead (files only, in name order), after the log copy.
TEST_F(ReportUploadTest, CrashReportWithoutItsDumpPacksEveryDump) {
  ASSERT_TRUE(writeFile(inLogDir(kLogName), "log of the crashed run\n"));
  ASSERT_TRUE(writeFile(inLogDir("b.dmp"), "dump b"));
  ASSERT_TRUE(writeFile(inLogDir("a.dmp"), "dump a"));
  std::filesystem::create_directory(inLogDir("folder.dmp"));
  EXPECT_EQ(run_.run({"-dmp", kLogName}), 0);

  const crash_test::Upload upload = onlyUpload();
  ASSERT_EQ(upload.entries.size(), 3u);
  EXPECT_EQ(upload.entries[0],
            std::make_pair(std::string(kLogName), std::string("log of the crashed run\n")));
  EXPECT_EQ(upload.entries[1], std::make_pair(std::string("a.dmp"), std::string("dump a")));
  EXPECT_EQ(upload.entries[2], std::make_pair(std::string("b.dmp"), std::string("dump b")));
  EXPECT_TRUE(std::regex_match(upload.fileName, std::regex(R"(setup_orlastra_\d{17}\.zip)")))
      << upload.fileName;
  EXPECT_EQ(upload.fields.at("catalogue"), "CrashDmp");
}

// A close report packs the log copy alone, whatever dumps lie beside it;
// a log name without '_' gives the form's NoName_ file name.
TEST_F(ReportUploadTest, CloseReportPacksOnlyTheLogCopy) {
  ASSERT_TRUE(writeFile(inLogDir("orlastra.log"), "closing run\n"));
  ASSERT_TRUE(writeFile(inLogDir("orlastra.log.dmp"), "its dump"));
  ASSERT_TRUE(writeFile(inLogDir("other.dmp"), "stray dump"));
  EXPECT_EQ(run_.run({"-close03", "orlastra.log"}), 0);

  const crash_test::Upload upload = onlyUpload();
  ASSERT_EQ(upload.entries.size(), 1u);
  EXPECT_EQ(upload.entries[0],
            std::make_pair(std::string("orlastra.log"), std::string("closing run\n")));
  EXPECT_TRUE(std::regex_match(upload.fileName, std::regex(R"(NoName_\d{17}\.zip)")))
      << upload.fileName;
  EXPECT_EQ(upload.fieldOrder,
            (std::vector<std::string>{"file", "product_id", "version", "catalogue"}));
  EXPECT_EQ(upload.fields.at("catalogue"), "close03");
  EXPECT_TRUE(run_.filesEndingWith(".zip").empty());
  EXPECT_TRUE(run_.filesEndingWith("_copy.log").empty());
}

// Catches a report run's argument joined to the log folder unchecked: it
// would pack (and upload) a file from anywhere, and write its copy there.
TEST_F(ReportUploadTest, ReportNameThatLeavesTheLogFolderIsRefused) {
  const std::string outside = tmp_.file("secret.log");
  ASSERT_TRUE(writeFile(outside, "not the setup's\n"));
  std::filesystem::create_directories(run_.logDir());
  const std::string up = std::filesystem::relative(outside, run_.logDir()).generic_string();
  ASSERT_EQ(up.rfind("../", 0), 0u) << up;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-dmp", up}, std::vector<std::string>{"-close03", up},
        std::vector<std::string>{"-dmp", "a\\..\\b.log"}}) {
    SCOPED_TRACE(args[1]);
    EXPECT_EQ(run_.run(args), 0);
  }
  EXPECT_TRUE(services_.requestsTo(kUploadPath, 1, std::chrono::seconds(2)).empty());
  EXPECT_FALSE(std::filesystem::exists(outside + "_copy.log"));
  EXPECT_TRUE(run_.filesEndingWith(".zip").empty());
}

// An upload the collector refuses keeps the archive, exactly as sent, and
// the log copy.
TEST_F(ReportUploadTest, RefusedUploadKeepsTheArchiveAndTheLogCopy) {
  ASSERT_TRUE(crash_test::SetMode(services_.baseUrl(), "log_upload.status", "500"));
  ASSERT_TRUE(writeFile(inLogDir(kLogName), "log\n"));
  ASSERT_TRUE(writeFile(inLogDir(std::string(kLogName) + ".dmp"), "dump"));
  EXPECT_EQ(run_.run({"-dmp", kLogName}), 0);

  auto lines = services_.requestsTo(kUploadPath, 1, kLimit);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["status"].asInt(), 500);
  const std::vector<std::string> archives = run_.filesEndingWith(".zip");
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_TRUE(std::regex_match(archives[0], std::regex(R"(\d{17}\.zip)"))) << archives[0];
  EXPECT_EQ(crash_test::FileMd5(inLogDir(archives[0])), crash_test::ReadUpload(lines[0]).md5);
  EXPECT_EQ(readFile(inLogDir(std::string(kLogName) + "_copy.log")), "log\n");
  const auto entries = crash_test::ZipEntries(inLogDir(archives[0]));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].first, std::string(kLogName) + ".dmp");
}

}  // namespace
