// The facts that identify this Windows machine in web logs: the volume
// Windows runs from, the adapters, the route to the internet.

// winsock2.h must come before windows.h, and iphlpapi.h after both.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/machine_facts.h"
#include "platform/os_info.h"
#include "platform/win32/win_util.h"

namespace platform {
namespace {

// The root of the volume holding the Windows folder ("C:\"), which is not
// always the first drive; empty when unknown.
std::wstring systemVolumeRoot() {
  wchar_t system[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return {};
  wchar_t root[MAX_PATH + 1] = {};
  if (!GetVolumePathNameW(system, root, MAX_PATH + 1)) return {};
  return root;
}

}  // namespace

std::optional<uint32_t> systemVolumeSerial() {
  const std::wstring root = systemVolumeRoot();
  DWORD serial = 0;
  if (root.empty() ||
      !GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    return std::nullopt;
  }
  return serial;
}

std::string systemVolumeName() {
  const std::wstring root = systemVolumeRoot();
  // "\\?\Volume{GUID}\" is 49 characters and its NUL.
  wchar_t name[64] = {};
  if (root.empty() || !GetVolumeNameForVolumeMountPointW(root.c_str(), name, 64)) return {};
  return win::narrow(name);
}

std::optional<int> bestInterfaceIndex() {
  // 8.8.8.8 reads the same in either byte order.
  const IPAddr destination = 0x08080808u;
  DWORD index = 0;
  if (GetBestInterface(destination, &index) != NO_ERROR) return std::nullopt;
  return static_cast<int>(index);
}

std::vector<AdapterInfo> listAdapters() {
  constexpr ULONG kFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  // Whole ULONGLONGs keep the list as aligned as its 64-bit fields need.
  std::vector<ULONGLONG> buffer;
  ULONG size = 16 * 1024;
  ULONG status = ERROR_BUFFER_OVERFLOW;
  // An adapter may come up between asking the size and reading the list.
  for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size / sizeof(ULONGLONG) + 1, 0);
    size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
    status = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  std::vector<AdapterInfo> adapters;
  if (status != NO_ERROR) return adapters;
  for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
       a = a->Next) {
    AdapterInfo info;
    // An adapter bound to IPv6 only has no IPv4 index.
    info.index = static_cast<int>(a->IfIndex != 0 ? a->IfIndex : a->Ipv6IfIndex);
    if (a->Description != nullptr) info.description = win::narrow(a->Description);
    info.type = static_cast<int>(a->IfType);
    const ULONG length = a->PhysicalAddressLength;
    info.address.assign(a->PhysicalAddress,
                        a->PhysicalAddress + (length <= MAX_ADAPTER_ADDRESS_LENGTH ? length : 0));
    adapters.push_back(std::move(info));
  }
  return adapters;
}

std::string osName() {
  const std::string name = osRelease().prettyName;
  return name.empty() ? "unknown OperatingSystem." : name;
}

// IsWow64Process2 (Windows 10 1511 and later) is asked first: an x86
// program emulated on ARM64 is told by GetNativeSystemInfo that the
// machine is x86.
int processorArchitecture() {
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto isWow64Process2 =
      kernel == nullptr ? nullptr
                        : reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void (*)()>(
                              GetProcAddress(kernel, "IsWow64Process2")));
  USHORT process = 0, native = 0;
  if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native)) {
    switch (native) {
      case IMAGE_FILE_MACHINE_AMD64: return PROCESSOR_ARCHITECTURE_AMD64;
      case IMAGE_FILE_MACHINE_ARM64: return PROCESSOR_ARCHITECTURE_ARM64;
      case IMAGE_FILE_MACHINE_I386: return PROCESSOR_ARCHITECTURE_INTEL;
      case IMAGE_FILE_MACHINE_IA64: return PROCESSOR_ARCHITECTURE_IA64;
      case IMAGE_FILE_MACHINE_ARMNT: return PROCESSOR_ARCHITECTURE_ARM;
      default: break;  // a machine this list does not know: ask the other way
    }
  }
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture;
}

}  // namespace platform
