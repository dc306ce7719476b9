// The Windows installers as Authenticode sees them: where the signature
// sits in the file, whom it names, read with the system's own calls
// rather than through the setup's check, and what Wine's trust decision
// can show.

#include <windows.h>
// After windows.h, which WIN32_LEAN_AND_MEAN keeps from including them.
#include <bcrypt.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "common/text.h"
#include "platform/file_signature.h"
#include "support/temp_dir.h"
#include "system/file_trust.h"

namespace {

using testing_support::readFile;

const std::string kArtefacts = SAMPLE_INSTALLER_DIR;

std::string artefact(const std::string& name) { return kArtefacts + "/" + name; }

uint32_t le32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// Where a PE file's header fields are that signing changes.
struct PeFields {
  size_t checksum = 0;  // the optional header's CheckSum
  size_t security = 0;  // the security directory entry (offset, size)
};

PeFields peFields(const std::string& file) {
  const size_t pe = le32(file, 0x3c);
  const size_t optional = pe + 24;
  const bool plus = (le32(file, optional) & 0xffff) == 0x20b;
  return {optional + 64, optional + (plus ? 112 : 96) + 4 * 8};
}

std::string sha256Hex(const BYTE* data, DWORD size) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return {};
  }
  BYTE digest[32];
  BCRYPT_HASH_HANDLE hash = nullptr;
  const bool ok = BCRYPT_SUCCESS(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0)) &&
                  BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<BYTE*>(data), size, 0)) &&
                  BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(alg, 0);
  if (!ok) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (BYTE b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

// The SHA-256 of the certificate that signed `path` and of its public key,
// found through the file's embedded PKCS#7 message.
bool embeddedSigner(const std::string& path, std::string* certificate, std::string* key) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  const std::wstring wide = common::utf8ToWide(path);
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, wide.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, nullptr, nullptr, nullptr, &store, &message, nullptr)) {
    return false;
  }
  DWORD size = 0;
  CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size);
  std::string info(size, '\0');
  bool found = false;
  if (size > 0 && CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
    PCCERT_CONTEXT cert = CertFindCertificateInStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT,
        reinterpret_cast<CERT_INFO*>(info.data()), nullptr);
    if (cert != nullptr) {
      *certificate = sha256Hex(cert->pbCertEncoded, cert->cbCertEncoded);
      BYTE* spki = nullptr;
      DWORD spkiSize = 0;
      if (CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                              &cert->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG,
                              nullptr, &spki, &spkiSize)) {
        *key = sha256Hex(spki, spkiSize);
        LocalFree(spki);
      }
      CertFreeCertificateContext(cert);
      found = true;
    }
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return found;
}

bool underWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Catches a packer or signer that puts padding or the signature between
// the payload and its trailer (the installer would no longer find its
// payload from the end), and a signer that changes the content itself.
TEST(SampleArtefactsWinTest, SignatureFollowsTheUnsignedFileInTheCertificateTable) {
  std::string unsignedFile = readFile(artefact("setup_orlastra_unsigned.exe"));
  ASSERT_GT(unsignedFile.size(), 1u << 20);
  EXPECT_EQ(unsignedFile.size() % 8, 0u);
  for (const char* name : {"setup_orlastra.exe", "setup_orlastra_foreign.exe"}) {
    std::string signedFile = readFile(artefact(name));
    const PeFields fields = peFields(signedFile);
    const uint32_t offset = le32(signedFile, fields.security);
    const uint32_t size = le32(signedFile, fields.security + 4);
    EXPECT_EQ(offset, unsignedFile.size()) << name;
    ASSERT_EQ(signedFile.size(), uint64_t{offset} + size) << name;
    // WIN_CERTIFICATE: revision 2.0, a PKCS#7 SignedData.
    EXPECT_EQ(le32(signedFile, offset + 4), 0x00020200u) << name;
    // Apart from the two header fields signing fills in, the signed file
    // starts with the unsigned one, byte for byte.
    for (std::string* file : {&signedFile, &unsignedFile}) {
      std::memset(&(*file)[fields.checksum], 0, 4);
      std::memset(&(*file)[fields.security], 0, 8);
    }
    EXPECT_TRUE(signedFile.compare(0, offset, unsignedFile) == 0) << name;
  }
}

// Catches pins written from another certificate than the one the files
// are signed with (the CA's, or the PEM text's digest), the two installers
// signed the other way round, and a key pin (SubjectPublicKeyInfo, as
// docs/deployment.md makes it) that the setup's check hashes differently.
TEST(SampleArtefactsWinTest, CertificateTableNamesThePinnedSigners) {
  setenv("WEBSETUP_TRUSTED_CA", artefact("test-ca.pem").c_str(), 1);
  EXPECT_TRUE(FuntionImpl::VerifyPinnedSignature(common::utf8ToWide(artefact("setup_orlastra.exe")),
                                                 {readFile(artefact("signer-pubkey.sha256"))}));
  unsetenv("WEBSETUP_TRUSTED_CA");
  std::string certificate, key;
  ASSERT_TRUE(embeddedSigner(artefact("setup_orlastra.exe"), &certificate, &key));
  EXPECT_EQ(certificate, readFile(artefact("signer.sha256")));
  EXPECT_EQ(key, readFile(artefact("signer-pubkey.sha256")));
  ASSERT_TRUE(embeddedSigner(artefact("setup_orlastra_foreign.exe"), &certificate, &key));
  EXPECT_EQ(certificate, readFile(artefact("foreign.sha256")));
  EXPECT_FALSE(embeddedSigner(artefact("setup_orlastra_unsigned.exe"), &certificate, &key));
}

// Catches a check that trusts a root only because it came with the file:
// without the deployment's CA file the test CA is nobody's root. Windows
// refuses it there; Wine's WinVerifyTrust does not, which is why the
// setup pins the signer as well.
TEST(SampleArtefactsWinTest, TestCaIsTrustedOnlyAsTheDeploymentsCa) {
  const std::string installer = artefact("setup_orlastra.exe");
  EXPECT_EQ(platform::checkFileSignature(installer, artefact("test-ca.pem")).status, 0);
  const platform::FileSignature alone = platform::checkFileSignature(installer, "");
  if (alone.status == 0 && underWine()) {
    GTEST_SKIP() << "Wine's WinVerifyTrust accepts a root no store holds; the pin refuses instead";
  }
  EXPECT_NE(alone.status, 0);
}

}  // namespace
