// Response headers from a file host: the size probe's text (Content-Range,
// Content-Length, Location, the CDN headers) and, line by line, the header
// callback of a segment request. The first byte picks the segment's
// length, so both "known length" and "no length yet" are reached.
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/download_task_manager.h"
#include "engine/download_thread.h"
#include "engine/libcurl_tool.h"
#include "engine/task.h"
#include "fuzz_support.h"

namespace {

class SegmentWorker : public engine::CDownloadThread {
 public:
  SegmentWorker() : engine::CDownloadThread(nullptr, nullptr) {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  (void)engine::readProbeAnswer(text);

  engine::CTask task;
  task.contentLength = (data[0] & 1) ? 12582913 : 0;
  task.endPos = task.length();
  task.probeCdn = "TCP_HIT";
  // One worker for the run: each owns a libcurl handle.
  static SegmentWorker worker;
  worker.doTask(&task);
  // libcurl hands the callback one line at a time, with its line end.
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(from, end - from);
    if (engine::CLibcurlTool::HeaderCallback(line.data(), 1, line.size(), &worker) != line.size()) break;
    from = end;
  }
  worker.transfer() = engine::SegmentTransfer{};
  return 0;
}
