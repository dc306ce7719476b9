// The update server's answer to the configuration query: the framing of
// its <Downloader> block, then the block's fields.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/configure.h"
#include "config/download_info_url.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  std::string block;
  config::CConfigure c(630, 0, 0);
  // The block as framed, and the whole body as the parser's own input.
  c.rawAnswer = config::frameDownloaderBlock(body, &block) ? block : body;
  if (c.parseRawAnswer()) c.printContent();
  return 0;
}
