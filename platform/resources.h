#ifndef WEBSETUP_PLATFORM_RESOURCES_H_
#define WEBSETUP_PLATFORM_RESOURCES_H_

// Resources linked into the executable at build time (the stand-in for
// FindResource/LoadResource), found by type and id. The build registers each
// one through websetup_embed_resource() in CMake.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct Resource {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Registers bytes that live as long as the process. Called by generated
// static initialisers; returns true so it can initialise a constant.
bool registerResource(const char* type, int id, const uint8_t* data, size_t size);

// Finds resource (`type`, `id`). Returns false when there is none.
// Thread-safe after static initialisation.
bool findResource(const std::string& type, int id, Resource* out);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_RESOURCES_H_
