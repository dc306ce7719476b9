#ifndef WEBSETUP_PLATFORM_FILES_H_
#define WEBSETUP_PLATFORM_FILES_H_

// Whole-file questions and replacements: whether a file is there, its
// size, removing it, replacing its content in one step. Paths are UTF-8.
// Thread-safe.

#include <cstdint>
#include <string>

namespace platform {

// Whether `path` can be opened for reading.
bool fileReadable(const std::string& path);
// Whether `path` names a regular file (after following symbolic links).
bool isRegularFile(const std::string& path);
// The size of the file at `path`, or -1 when it cannot be read.
int64_t fileSize(const std::string& path);
// Removes the file at `path`. Returns true when it is gone.
[[nodiscard]] bool deleteFile(const std::string& path);
// Replaces `path` with `content` through a temporary file and a rename, so
// a reader never sees half a file. Returns false on failure.
[[nodiscard]] bool replaceFileAtomically(const std::string& path, const std::string& content);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_FILES_H_
