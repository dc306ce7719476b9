#ifndef WEBSETUP_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define WEBSETUP_TESTS_FUZZ_FUZZ_SUPPORT_H_

// What the fuzz targets share: a quiet logger (a log line per input would
// be most of the run time) and a private scratch folder for the parsers
// that read files. One process runs one target, single-threaded.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Turns every logger off.
void quietLogs();

// A folder made for this process under $TMPDIR (or /tmp), removed at exit.
const std::string& scratchDir();

// Replaces the file at `path` with `size` bytes of `data`. False on error.
bool writeBytes(const std::string& path, const uint8_t* data, size_t size);

}  // namespace fuzz

#endif  // WEBSETUP_TESTS_FUZZ_FUZZ_SUPPORT_H_
