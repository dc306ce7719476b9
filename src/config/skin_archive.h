#ifndef WEBSETUP_CONFIG_SKIN_ARCHIVE_H_
#define WEBSETUP_CONFIG_SKIN_ARCHIVE_H_

// Files of the skin archive for the configuration (the product
// configuration, the services file), through the program's one zip reader
// (zip/zip_archive.h). Thread-safe.

#include <string>

namespace config {

// Reads the file `nameInArchive` ("configure/configure.xml") out of the
// linked-in skin archive into *out. Returns false when the program carries
// no archive, the archive is not a zip, or the file is missing or unreadable
// (then *out is empty).
[[nodiscard]] bool readSkinFile(const std::string& nameInArchive, std::string* out);

// Reads `nameInArchive` out of the zip held in `zipBytes`. Same results as
// readSkinFile. For archives not linked in (tests, tools).
[[nodiscard]] bool readZipFile(const std::string& zipBytes, const std::string& nameInArchive,
                               std::string* out);

}  // namespace config

#endif  // WEBSETUP_CONFIG_SKIN_ARCHIVE_H_
