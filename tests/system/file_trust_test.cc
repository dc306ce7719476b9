#include "system/file_trust.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstdio>
#include <fstream>

#include "platform/paths.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"
#include "system/text_functions.h"

namespace FuntionImpl {
namespace {

using testing_support::readFile;
using testing_support::runToEnd;
using testing_support::TempDir;
using testing_support::writeFile;

void openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string out;
  ASSERT_EQ(runToEnd(argv, std::chrono::seconds(60), &out), 0) << out;
}

// A CA and a code-signing certificate it issued, made at test time.
struct Authority {
  std::string caCert, signKey, signCert;
};

void makeAuthority(const TempDir& dir, const std::string& name, Authority* out) {
  const std::string caKey = dir.file(name + "-ca.key");
  out->caCert = dir.file(name + "-ca.pem");
  out->signKey = dir.file(name + "-sign.key");
  out->signCert = dir.file(name + "-sign.pem");
  const std::string csr = dir.file(name + "-sign.csr");
  const std::string ext = dir.file(name + "-ext.cnf");
  ASSERT_TRUE(writeFile(ext,
                        "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                        "extendedKeyUsage=codeSigning\n"));
  openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
           "-keyout", caKey, "-out", out->caCert, "-days", "2", "-subj", "/CN=" + name + " test CA",
           "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=keyCertSign"});
  openssl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
           "-keyout", out->signKey, "-out", csr, "-subj", "/CN=" + name + " signer"});
  openssl({"x509", "-req", "-in", csr, "-CA", out->caCert, "-CAkey", caKey, "-CAcreateserial",
           "-out", out->signCert, "-days", "2", "-extfile", ext});
}

class FileTrustTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifdef _WIN32
    // Windows trusts files by their Authenticode signature; sign-file
    // appends the Linux build's trailer, which Windows has no use for.
    return;
#endif
    dir_ = new TempDir;
    makeAuthority(*dir_, "trusted", &trusted_);
    makeAuthority(*dir_, "stranger", &stranger_);
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP()
        << "appended signature trailers are the Linux build's; Windows checks Authenticode";
#endif
    setenv("WEBSETUP_TRUSTED_CA", trusted_.caCert.c_str(), 1);
  }
  void TearDown() override { unsetenv("WEBSETUP_TRUSTED_CA"); }

  // Writes `content` to `name` and signs it with `who`; returns the path.
  std::string signedFile(const std::string& name, const std::string& content,
                         const Authority& who) {
    const std::string path = work_.file(name);
    EXPECT_TRUE(writeFile(path, content));
    std::string out;
    EXPECT_EQ(runToEnd({SIGN_FILE_PATH, "--key", who.signKey, "--cert", who.signCert, path},
                       std::chrono::seconds(60), &out),
              0)
        << out;
    return path;
  }
  static uint32_t status(const std::string& path) {
    return static_cast<uint32_t>(CheckAppendedSignature(path).status);
  }

  static TempDir* dir_;
  static Authority trusted_, stranger_;
  TempDir work_;
};
TempDir* FileTrustTest::dir_ = nullptr;
Authority FileTrustTest::trusted_, FileTrustTest::stranger_;

TEST_F(FileTrustTest, SignedByTrustedCaVerifies) {
  const std::string content(300000, 'i');
  const std::string path = signedFile("setup.exe", content, trusted_);
  const std::string file = readFile(path);
  EXPECT_EQ(file.compare(0, content.size(), content), 0);
  EXPECT_EQ(file.substr(file.size() - 28), "~Module signature appended~\n");
  EXPECT_TRUE(VerifyEmbeddedSignature(Utf8ToWide(path)));
  EXPECT_EQ(SignatureMessage(CheckAppendedSignature(path), L"/a/setup.exe"),
            L"The file \"/a/setup.exe\" is signed and the signature was verified.");
}

// One changed byte anywhere in the content breaks the signature.
TEST_F(FileTrustTest, OneChangedByteIsTampered) {
  const std::string path = signedFile("setup.exe", std::string(5000, 'i'), trusted_);
  std::string file = readFile(path);
  file[4999] = 'j';
  ASSERT_TRUE(writeFile(path, file));
  EXPECT_EQ(status(path), kTrustBadDigest);
  EXPECT_FALSE(VerifyEmbeddedSignature(Utf8ToWide(path)));
  EXPECT_EQ(SignatureMessage(CheckAppendedSignature(path), L"x"), L"Error is: 0x80096010.");
}

