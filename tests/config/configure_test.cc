#include "config/configure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "config/logging_setup.h"
#include "support/recording_event_sink.h"
#include "support/temp_dir.h"

namespace config {
namespace {

// The embedded configuration as the window's labels would hold it.
class MapLabels : public ILabelSource {
 public:
  std::map<std::wstring, std::wstring> texts;
  std::wstring getLabelText(const std::wstring& name) const override {
    auto it = texts.find(name);
    return it == texts.end() ? std::wstring() : it->second;
  }
};

MapLabels shippedLabels() {
  MapLabels labels;
  labels.texts = {{L"Downloader_id", L"630"},
                  {L"Software_id", L"0"},
                  {L"Site_id", L"521"},
                  {L"Language_id", L"1033"},
                  {L"Software_name", L"Orlastra"},
                  {L"Software_version", L"1.0.0.0"},
                  {L"Process_name", L"Lumetra.exe"},
                  {L"Install_url", L""},
                  {L"Download_url", L"https://dl.orlastra.example/d/setup_x.exe"},
                  {L"Extra_download_url", L"https://files.orlastra.example/d/setup_x.exe"},
                  {L"Md5", L"0123456789abcdef0123456789abcdef"},
                  {L"Filesize", L"1234"},
                  {L"Md5_extra", L""},
                  {L"InstallTimeout", L"600"},
                  {L"Cnet_download_url", L""}};
  return labels;
}

// The record after the window's first fill: embedded values, unfilled.
struct Filled {
  CConfigure c{630, 1033, 521};
  Filled() { c.fillFromLabels(shippedLabels(), false); }
};

bool parseAnswer(CConfigure* c, const std::string& fields) {
  c->rawAnswer = "<Downloader>" + fields + "</Downloader>";
  return c->parseRawAnswer();
}

// The mark makes the record count as filled from the file and builds the
// list of direct URLs only (the dl. address is a mirror).
TEST(ConfigureFillTest, MarkedFillBuildsDirectUrlList) {
  CConfigure c(1, 2, 3);
  c.fillFromLabels(shippedLabels(), true);
  EXPECT_EQ(c.state, CConfigure::kFilled);
  EXPECT_EQ(c.source, CConfigure::kSourceEmbedded);
  EXPECT_EQ(c.urlList, std::vector<std::wstring>{L"https://files.orlastra.example/d/setup_x.exe"});
  // A second marked fill starts from a reset, so the list does not grow.
  c.fillFromLabels(shippedLabels(), true);
  EXPECT_EQ(c.urlList.size(), 1u);
}

TEST(ConfigureFillTest, InstallTimeoutZeroOrEmptyBecomes242) {
  for (const wchar_t* text : {L"", L"0", L"abc", L"4294967296"}) {
    MapLabels labels = shippedLabels();
    labels.texts[L"InstallTimeout"] = text;
    CConfigure c(0, 0, 0);
    c.fillFromLabels(labels, true);
    EXPECT_EQ(c.installTimeout, 242) << common::wideToUtf8(text);
  }
}

// The window's first fill holds the embedded values but counts as
// unfilled; the reset inside a fill leaves the fields outside its range.
TEST(ConfigureFillTest, UnmarkedFillKeepsRecordUnfilled) {
  Filled f;
  EXPECT_EQ(f.c.state, CConfigure::kNotFilled);
  EXPECT_EQ(f.c.source, CConfigure::kSourceNone);
  EXPECT_TRUE(f.c.urlList.empty());
  EXPECT_EQ(f.c.installTimeout, 600);
  f.c.reset();
  EXPECT_TRUE(f.c.licensefileUrl.empty());
  EXPECT_EQ(f.c.extraDownloadUrl, L"https://files.orlastra.example/d/setup_x.exe");
}

TEST(ConfigureParseTest, AnswerOverwritesEmbeddedFieldsByTag) {
  Filled f;
  ASSERT_TRUE(parseAnswer(&f.c,
                          "<Downloader_id>631</Downloader_id><Software_id>12</Software_id>"
                          "<Site_id>7</Site_id><Software_name>Orlästra Pro</Software_name>"
                          "<Software_version>2.1.0.5</Software_version>"
                          "<Download_url>https://cdn.orlastra.example/p/setup_x.exe</Download_url>"
                          "<Extra_download_url>https://files.orlastra.example/p/setup_x.exe"
                          "</Extra_download_url><Filesize>98765432109</Filesize>"
                          "<Downloader_type>2</Downloader_type><Unknown>x</Unknown>"
                          "<Md5_extra>ff</Md5_extra>"));
  EXPECT_EQ(f.c.state, CConfigure::kFilled);
  EXPECT_EQ(f.c.source, CConfigure::kSourceServer);
  EXPECT_EQ(f.c.downloaderId, 631);
  EXPECT_EQ(f.c.softwareId, 12);
  EXPECT_EQ(f.c.siteId, 7);
  EXPECT_EQ(f.c.softwareName, L"Orl\u00e4stra Pro");
  EXPECT_EQ(f.c.softwareVersion, L"2.1.0.5");
  EXPECT_EQ(f.c.fileSize, 98765432109);
  EXPECT_EQ(f.c.downloaderType, 2);
  EXPECT_EQ(f.c.md5Extra, L"ff");
  // A CDN download URL and a direct extra URL give a one-entry list.
  EXPECT_EQ(f.c.urlList,
            std::vector<std::wstring>{L"https://files.orlastra.example/p/setup_x.exe"});
  // Absent from the answer: the embedded values stay.
  EXPECT_EQ(f.c.md5, L"0123456789abcdef0123456789abcdef");
  EXPECT_EQ(f.c.processName, L"Lumetra.exe");
}

TEST(ConfigureParseTest, ConversionsKeepOrCleanFields) {
  struct Case {
    const char* fields;
    const char* what;
  } cases[] = {
      {"<Filesize>abc</Filesize><Site_id>seven</Site_id>", "non-numeric integers keep old values"},
      {"<Process_name>Lumetra.exe\r\n</Process_name>", "CR LF stripped from Process_name"},
      {"<Language_id>2052</Language_id><InstallTimeout>5</InstallTimeout>",
       "Language_id and InstallTimeout never from the server"},
  };
  for (const Case& k : cases) {
    Filled f;
    ASSERT_TRUE(parseAnswer(&f.c, k.fields)) << k.what;
    EXPECT_EQ(f.c.fileSize, 1234) << k.what;
    EXPECT_EQ(f.c.siteId, 521) << k.what;
    EXPECT_EQ(f.c.processName, L"Lumetra.exe") << k.what;
    EXPECT_EQ(f.c.languageId, 1033) << k.what;
    EXPECT_EQ(f.c.installTimeout, 600) << k.what;
  }
}

TEST(ConfigureParseTest, UrlsLoseLineBreaksAndEmptyElementsEmptyTexts) {
  Filled f;
  ASSERT_TRUE(parseAnswer(&f.c,
                          "<Download_url>\nhttps://a.example/x.exe\r\n</Download_url>"
                          "<Md5/><Install_url></Install_url>"));
  EXPECT_EQ(f.c.downloadUrl, L"https://a.example/x.exe");
  EXPECT_TRUE(f.c.md5.empty());
  EXPECT_TRUE(f.c.installUrl.empty());
  // The list is appended to, download URL first.
  EXPECT_EQ(f.c.urlList,
            (std::vector<std::wstring>{L"https://a.example/x.exe",
                                       L"https://files.orlastra.example/d/setup_x.exe"}));
}

// A name longer than the 260-character buffer is cut, never overflowing it.
TEST(ConfigureParseTest, LongSoftwareNameIsCutTo259Characters) {
  std::string name;
  for (int i = 0; i < 300; ++i) name += "\xe4\xb8\xad";  // U+4E2D, 3 bytes in UTF-8
  Filled f;
  ASSERT_TRUE(parseAnswer(&f.c, "<Software_name>" + name + "</Software_name>"));
  EXPECT_EQ(f.c.softwareName, std::wstring(259, L'\u4e2d'));
}

TEST(ConfigureParseTest, BrokenAnswersLeaveRecordUnfilledAndUntouched) {
  for (const char* raw : {"", "<Downloader><Md5>aa</Downloader>", "no xml at all", "<!-- x -->"}) {
    Filled f;
    f.c.rawAnswer = raw;
    EXPECT_FALSE(f.c.parseRawAnswer()) << raw;
    EXPECT_EQ(f.c.state, CConfigure::kNotFilled) << raw;
    EXPECT_EQ(f.c.md5, L"0123456789abcdef0123456789abcdef") << raw;
  }
  // The empty block parses and changes nothing but the state.
  Filled f;
  ASSERT_TRUE(parseAnswer(&f.c, ""));
  EXPECT_EQ(f.c.softwareName, L"Orlastra");
  EXPECT_EQ(f.c.urlList.size(), 1u);
}

TEST(ConfigureParseTest, ServerIntegersReachTheSink) {
  testing_support::RecordingEventSink events;
  Filled f;
  ASSERT_TRUE(parseAnswer(
      &f.c, "<Downloader_config>3</Downloader_config><Additional_time>45</Additional_time>"));
  std::vector<std::pair<std::string, int32_t>> seen;
  for (const auto& e : events.ofKind("server")) seen.emplace_back(e.action, std::stoi(e.detail));
  EXPECT_EQ(f.c.downloaderConfig, 3);
  EXPECT_EQ(f.c.additionalTime, 45);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, int32_t>>{{"Downloader_config", 3},
                                                                {"Additional_time", 45}}));
}

