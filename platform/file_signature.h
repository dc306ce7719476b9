#ifndef WEBSETUP_PLATFORM_FILE_SIGNATURE_H_
#define WEBSETUP_PLATFORM_FILE_SIGNATURE_H_

// The system's check of a file's signature: Authenticode through
// WinVerifyTrust on Windows; on Linux the stand-in, an appended CMS
// signature checked with OpenSSL. Outcomes are Windows' trust status
// numbers on both (they reach the log). Stateless; thread-safe.
//
// Linux's signed file layout: the content, then a DER PKCS#7 (CMS)
// detached signature over the content, then the 12-byte trailer
//   algo, hash, id_type (2 = PKCS#7), signer_len, key_id_len, pad[3],
//   sig_len (32-bit big-endian)
// and finally the text "~Module signature appended~\n".

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t kTrustNoSignature = 0x800B0100;  // no trailer
constexpr uint32_t kTrustSubjectFormUnknown = 0x800B0003;
constexpr uint32_t kTrustProviderUnknown = 0x800B0001;
constexpr uint32_t kTrustExplicitDistrust = 0x800B0111;
constexpr uint32_t kTrustSubjectNotTrusted = 0x800B0004;  // chain does not reach a trusted CA
constexpr uint32_t kCryptSecuritySettings = 0x80092026;
constexpr uint32_t kTrustBadDigest = 0x80096010;          // content changed after signing
constexpr uint32_t kCryptBadSignatureBlock = 0x8009310B;  // signature block unreadable

struct FileSignature {
  int32_t status = 0;      // 0 = verified
  uint32_t lastError = 0;  // detail for the "no signature" status
  // Who signed a verified file: SHA-256 of the signing certificate (DER)
  // and of its public key (SubjectPublicKeyInfo), lower-case hexadecimal.
  std::string certificateSha256;
  std::string publicKeySha256;
};

// Checks the signature of the file at `path` (UTF-8) against the system's
// trusted authorities plus the CA certificate in `extraCaFile` (PEM; a
// missing file adds nothing). Never fails otherwise: every outcome is a
// status.
FileSignature checkFileSignature(const std::string& path, const std::string& extraCaFile);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_FILE_SIGNATURE_H_
