#ifndef WEBSETUP_PLATFORM_WIN32_FILE_VERSION_WIN_H_
#define WEBSETUP_PLATFORM_WIN32_FILE_VERSION_WIN_H_

// The version resource of a file (GetFileVersionInfoW, VerQueryValueW),
// rendered as the "key=value" lines the Linux build keeps in its
// ".websetup_version" section, so the callers of readExecutableSection
// read one format on both systems. Thread-safe.

#include <string>

#include "platform/result.h"

namespace platform::win {

// The section name whose reading the version resource answers.
constexpr char kVersionSectionName[] = ".websetup_version";

// Stores in *out the version resource of the file at `path` as lines
// "ProductName=", "ProductVersion=", "FileVersion=" (the four numbers of
// VS_FIXEDFILEINFO), "LegalCopyright=", "FileDescription=", "CompanyName="
// and "OriginalFilename=", each present only when the resource holds it.
// Returns kOk; kNotFound when the file has no version resource (or no
// file, or not a module Windows can load as data); kInvalidArgument when
// the lines would be longer than `maxBytes`.
[[nodiscard]] PlatformResult readVersionResourceLines(const std::string& path, std::string* out,
                                                      size_t maxBytes);

}  // namespace platform::win

#endif  // WEBSETUP_PLATFORM_WIN32_FILE_VERSION_WIN_H_
