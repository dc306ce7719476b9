#ifndef WEBSETUP_SYSTEM_FILE_TRUST_H_
#define WEBSETUP_SYSTEM_FILE_TRUST_H_

// Facts read from files and texts: whether a file carries a valid appended
// signature, the version our executables carry, and the MD5 of a text.
// Stateless; thread-safe.
//
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_signature.h"

namespace FuntionImpl {

// Outcome of a signature check, as the Windows trust status it stands for
// (the numbers reach the log).
struct SignatureCheck {
  int32_t status = 0;      // 0 = verified
  uint32_t lastError = 0;  // detail for the "no signature" status
};

// The trust status numbers (platform/file_signature.h).
using platform::kCryptBadSignatureBlock;
using platform::kCryptSecuritySettings;
using platform::kTrustBadDigest;
using platform::kTrustExplicitDistrust;
using platform::kTrustNoSignature;
using platform::kTrustProviderUnknown;
using platform::kTrustSubjectFormUnknown;
using platform::kTrustSubjectNotTrusted;

// Checks the appended signature of the file at `path` (UTF-8) against the
// system trust store plus the deployment's CA certificate
// (net::DeploymentCaFile(), the file TLS trusts too).
// Never fails otherwise: every outcome is a status.
SignatureCheck CheckAppendedSignature(const std::string& path);

// Who signed a file: SHA-256 of the signing certificate (DER) and of its
// public key (SubjectPublicKeyInfo), lower-case hexadecimal.
struct SignerIdentity {
  std::string certificateSha256;
  std::string publicKeySha256;
  // True when one of `pins` (hexadecimal, ':' and case ignored) names the
  // certificate or the key.
  bool matchesAny(const std::vector<std::string>& pins) const;
};

// As above; on a verified signature *signer (when given) names the signer.
SignatureCheck CheckAppendedSignature(const std::string& path, SignerIdentity* signer);

// True only when the signature of `path` verifies and its signer is one of
// `pins` (the maker's certificates, from the deployment): a valid signature
// of anyone else is as bad as none, since the file runs with our rights.
// Logs the check as VerifyEmbeddedSignature does, and a foreign signer.
bool VerifyPinnedSignature(const std::wstring& path, const std::vector<std::string>& pins);

// The message for a check outcome of the file `path`.
std::wstring SignatureMessage(const SignatureCheck& check, const std::wstring& path);

// True only when the signature of `path` verifies. Logs
// " VerifyEmbeddedSignature result is <status>, <message>" on every call.
bool VerifyEmbeddedSignature(const std::wstring& path);

// Name of the section that carries our executables' version lines.
constexpr char kVersionSection[] = ".websetup_version";

// The file version of the executable at `path` as "major.minor.build.revision";
// empty when it carries no version, or one that is not four numbers of
// 0..65535 (missing trailing parts count as 0).
std::string GetFileVersion(const std::wstring& path);
std::wstring GetFileVersionW(const std::wstring& path);

// The descriptive strings of the executable at `path`; each empty when
// absent.
struct VersionStrings {
  std::wstring productName;
  std::wstring productVersion;
  std::wstring legalCopyright;
  std::wstring fileDescription;
};
VersionStrings GetFileVersionStrings(const std::wstring& path);

// The value of `key` among "key=value" lines; empty when absent.
std::string VersionValue(const std::string& lines, const std::string& key);

// The MD5 of the bytes of `text` as 32 lower-case hexadecimal digits.
std::string GetTextMd5(const std::string& text);

}  // namespace FuntionImpl

#endif  // WEBSETUP_SYSTEM_FILE_TRUST_H_
