#include <windows.h>

#include "platform/resources.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

// The bytes of resource (type, id) of our own executable. Resources stay
// mapped as long as the module, so no copy is needed.
bool loadResource(LPCWSTR type, LPCWSTR name, Resource* out) {
  HRSRC info = FindResourceW(nullptr, name, type);
  if (info == nullptr) return false;
  HGLOBAL loaded = LoadResource(nullptr, info);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return false;
  out->data = static_cast<const uint8_t*>(data);
  out->size = SizeofResource(nullptr, info);
  return true;
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
struct GroupIconHeader {
  WORD reserved, type, count;
};
#pragma pack(pop)

}  // namespace

// The build links resources in with windres, so there is nothing to
// register at run time.
bool registerResource(const char*, int, const uint8_t*, size_t) { return false; }

// "ICON" is the icon group `id`: its first image is returned, which the
// build made from a PNG, so callers get PNG bytes as on other systems.
// Every other type is a custom resource type of that name.
bool findResource(const std::string& type, int id, Resource* out) {
  if (type == "ICON") {
    Resource group;
    if (!loadResource(RT_GROUP_ICON, MAKEINTRESOURCEW(id), &group)) return false;
    if (group.size < sizeof(GroupIconHeader) + sizeof(GroupIconEntry)) return false;
    const auto* header = reinterpret_cast<const GroupIconHeader*>(group.data);
    if (header->count == 0) return false;
    const auto* entry =
        reinterpret_cast<const GroupIconEntry*>(group.data + sizeof(GroupIconHeader));
    return loadResource(RT_ICON, MAKEINTRESOURCEW(entry->id), out);
  }
  const std::wstring wideType = win::widen(type);
  return loadResource(wideType.c_str(), MAKEINTRESOURCEW(id), out);
}

}  // namespace platform