TEST(ConfigurePrintTest, WritesOneLinePerFieldInOrder) {
  testing_support::TempDir tmp;
  const std::string logFile = tmp.file("print.log");
  configureLogger(logFile);
  Filled f;
  ASSERT_TRUE(parseAnswer(&f.c, "<Downloader_config>3</Downloader_config>"));
  EXPECT_EQ(f.c.printContent(), 1);
  el::Loggers::flushAll();
  std::string log = testing_support::readFile(logFile);
  // Windows writes the log's lines with CR LF.
  std::erase(log, '\r');
  const char* expected[] = {
      ")  Configure Load From XML! \n",
      ")  [File ContentLength]: 1234\n",
      ")  [Downloader Id]: 630\n",
      ")  [SoftWare Id]: 0\n",
      ")  [Site Id]: 521\n",
      ")  [Language Id]: 1033\n",
      ")  [Software Name]: Orlastra\n",
      ")  [Software Version]: 1.0.0.0\n",
      ")  [Remote Path]: https://dl.orlastra.example/d/setup_x.exe\n",
      ")  [MD5 String]: 0123456789abcdef0123456789abcdef\n",
      ")  [Process Name]: Lumetra.exe\n",
      ")  [Install Url]: \n",
      ")  [Banner Url]: \n",
      ")  [Licensefile Url]: \n",
      ")  [Extra Download Url]: https://files.orlastra.example/d/setup_x.exe\n",
      ")  [Cnet Download Url]: \n",
      ")  [MD5 Extra String]: \n",
      ")  [Downloader config]: 3\n",
      ")  [Additional Time]: 0\n",
  };
  size_t at = 0;
  for (const char* line : expected) {
    const size_t found = log.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
    at = found + 1;
  }
}

}  // namespace
}  // namespace config
