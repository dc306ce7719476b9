// The task file a resumed download reads: its numbers, its tasks, and the
// layout check that follows (answered here as if a server had agreed with
// the file's length, so no request is made).
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/content_length_cache.h"
#include "engine/download_task_manager.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = fuzz::scratchDir();
  const std::string url = "http://127.0.0.1:9/setup.exe";
  const std::string taskFile = dir + "/setup.exe.xml";
  if (!fuzz::writeBytes(taskFile, data, size)) return 0;
  engine::ClearContentLengthCache();
  engine::CDownloadTaskManager m(url, dir + "/setup.exe", taskFile);
  m.loadTaskFromFile(0);
  if (m.contentLength() > 0) {
    engine::RememberContentLength(url, m.contentLength());
    // Only that hostile text never crashes the checks matters, not their verdict.
    (void)m.checkLoadedTasks(0);
  }
  (void)m.taskFileText();
  while (m.takeTask() != nullptr) {
  }
  return 0;
}
