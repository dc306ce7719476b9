#ifndef WEBSETUP_WEBLOG_MACHINE_IDENTITY_H_
#define WEBSETUP_WEBLOG_MACHINE_IDENTITY_H_

// How the web-log library names this machine to the maker's services: the
// client id of analytics hits, the analytics user id of the data collector,
// the OS name with architecture, and the public location. The decision
// rules are pure functions over plain facts; the facts of this machine come
// from machine_facts (one implementation per platform). Every value
// degrades to empty instead of failing. Thread-safe.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine_facts.h"

namespace weblog {

// One network adapter as the adapter list reports it.
using AdapterInfo = platform::AdapterInfo;
constexpr int kAdapterEthernet = 6;
constexpr int kAdapterWireless = 71;

// The adapter whose address goes into the client id: the one with index
// `bestIndex` when a best route is known (no filter at all), else the first
// PCI, Ethernet or wireless adapter that is neither Bluetooth nor virtual
// and has a six-byte address. Twelve upper-case hex digits, or empty.
std::string ChooseAdapterAddress(std::optional<int> bestIndex,
                                 const std::vector<AdapterInfo>& adapters);

// Volume serial as "%X" (empty when unknown) followed by the adapter address.
std::string ComposeClientId(std::optional<uint32_t> volumeSerial, const std::string& adapterAddress);

// MD5 (32 lower-case hex digits) of the text strictly between the first '{'
// and the following '}' of a volume GUID path; empty when there are none.
std::string AnalyticsUidFromVolumeName(const std::string& volumeName);

// Version facts of a Windows machine, as RtlGetVersion and GetVersionEx
// give them.
struct WindowsVersion {
  bool known = false;  // both version calls succeeded
  int major = 0;
  int minor = 0;
  int build = 0;
  bool workstation = true;
  bool ntPlatform = true;
  bool processor64 = false;
  bool serverR2 = false;
  int secondMajor = 0;  // major version of a second RtlGetVersion call
};
// The Windows name of `v` ("Windows 11", "unknown OperatingSystem.", ...).
std::string WindowsName(const WindowsVersion& v);

// " x64" for processor architecture AMD64 (9) or IA64 (6), else " x32".
std::string ArchitectureSuffix(int processorArchitecture);

// Public location of the machine from a geolocation CSV answer.
struct Location {
  std::string ip;
  std::string country;
  std::string city;
};
// Splits `answer` at commas without unquoting: field 2 is the country,
// field 6 the city, the text after the last comma the IP address. Returns
// false (and leaves *out) unless the answer contains "success".
bool ParseLocationCsv(const std::string& answer, Location* out);

// MD5 of `data` as 32 lower-case hex digits.
std::string Md5Hex(const std::string& data);

// --- Composed values ---

// The client id of this machine, computed afresh.
std::string ClientId();
// The analytics user id of this machine; empty when it cannot be derived.
std::string AnalyticsUid();
// OS name and architecture, as common.os_version carries it.
std::string OsNameWithArchitecture();

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_MACHINE_IDENTITY_H_