TEST_F(FileTrustTest, UnsignedAndDamagedFilesAreNotSigned) {
  const std::string plain = work_.file("plain.exe");
  ASSERT_TRUE(writeFile(plain, "MZ just a program"));
  EXPECT_EQ(status(plain), kTrustNoSignature);
  EXPECT_EQ(SignatureMessage(CheckAppendedSignature(plain), L"/p/plain.exe"),
            L"The file \"/p/plain.exe\" is not signed.");
  EXPECT_FALSE(VerifyEmbeddedSignature(Utf8ToWide(plain)));

  // A trailer whose length points past the start, and a signature block
  // that is not DER: an error, not a crash and not "signed".
  const std::string magic = "~Module signature appended~\n";
  const std::string overlong = work_.file("overlong.exe");
  ASSERT_TRUE(writeFile(
      overlong, std::string("abc") + std::string("\0\0\2\0\0\0\0\0\x7f\xff\xff\xff", 12) + magic));
  const std::string garbage = work_.file("garbage.exe");
  ASSERT_TRUE(writeFile(garbage, std::string("content") + "notder" +
                                     std::string("\0\0\2\0\0\0\0\0\0\0\0\6", 12) + magic));
  for (const auto& path : {overlong, garbage}) {
    EXPECT_EQ(status(path), kTrustNoSignature) << path;
    EXPECT_EQ(SignatureMessage(CheckAppendedSignature(path), L"/g"),
              L"An unknown error occurred trying to verify the signature of the \"/g\" file.");
  }
  EXPECT_EQ(status(work_.file("missing.exe")), kTrustNoSignature);
  EXPECT_EQ(CheckAppendedSignature(work_.file("missing.exe")).lastError, 2u);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Checks `path` with the address space limited to 1 GiB and exits 0 when
// the answer is "bad signature block" (a death-test body).
[[noreturn]] void checkUnderMemoryLimit(const std::string& path) {
#ifndef _WIN32
  const rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
  setrlimit(RLIMIT_AS, &limit);
#endif
  const SignatureCheck check = CheckAppendedSignature(path);
  const bool bad = check.status == static_cast<int32_t>(kTrustNoSignature) &&
                   check.lastError == kCryptBadSignatureBlock;
  std::_Exit(bad ? 0 : 1);
}

// The fault: a trailer claiming a 4 GiB block (on a file that large) was
// allocated as given, and the bad_alloc ended the program. With memory
// limited to 1 GiB the check must still answer "bad signature block".
TEST_F(FileTrustTest, CraftedSignatureLengthIsABadBlockNotAnAllocation) {
  // Sanitizers reserve far more address space than the limit allows.
  if (kSanitized) GTEST_SKIP() << "address-space limit and sanitizers do not mix";
  const std::string magic = "~Module signature appended~\n";
  const std::string path = work_.file("huge.exe");
  const std::string trailer = std::string("\0\0\2\0\0\0\0\0\xff\xff\xff\x00", 12) + magic;
  {
    std::ofstream out(path, std::ios::binary);
    ASSERT_TRUE(out);
    // Sparse: the file is 4 GiB long but takes no disk. (A stream offset
    // has 64 bits everywhere; off_t has 32 on Windows.)
    out.seekp(std::streamoff{1} << 32);
    out.write(trailer.data(), static_cast<std::streamsize>(trailer.size()));
    out.close();
    ASSERT_TRUE(out);
  }
  EXPECT_EXIT(checkUnderMemoryLimit(path), ::testing::ExitedWithCode(0), "");
}

TEST_F(FileTrustTest, SignedByUntrustedCaIsNotTrusted) {
  const std::string path = signedFile("setup.exe", "content", stranger_);
  EXPECT_EQ(status(path), kTrustSubjectNotTrusted);
  EXPECT_EQ(SignatureMessage(CheckAppendedSignature(path), L"x"),
            L"The signature is present, but not trusted.");
  // The same file is good once its CA is the deployment's.
  setenv("WEBSETUP_TRUSTED_CA", stranger_.caCert.c_str(), 1);
  EXPECT_EQ(status(path), 0u);
}

TEST(SignatureMessageTest, OtherStatuses) {
  EXPECT_EQ(
      SignatureMessage({static_cast<int32_t>(kTrustNoSignature), kTrustProviderUnknown}, L"f"),
      L"The file \"f\" is not signed.");
  EXPECT_EQ(SignatureMessage({static_cast<int32_t>(kTrustExplicitDistrust), 0}, L"f"),
            L"The signature is present, but specifically disallowed.");
  EXPECT_EQ(SignatureMessage({static_cast<int32_t>(0x800B0109), 0}, L"f"),
            L"Error is: 0x800b0109.");
}

// This test binary is stamped with version 2.10.8.1 by the build.
TEST(VersionSectionTest, ReadsStampedVersionOfARealExecutable) {
#ifdef _WIN32
  GTEST_SKIP() << "reads the Linux build's sign-file; PE sections are read in "
                  "tests/platform/win32/files_win_test.cc";
#endif
  const std::wstring self = Utf8ToWide(platform::modulePath());
  EXPECT_EQ(GetFileVersion(self), "2.10.8.1");
  EXPECT_EQ(GetFileVersionW(self), L"2.10.8.1");
  const VersionStrings strings = GetFileVersionStrings(self);
  EXPECT_EQ(strings.productName, L"websetup tests");
  EXPECT_EQ(strings.productVersion, L"2.10.8.1");
  EXPECT_EQ(strings.fileDescription, L"System services tests");
  EXPECT_FALSE(strings.legalCopyright.empty());

  // The signing tool carries the project's version, in four parts.
  EXPECT_EQ(GetFileVersion(Utf8ToWide(SIGN_FILE_PATH)).size() >= 7, true);
  EXPECT_EQ(GetFileVersion(L"/bin/sleep"), "");  // an ELF file without the section
  EXPECT_EQ(GetFileVersion(L"/etc/hostname"), "");
  EXPECT_EQ(GetFileVersionStrings(L"/nonexistent").productName, L"");
}

TEST(VersionSectionTest, ParsesVersionLines) {
  const std::string lines = "ProductName=A=B\nFileVersionX=9\nFileVersion=1.2\n";
  EXPECT_EQ(VersionValue(lines, "ProductName"), "A=B");
  EXPECT_EQ(VersionValue(lines, "FileVersion"), "1.2");
  EXPECT_EQ(VersionValue(lines, "LegalCopyright"), "");
}

TEST(TextDigestTest, Md5OfText) {
  EXPECT_EQ(GetTextMd5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(GetTextMd5(""), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace FuntionImpl
