// Authenticode through WinVerifyTrust, and who signed the file.
//
// The trust decision alone never makes a file ours: the caller also pins
// the signer's certificate or key hash. That matters all the more because
// WinVerifyTrust differs between systems; Wine's, for one, accepts a file
// signed by a self-signed certificate nobody trusts.

#include <windows.h>
// After windows.h, which WIN32_LEAN_AND_MEAN keeps from including it.
#include <wincrypt.h>
// Then the headers that build on it.
#include <bcrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_signature.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

// A CA file is a certificate or a short bundle; anything bigger is not one.
constexpr DWORD kMaxCaFileBytes = 1024 * 1024;

using Bytes = std::vector<BYTE>;

std::string hexOf(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const BYTE b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// SHA-256 of `data`, or empty when the system cannot compute it.
Bytes sha256(const BYTE* data, DWORD size) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return {};
  }
  Bytes digest(32);
  BCRYPT_HASH_HANDLE hash = nullptr;
  const bool ok = BCRYPT_SUCCESS(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0)) &&
                  BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<BYTE*>(data), size, 0)) &&
                  BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), 32, 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(alg, 0);
  if (!ok) digest.clear();
  return digest;
}

// The fingerprints of a signer's certificate: of its DER, and of its
// SubjectPublicKeyInfo re-encoded to DER, which is byte for byte the
// encoding inside the certificate.
void describeSigner(PCCERT_CONTEXT cert, FileSignature* out) {
  const Bytes certDigest = sha256(cert->pbCertEncoded, cert->cbCertEncoded);
  if (!certDigest.empty()) out->certificateSha256 = hexOf(certDigest);
  BYTE* spki = nullptr;
  DWORD spkiSize = 0;
  if (CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                          &cert->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                          &spki, &spkiSize)) {
    const Bytes keyDigest = sha256(spki, spkiSize);
    if (!keyDigest.empty()) out->publicKeySha256 = hexOf(keyDigest);
    LocalFree(spki);
  }
}

// The DER of every certificate in the PEM file at `path`; none when the
// file is missing, unreadable or too big.
std::vector<Bytes> certificatesInPemFile(const std::string& path) {
  if (path.empty()) return {};
  win::UniqueHandle file(CreateFileW(win::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > kMaxCaFileBytes) {
    return {};
  }
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return {};
  text.resize(got);

  static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
  static const std::string kEnd = "-----END CERTIFICATE-----";
  std::vector<Bytes> certs;
  for (size_t begin = text.find(kBegin); begin != std::string::npos;
       begin = text.find(kBegin, begin + kBegin.size())) {
    const size_t end = text.find(kEnd, begin);
    if (end == std::string::npos) break;
    const std::string block = text.substr(begin, end + kEnd.size() - begin);
    DWORD derSize = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &derSize, nullptr, nullptr) ||
        derSize == 0) {
      continue;
    }
    Bytes der(derSize);
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &derSize, nullptr, nullptr)) {
      der.resize(derSize);
      certs.push_back(std::move(der));
    }
  }
  return certs;
}

// Whether a signature WinVerifyTrust refused only for its root is one of
// the deployment's: Authenticode trusts the Windows store alone, while a
// deployment may sign with its own CA, shipped as a PEM file beside the
// setup (the Linux backend adds that file to its store). The chain must be
// sound in every other way: nothing but the untrusted root (and revocation,
// which we do not check) may be wrong with it, and its root must be one of
// the file's certificates, compared as DER.
bool rootIsDeploymentCa(CRYPT_PROVIDER_SGNR* signer, const std::string& extraCaFile) {
  if (signer == nullptr || signer->pChainContext == nullptr || signer->pChainContext->cChain == 0) {
    return false;
  }
  const CERT_SIMPLE_CHAIN* chain = signer->pChainContext->rgpChain[0];
  constexpr DWORD kTolerated = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                               CERT_TRUST_IS_OFFLINE_REVOCATION;
  if (chain == nullptr || chain->cElement == 0 ||
      (chain->TrustStatus.dwErrorStatus & ~kTolerated) != 0 ||
      (signer->pChainContext->TrustStatus.dwErrorStatus & ~kTolerated) != 0) {
    return false;
  }
  PCCERT_CONTEXT root = chain->rgpElement[chain->cElement - 1]->pCertContext;
  if (root == nullptr) return false;
  for (const Bytes& ca : certificatesInPemFile(extraCaFile)) {
    if (ca.size() == root->cbCertEncoded && std::equal(ca.begin(), ca.end(), root->pbCertEncoded)) {
      return true;
    }
  }
  return false;
}

// The certificate that signed: the first of the signer's chain.
PCCERT_CONTEXT signerCertificate(CRYPT_PROVIDER_SGNR* signer) {
  if (signer == nullptr) return nullptr;
  if (CRYPT_PROVIDER_CERT* first = WTHelperGetProvCertFromChain(signer, 0)) {
    if (first->pCert != nullptr) return first->pCert;
  }
  const CERT_CHAIN_CONTEXT* chains = signer->pChainContext;
  if (chains != nullptr && chains->cChain > 0 && chains->rgpChain[0]->cElement > 0) {
    return chains->rgpChain[0]->rgpElement[0]->pCertContext;
  }
  return nullptr;
}

}  // namespace

FileSignature checkFileSignature(const std::string& path, const std::string& extraCaFile) {
  const std::wstring widePath = win::widen(path);
  // A file that cannot be opened has no signature to check; the reason
  // goes to the detail, as for an unsigned file.
  {
    win::UniqueHandle file(CreateFileW(widePath.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return {static_cast<int32_t>(kTrustNoSignature), GetLastError(), {}, {}};
  }

  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = widePath.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  // Revocation needs the network and may stall for minutes; the pinned
  // signer hash is what protects us.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  // Keep the state, which holds the signer, until we are done with it.
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;

  FileSignature result;
  result.status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  const DWORD lastError = GetLastError();
  if (static_cast<uint32_t>(result.status) == kTrustNoSignature) result.lastError = lastError;

  CRYPT_PROVIDER_SGNR* signer = nullptr;
  if (data.hWVTStateData != nullptr) {
    if (CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData)) {
      signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    }
  }
  if (static_cast<uint32_t>(result.status) == static_cast<uint32_t>(CERT_E_UNTRUSTEDROOT) &&
      rootIsDeploymentCa(signer, extraCaFile)) {
    result.status = 0;
  }
  if (result.status == 0) {
    if (PCCERT_CONTEXT cert = signerCertificate(signer)) describeSigner(cert, &result);
  }

  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result;
}

}  // namespace platform
