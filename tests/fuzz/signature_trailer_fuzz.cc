// An installer's appended signature: the trailer, the length it claims and
// the CMS block it points at. The input is the whole file.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "system/file_trust.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  // An empty trust store: the parsing is what is fuzzed, and searching the
  // system's certificates for each input would be most of the run.
  setenv("SSL_CERT_DIR", fuzz::scratchDir().c_str(), 1);
  setenv("SSL_CERT_FILE", "/dev/null", 1);
  setenv("WEBSETUP_TRUSTED_CA", "/dev/null", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::scratchDir() + "/setup.exe";
  if (!fuzz::writeBytes(path, data, size)) return 0;
  FuntionImpl::SignerIdentity signer;
  const FuntionImpl::SignatureCheck check = FuntionImpl::CheckAppendedSignature(path, &signer);
  (void)FuntionImpl::SignatureMessage(check, L"/fuzz/setup.exe");
  return 0;
}
