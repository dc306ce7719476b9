#include "zip/zip_writer.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <string>

#include "support/temp_dir.h"

namespace websetup_zip {
namespace {

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

struct Entry {
  std::string content;
  zip_uint16_t method = 0;
  bool found = false;
};

// Reads entry `name` of the archive at `path` back with libzip itself.
Entry readEntry(const std::string& path, const std::string& name) {
  Entry e;
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (z == nullptr) return e;
  zip_stat_t st;
  if (zip_stat(z, name.c_str(), 0, &st) == 0) {
    zip_file_t* f = zip_fopen(z, name.c_str(), 0);
    if (f != nullptr) {
      e.content.resize(st.size);
      zip_int64_t n = zip_fread(f, e.content.data(), st.size);
      e.found = n == static_cast<zip_int64_t>(st.size);
      e.method = st.comp_method;
      zip_fclose(f);
    }
  }
  zip_close(z);
  return e;
}

zip_int64_t entryCount(const std::string& path) {
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (z == nullptr) return -1;
  zip_int64_t n = zip_get_num_entries(z, 0);
  zip_close(z);
  return n;
}

class ZipWriterTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

// Round trip: what we write, libzip reads back byte for byte, deflated.
TEST_F(ZipWriterTest, EntriesRoundTripDeflated) {
  std::string log(200000, '\0');
  for (size_t i = 0; i < log.size(); ++i) log[i] = "setup log line\n"[i % 15];
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 7919) >> 3));
  ASSERT_TRUE(writeFile(dir_.file("run.log_copy.log"), log));
  ASSERT_TRUE(writeFile(dir_.file("run.log.dmp"), binary));

  std::string archive = dir_.file("20250710093015123.zip");
  auto writer = ZipWriter::create(archive);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->addFile(L"run.log", dir_.file("run.log_copy.log")), EnumZipResult::kOk);
  EXPECT_EQ(writer->addFile(L"日志\\run.log.dmp", dir_.file("run.log.dmp")), EnumZipResult::kOk);
  ASSERT_EQ(writer->close(), EnumZipResult::kOk);

  EXPECT_EQ(entryCount(archive), 2);
  Entry a = readEntry(archive, "run.log");
  ASSERT_TRUE(a.found);
  EXPECT_EQ(a.content, log);
  EXPECT_EQ(a.method, ZIP_CM_DEFLATE);
  Entry b = readEntry(archive, "日志/run.log.dmp");
  ASSERT_TRUE(b.found);
  EXPECT_EQ(b.content, binary);
  EXPECT_EQ(b.method, ZIP_CM_DEFLATE);
  // Deflate actually ran: the repetitive log shrinks a lot.
  EXPECT_LT(readFile(archive).size(), log.size() / 10 + binary.size());
}

// An existing file at the archive path is replaced, not appended to.
TEST_F(ZipWriterTest, CreateTruncatesExistingFile) {
  std::string archive = dir_.file("a.zip");
  ASSERT_TRUE(writeFile(archive, std::string(5000, 'x')));
  ASSERT_TRUE(writeFile(dir_.file("f"), "hello"));
  auto writer = ZipWriter::create(archive);
  ASSERT_NE(writer, nullptr);
  ASSERT_EQ(writer->addFile(L"f", dir_.file("f")), EnumZipResult::kOk);
  ASSERT_EQ(writer->close(), EnumZipResult::kOk);
  EXPECT_EQ(entryCount(archive), 1);
  EXPECT_EQ(readEntry(archive, "f").content, "hello");
}

// Failures come back as codes, and what was added before still lands.
TEST_F(ZipWriterTest, FailuresAreReportedAndDoNotSpoilTheArchive) {
  EXPECT_EQ(ZipWriter::create(dir_.file("missing/folder/a.zip")), nullptr);

  std::string archive = dir_.file("b.zip");
  ASSERT_TRUE(writeFile(dir_.file("f"), "data"));
  auto writer = ZipWriter::create(archive);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->addFile(L"x", dir_.file("nope")), EnumZipResult::kSourceMissing);
  EXPECT_EQ(writer->addFile(L"x", dir_.path()), EnumZipResult::kSourceMissing);
  EXPECT_EQ(writer->addFile(L"", dir_.file("f")), EnumZipResult::kAddFailed);
  EXPECT_EQ(writer->addFile(L"f", dir_.file("f")), EnumZipResult::kOk);
  EXPECT_EQ(writer->addFile(L"f", dir_.file("f")), EnumZipResult::kAddFailed);
  ASSERT_EQ(writer->close(), EnumZipResult::kOk);
  EXPECT_EQ(writer->close(), EnumZipResult::kNotOpen);
  EXPECT_EQ(writer->addFile(L"g", dir_.file("f")), EnumZipResult::kNotOpen);
  EXPECT_EQ(entryCount(archive), 1);
  EXPECT_EQ(readEntry(archive, "f").content, "data");
}

// A report with nothing in it is still a valid (empty) archive on disk.
TEST_F(ZipWriterTest, EmptyArchiveIsValid) {
  std::string archive = dir_.file("empty.zip");
  {
    auto writer = ZipWriter::create(archive);
    ASSERT_NE(writer, nullptr);
  }  // the destructor completes it
  EXPECT_EQ(entryCount(archive), 0);
}

}  // namespace
}  // namespace websetup_zip
