// What the build wrote into <build>/sample-installer on either system: the
// signed installers as a setup checks them, the pins and the <Downloader>
// scenario, served by maker-services.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/md5.h"
#include "common/text.h"
#include "payload.h"
#include "support/maker_services.h"
#include "support/temp_dir.h"
#include "system/file_trust.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;

std::string artefact(const std::string& name) { return kArtefacts + "/" + name; }

// The text of the first <tag> element of `xml`.
std::string element(const std::string& xml, const std::string& tag) {
  const size_t open = xml.find("<" + tag + ">");
  const size_t close = xml.find("</" + tag + ">");
  if (open == std::string::npos || close == std::string::npos) return "<missing>";
  const size_t start = open + tag.size() + 2;
  return xml.substr(start, close - start);
}

size_t appendBody(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

long httpGet(const std::string& url, std::string* body) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  return status;
}

// What the build wrote beside the installer: the test CA, the pins and
// the <Downloader> scenario.
class SampleArtefactsTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("WEBSETUP_TRUSTED_CA", artefact("test-ca.pem").c_str(), 1); }
  void TearDown() override { unsetenv("WEBSETUP_TRUSTED_CA"); }
  static bool pinned(const std::string& path, const std::string& pinFile) {
    return FuntionImpl::VerifyPinnedSignature(common::utf8ToWide(path),
                                              {readFile(artefact(pinFile))});
  }
};

// Catches a pin check that settles for a signature the CA vouches for (the
// foreign signer), one that takes a missing signature for no objection,
// and a pin file that does not name the certificate the setup reads out
// of the signature.
TEST_F(SampleArtefactsTest, OnlyTheMakersInstallerPassesThePin) {
  EXPECT_TRUE(pinned(artefact("setup_orlastra.exe"), "signer.sha256"));
  EXPECT_FALSE(pinned(artefact("setup_orlastra_foreign.exe"), "signer.sha256"));
  EXPECT_TRUE(pinned(artefact("setup_orlastra_foreign.exe"), "foreign.sha256"));
  EXPECT_FALSE(pinned(artefact("setup_orlastra_unsigned.exe"), "signer.sha256"));
  // A pin of the signer's public key (its SubjectPublicKeyInfo) holds as
  // well, and only for the maker's key.
  EXPECT_TRUE(pinned(artefact("setup_orlastra.exe"), "signer-pubkey.sha256"));
  EXPECT_FALSE(pinned(artefact("setup_orlastra_foreign.exe"), "signer-pubkey.sha256"));
}

// Catches a signature that leaves part of the file unsigned: the payload
// is the product the setup will run, so one changed byte in it must fail
// as surely as one in the installer program.
TEST_F(SampleArtefactsTest, OneChangedByteOfProgramOrPayloadIsRefused) {
  std::vector<sample_installer::PayloadEntry> entries;
  ASSERT_EQ(sample_installer::readPayloadIndex(artefact("setup_orlastra.exe"), &entries),
            sample_installer::PayloadResult::kOk);
  ASSERT_FALSE(entries.empty());
  const std::string original = readFile(artefact("setup_orlastra.exe"));
  const sample_installer::PayloadEntry& last = entries.back();
  TempDir tmp;
  for (const uint64_t at : {entries.front().offset / 2, last.offset + last.size / 2}) {
    std::string changed = original;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    const std::string path = tmp.file("setup_orlastra_" + std::to_string(at) + ".exe");
    ASSERT_TRUE(writeFile(path, changed));
    EXPECT_NE(FuntionImpl::CheckAppendedSignature(path).status, 0) << "byte " << at;
    EXPECT_FALSE(pinned(path, "signer.sha256")) << "byte " << at;
  }
}

// Catches a scenario left stale by a rebuild (each signing changes the
// bytes) and addresses the setup would not take as direct.
TEST_F(SampleArtefactsTest, ScenarioNamesTheSignedInstallerAsItIs) {
  const std::string xml = readFile(artefact("downloader.xml"));
  const std::string installer = readFile(artefact("setup_orlastra.exe"));
  EXPECT_GT(installer.size(), 1u << 20);
  EXPECT_EQ(element(xml, "Md5"), common::md5OfText(installer));
  EXPECT_EQ(element(xml, "Md5_extra"), common::md5OfText(installer));
  EXPECT_EQ(element(xml, "Filesize"), std::to_string(installer.size()));
  EXPECT_EQ(element(xml, "Download_url"), "@BASE@/files/setup_orlastra.exe");
  EXPECT_EQ(element(xml, "Extra_download_url"), "@BASE@/files/setup_orlastra.exe");
  EXPECT_EQ(element(xml, "Process_name"), SAMPLE_PRODUCT_EXE);
  EXPECT_EQ(element(xml, "Software_name"), "Orlastra");
  EXPECT_EQ(element(xml, "Software_version"), SAMPLE_PRODUCT_VERSION);
  EXPECT_EQ(element(xml, "InstallTimeout"), "600");
}

// Catches a server that answers the placeholder itself, or a scenario
// whose address does not lead to the installer it describes.
TEST_F(SampleArtefactsTest, MakerServicesAnswersWithItsOwnBaseAndServesTheInstaller) {
  testing_support::MakerServices services(kArtefacts);
  std::string answer;
  ASSERT_EQ(httpGet(services.baseUrl() + "/queryDownloaderV2", &answer), 200);
  EXPECT_EQ(answer.find("@BASE@"), std::string::npos) << answer;
  const std::string url = element(answer, "Download_url");
  EXPECT_EQ(url, services.baseUrl() + "/files/setup_orlastra.exe");
  std::string body;
  ASSERT_EQ(httpGet(url, &body), 200);
  EXPECT_EQ(common::md5OfText(body), element(answer, "Md5"));
}

}  // namespace
