// Linux stand-ins for the Windows facts of the machine identity: the root
// file system plays the system volume, /proc/net/route the best route and
// /sys/class/net the adapter list.

#include <sys/statfs.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/os_info.h"
#include "platform/machine_facts.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

std::string readFirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The device that holds "/" according to mountinfo ("/dev/sda1"), or empty.
std::string rootDevice() {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin, root, mountPoint;
    fields >> id >> parent >> majmin >> root >> mountPoint;
    if (mountPoint != "/") continue;
    const size_t dash = line.find(" - ");
    if (dash == std::string::npos) return std::string();
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    return source;
  }
  return std::string();
}

// UUID of the root file system from /dev/disk/by-uuid, or empty (for
// example in a container whose root is an overlay).
std::string rootUuid() {
  const std::string device = rootDevice();
  if (device.empty() || device[0] != '/') return std::string();
  std::error_code ec;
  const fs::path target = fs::canonical(device, ec);
  if (ec) return std::string();
  for (const auto& entry : fs::directory_iterator("/dev/disk/by-uuid", ec)) {
    std::error_code ec2;
    if (fs::canonical(entry.path(), ec2) == target && !ec2) {
      return entry.path().filename().string();
    }
  }
  return std::string();
}

bool rootFsid(uint32_t* a, uint32_t* b) {
  struct statfs st;
  if (statfs("/", &st) != 0) return false;
  int vals[2];
  std::memcpy(vals, &st.f_fsid, sizeof vals);
  *a = static_cast<uint32_t>(vals[0]);
  *b = static_cast<uint32_t>(vals[1]);
  return true;
}

std::vector<uint8_t> parseMac(const std::string& text) {
  std::vector<uint8_t> bytes;
  unsigned v[6];
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) ==
      6) {
    for (unsigned b : v) bytes.push_back(static_cast<uint8_t>(b));
  }
  return bytes;
}

}  // namespace

std::optional<uint32_t> systemVolumeSerial() {
  const std::string uuid = rootUuid();
  if (!uuid.empty()) {
    std::string hex;
    for (char c : uuid) {
      if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
      if (hex.size() == 8) break;
    }
    if (!hex.empty()) return static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
  }
  uint32_t a = 0, b = 0;
  if (!rootFsid(&a, &b)) return std::nullopt;
  return a != 0 ? a : b;
}

std::string systemVolumeName() {
  std::string id = rootUuid();
  if (id.empty()) {
    uint32_t a = 0, b = 0;
    if (!rootFsid(&a, &b)) return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%08x-%08x", a, b);
    id = text;
  }
  return "\\\\?\\Volume{" + id + "}\\";
}

std::optional<int> bestInterfaceIndex() {
  std::ifstream in("/proc/net/route");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, destination;
    fields >> name >> destination;
    if (destination != "00000000") continue;
    const std::string index = readFirstLine(fs::path("/sys/class/net") / name / "ifindex");
    if (index.empty()) return std::nullopt;
    return std::stoi(index);
  }
  return std::nullopt;
}

std::vector<AdapterInfo> listAdapters() {
  std::vector<AdapterInfo> adapters;
  std::error_code ec;
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator("/sys/class/net", ec)) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end(),
            [](const fs::path& x, const fs::path& y) {
              return std::atoi(readFirstLine(x / "ifindex").c_str()) <
                     std::atoi(readFirstLine(y / "ifindex").c_str());
            });
  for (const fs::path& dir : entries) {
    AdapterInfo a;
    a.index = std::atoi(readFirstLine(dir / "ifindex").c_str());
    a.address = parseMac(readFirstLine(dir / "address"));
    const int arpType = std::atoi(readFirstLine(dir / "type").c_str());
    std::error_code ec2;
    const std::string real = fs::canonical(dir, ec2).string();
    const bool isVirtual = real.find("/devices/virtual/") != std::string::npos;
    const std::string subsystem = fs::canonical(dir / "device" / "subsystem", ec2).filename().string();
    std::string uevent;
    {
      std::ifstream u(dir / "uevent");
      std::string l;
      while (std::getline(u, l)) uevent += l + " ";
    }
    a.description = dir.filename().string();
    if (subsystem == "pci") a.description += " PCI";
    if (uevent.find("DEVTYPE=bluetooth") != std::string::npos) a.description += " Bluetooth";
    if (isVirtual) a.description += " Virtual";
    if (arpType == 772) {
      a.type = 24;
    } else if (fs::exists(dir / "wireless", ec2)) {
      a.type = 71;  // IEEE 802.11
    } else if (arpType == 1) {
      a.type = 6;  // Ethernet
    } else {
      a.type = 1;
    }
    adapters.push_back(std::move(a));
  }
  return adapters;
}

std::string osName() {
  const std::string name = platform::osRelease().prettyName;
  return name.empty() ? "unknown OperatingSystem." : name;
}

int processorArchitecture() {
  struct utsname u;
  if (uname(&u) != 0) return 0xFFFF;
  const std::string m = u.machine;
  if (m == "x86_64") return 9;
  if (m == "ia64") return 6;
  if (m == "aarch64") return 12;
  if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") return 0;
  return 0xFFFF;
}

}  // namespace platform
