#ifndef WEBSETUP_PLATFORM_EXECUTABLE_SECTION_H_
#define WEBSETUP_PLATFORM_EXECUTABLE_SECTION_H_

// Reading a named section out of an executable file (the stand-in for the
// version-resource functions: our programs carry their version text in an
// ELF section). Thread-safe.

#include <string>

#include "platform/result.h"

namespace platform {

// Stores the bytes of section `name` of the executable at `path` in *out.
// Returns kOk; kNotFound when the file or the section is missing;
// kInvalidArgument when the file is not an executable of a format we read
// (ELF, 32 or 64-bit, our byte order) or its headers point outside it;
// kIoError on a read failure. Sections larger than `maxBytes` are refused
// with kInvalidArgument.
[[nodiscard]] PlatformResult readExecutableSection(const std::string& path,
                                                   const std::string& name, std::string* out,
                                                   size_t maxBytes = 1 << 20);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_EXECUTABLE_SECTION_H_
