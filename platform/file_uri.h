#ifndef WEBSETUP_PLATFORM_FILE_URI_H_
#define WEBSETUP_PLATFORM_FILE_URI_H_

// "file://" URIs of local paths, as the desktop's services exchange them.

#include <optional>
#include <string>

namespace platform {

// "file://" URI of the absolute path `path`: every byte but letters,
// digits, "-._~" and "/" percent-encoded.
std::string fileUriFromPath(const std::string& path);

// The local path a "file://" URI names, percent-decoded; the host must be
// empty or "localhost". nullopt for another scheme or host, a broken
// escape or an escaped NUL.
std::optional<std::string> pathFromFileUri(const std::string& uri);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_FILE_URI_H_
