#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "common/md5.h"
#include "support/maker_services.h"
#include "support/temp_dir.h"
#include "system/file_trust.h"

namespace {

using testing_support::readFile;

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;

std::string artefact(const std::string& name) { return kArtefacts + "/" + name; }

std::string sha256Hex(const unsigned char* data, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(data, size, digest, &len, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < len; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

// The SHA-256 of the certificate (or of its public key) that the signature
// block appended to `path` carries.
std::string embeddedSignerSha256(const std::string& path, bool publicKey) {
  const std::string file = readFile(path);
  constexpr size_t kTail = 12 + 28;
  if (file.size() < kTail) return {};
  const auto* t = reinterpret_cast<const unsigned char*>(file.data() + file.size() - kTail);
  const size_t sigLen = (size_t{t[8]} << 24) | (size_t{t[9]} << 16) | (size_t{t[10]} << 8) | t[11];
  const auto* p =
      reinterpret_cast<const unsigned char*>(file.data() + file.size() - kTail - sigLen);
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(sigLen));
  STACK_OF(X509)* certs = cms == nullptr ? nullptr : CMS_get1_certs(cms);
  std::string hex;
  if (certs != nullptr && sk_X509_num(certs) == 1) {
    unsigned char* der = nullptr;
    X509* cert = sk_X509_value(certs, 0);
    const int len = publicKey ? i2d_PUBKEY(X509_get0_pubkey(cert), &der) : i2d_X509(cert, &der);
    if (len > 0) hex = sha256Hex(der, static_cast<size_t>(len));
    OPENSSL_free(der);
  }
  sk_X509_pop_free(certs, X509_free);
  CMS_ContentInfo_free(cms);
  return hex;
}

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
  void TearDown() override { unsetenv("WEBSETUP_TRUSTED_CA"); }
  static uint32_t status(const std::string& name) {
    return static_cast<uint32_t>(FuntionImpl::CheckAppendedSignature(artefact(name)).status);
  }
};

// Catches a signer the test CA did not issue, or a CA file the check
// cannot use.
TEST_F(SampleArtefactsTest, InstallersVerifyThroughTheTestCaOnly) {
  setenv("WEBSETUP_TRUSTED_CA", artefact("test-ca.pem").c_str(), 1);
  EXPECT_EQ(status("setup_orlastra.exe"), 0u);
  EXPECT_EQ(status("setup_orlastra_foreign.exe"), 0u);
  EXPECT_EQ(status("setup_orlastra_unsigned.exe"), FuntionImpl::kTrustNoSignature);
  setenv("WEBSETUP_TRUSTED_CA", artefact("no-such-ca.pem").c_str(), 1);
  EXPECT_EQ(status("setup_orlastra.exe"), FuntionImpl::kTrustSubjectNotTrusted);
}

// Catches a pin taken of the wrong certificate (the CA's, the PEM text) or
// the wrong file signed by the wrong signer.
TEST_F(SampleArtefactsTest, PinsNameTheSignerOfEachInstaller) {
  const std::string pin = readFile(artefact("signer.sha256"));
  ASSERT_EQ(pin.size(), 64u);
  EXPECT_EQ(pin.find_first_not_of("0123456789abcdef"), std::string::npos) << pin;
  EXPECT_EQ(embeddedSignerSha256(artefact("setup_orlastra.exe"), false), pin);
  EXPECT_EQ(embeddedSignerSha256(artefact("setup_orlastra.exe"), true),
            readFile(artefact("signer-pubkey.sha256")));
  const std::string foreign = embeddedSignerSha256(artefact("setup_orlastra_foreign.exe"), false);
  EXPECT_EQ(foreign, readFile(artefact("foreign.sha256")));
  EXPECT_NE(foreign, pin);
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
