#include "system/file_trust.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"
#include "net/transport_policy.h"
#include "platform/executable_section.h"

namespace FuntionImpl {
namespace {

std::wstring format(const wchar_t* pattern, const std::wstring& path) {
  std::vector<wchar_t> text(pattern == nullptr ? 1 : 256 + path.size());
  std::swprintf(text.data(), text.size(), pattern, path.c_str());
  return text.data();
}

// Parses "a.b.c.d" (trailing parts may be missing) into four 16-bit parts.
bool parseFileVersion(const std::string& text, unsigned parts[4]) {
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    parts[i] = 0;
    if (pos >= text.size()) {
      if (i == 0) return false;
      continue;
    }
    size_t end = text.find('.', pos);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(pos, end - pos);
    if (part.empty() || part.size() > 5 ||
        part.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    parts[i] = static_cast<unsigned>(std::stoul(part));
    if (parts[i] > 0xffff) return false;
    pos = end == text.size() ? end : end + 1;
    if (end != text.size() && pos == text.size()) return false;  // trailing '.'
  }
  return pos >= text.size();
}

std::string versionLines(const std::wstring& path) {
  std::string section;
  if (platform::readExecutableSection(common::wideToUtf8(path), kVersionSection, &section) !=
      platform::PlatformResult::kOk) {
    return {};
  }
  return section;
}

}  // namespace

bool SignerIdentity::matchesAny(const std::vector<std::string>& pins) const {
  for (std::string pin : pins) {
    std::erase(pin, ':');
    for (char& c : pin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (pin.empty()) continue;
    if (pin == certificateSha256 || pin == publicKeySha256) return true;
  }
  return false;
}

bool VerifyPinnedSignature(const std::wstring& path, const std::vector<std::string>& pins) {
  SignerIdentity signer;
  const SignatureCheck check = CheckAppendedSignature(common::wideToUtf8(path), &signer);
  LOG(INFO) << " VerifyEmbeddedSignature result is " << check.status << ", "
            << common::wideToUtf8(SignatureMessage(check, path));
  if (check.status != 0) return false;
  if (signer.matchesAny(pins)) return true;
  LOG(INFO) << " Signer is not the maker's: certificate " << signer.certificateSha256 << ", key "
            << signer.publicKeySha256 << " (" << pins.size() << " pinned)";
  return false;
}

SignatureCheck CheckAppendedSignature(const std::string& path) {
  return CheckAppendedSignature(path, nullptr);
}

SignatureCheck CheckAppendedSignature(const std::string& path, SignerIdentity* signer) {
  const platform::FileSignature found = platform::checkFileSignature(path, net::DeploymentCaFile());
  if (found.status == 0 && signer != nullptr) {
    signer->certificateSha256 = found.certificateSha256;
    signer->publicKeySha256 = found.publicKeySha256;
  }
  return {found.status, found.lastError};
}

std::wstring SignatureMessage(const SignatureCheck& check, const std::wstring& path) {
  const auto status = static_cast<uint32_t>(check.status);
  if (status == 0)
    return format(L"The file \"%ls\" is signed and the signature was verified.", path);
  if (status == kTrustNoSignature) {
    if (check.lastError == kTrustNoSignature || check.lastError == kTrustSubjectFormUnknown ||
        check.lastError == kTrustProviderUnknown) {
      return format(L"The file \"%ls\" is not signed.", path);
    }
    return format(L"An unknown error occurred trying to verify the signature of the \"%ls\" file.",
                  path);
  }
  if (status == kTrustExplicitDistrust)
    return L"The signature is present, but specifically disallowed.";
  if (status == kTrustSubjectNotTrusted) return L"The signature is present, but not trusted.";
  if (status == kCryptSecuritySettings) {
    return L"CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't "
           L"explicitly trusted by the admin and admin policy has disabled user trust. No signature, "
           L"publisher or timestamp errors.";
  }
  wchar_t text[64];
  std::swprintf(text, 64, L"Error is: 0x%x.", status);
  return text;
}

bool VerifyEmbeddedSignature(const std::wstring& path) {
  const SignatureCheck check = CheckAppendedSignature(common::wideToUtf8(path));
  LOG(INFO) << " VerifyEmbeddedSignature result is " << check.status << ", "
            << common::wideToUtf8(SignatureMessage(check, path));
  return check.status == 0;
}

std::string VersionValue(const std::string& lines, const std::string& key) {
  size_t pos = 0;
  while (pos < lines.size()) {
    size_t end = lines.find('\n', pos);
    if (end == std::string::npos) end = lines.size();
    const std::string line = lines.substr(pos, end - pos);
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
        line[key.size()] == '=') {
      std::string value = line.substr(key.size() + 1);
      const size_t nul = value.find('\0');
      if (nul != std::string::npos) value.resize(nul);
      return value;
    }
    pos = end + 1;
  }
  return {};
}

std::string GetFileVersion(const std::wstring& path) {
  unsigned parts[4];
  if (!parseFileVersion(VersionValue(versionLines(path), "FileVersion"), parts)) return {};
  char text[32];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  return text;
}

std::wstring GetFileVersionW(const std::wstring& path) {
  return common::utf8ToWide(GetFileVersion(path));
}

VersionStrings GetFileVersionStrings(const std::wstring& path) {
  const std::string lines = versionLines(path);
  VersionStrings strings;
  strings.productName = common::utf8ToWide(VersionValue(lines, "ProductName"));
  strings.productVersion = common::utf8ToWide(VersionValue(lines, "ProductVersion"));
  strings.legalCopyright = common::utf8ToWide(VersionValue(lines, "LegalCopyright"));
  strings.fileDescription = common::utf8ToWide(VersionValue(lines, "FileDescription"));
  return strings;
}

std::string GetTextMd5(const std::string& text) { return common::md5OfText(text); }

}  // namespace FuntionImpl
