#ifndef WEBSETUP_PLATFORM_MACHINE_FACTS_H_
#define WEBSETUP_PLATFORM_MACHINE_FACTS_H_

// Facts that identify this machine for web logs: the system volume, the
// network adapters and the route to the internet, the OS name and the
// processor. On Linux the root file system plays the system volume,
// /proc/net/route the best route and /sys/class/net the adapter list.
// Thread-safe; every call reads the system afresh.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct AdapterInfo {
  int index = 0;
  std::string description;
  int type = 0;  // 6 Ethernet, 71 IEEE 802.11, 24 loopback, 1 other
  std::vector<uint8_t> address;
};

// Serial number of the volume holding the system; nullopt when unreadable.
std::optional<uint32_t> systemVolumeSerial();
// GUID path of that volume ("\\?\Volume{...}\"); empty when unknown.
std::string systemVolumeName();
// Index of the adapter that routes to 8.8.8.8; nullopt when none.
std::optional<int> bestInterfaceIndex();
// Every adapter; empty when the list cannot be read.
std::vector<AdapterInfo> listAdapters();
// The OS name (or "unknown OperatingSystem.").
std::string osName();
// The processor architecture in Windows numbering (9 AMD64, 6 IA64, ...).
int processorArchitecture();

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_MACHINE_FACTS_H_
