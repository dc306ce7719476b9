#include "platform/resources.h"

#include <map>
#include <utility>

namespace platform {

namespace {

// Filled by static initialisers before main, read-only afterwards; a
// function-local static avoids the initialisation-order problem.
std::map<std::pair<std::string, int>, Resource>& table() {
  static std::map<std::pair<std::string, int>, Resource> resources;
  return resources;
}

}  // namespace

bool registerResource(const char* type, int id, const uint8_t* data, size_t size) {
  table()[{type, id}] = Resource{data, size};
  return true;
}

bool findResource(const std::string& type, int id, Resource* out) {
  auto it = table().find({type, id});
  if (it == table().end()) return false;
  *out = it->second;
  return true;
}

}  // namespace platform
