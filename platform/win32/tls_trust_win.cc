#include "platform/tls_trust.h"

#include <shlobj.h>
#include <windows.h>

#include "platform/win32/win_util.h"

namespace platform {

std::string defaultDeploymentCaFile() {
  PWSTR folder = nullptr;
  std::string path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder))) {
    path = win::narrow(folder) + "\\websetup\\trusted-ca.pem";
  }
  CoTaskMemFree(folder);
  return path;
}

// Schannel reads the Windows certificate store itself; it has no folder of
// PEM files to add.
std::string systemCaFolder() { return std::string(); }

// libcurl's Schannel backend reports no verification detail (the result
// stays 0), so the text says what the refusal can mean.
std::string peerRefusalText(long verifyResult) {
  (void)verifyResult;
  return "Windows refused the certificate (an untrusted issuer, an expired certificate or "
         "another host's name)";
}

}  // namespace platform
