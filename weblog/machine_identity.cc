#include "weblog/machine_identity.h"

#include <cstdio>

#include "common/md5.h"

namespace weblog {

std::string ChooseAdapterAddress(std::optional<int> bestIndex,
                                 const std::vector<AdapterInfo>& adapters) {
  const AdapterInfo* chosen = nullptr;
  if (bestIndex) {
    for (const AdapterInfo& a : adapters) {
      if (a.index == *bestIndex) {
        chosen = &a;
        break;
      }
    }
  } else {
    for (const AdapterInfo& a : adapters) {
      const bool kind = a.description.find("PCI") != std::string::npos ||
                        a.type == kAdapterEthernet || a.type == kAdapterWireless;
      const bool excluded = a.description.find("Bluetooth") != std::string::npos ||
                            a.description.find("Virtual") != std::string::npos;
      if (kind && !excluded && a.address.size() == 6) {
        chosen = &a;
        break;
      }
    }
  }
  if (chosen == nullptr || chosen->address.size() < 6) return std::string();
  char text[13];
  const auto& m = chosen->address;
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return text;
}

std::string ComposeClientId(std::optional<uint32_t> volumeSerial,
                            const std::string& adapterAddress) {
  std::string id;
  if (volumeSerial) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", *volumeSerial);
    id = text;
  }
  return id + adapterAddress;
}

std::string Md5Hex(const std::string& data) { return common::md5OfText(data); }

std::string AnalyticsUidFromVolumeName(const std::string& volumeName) {
  const size_t open = volumeName.find('{');
  if (open == std::string::npos) return std::string();
  const size_t close = volumeName.find('}', open + 1);
  if (close == std::string::npos) return std::string();
  return Md5Hex(volumeName.substr(open + 1, close - open - 1));
}

std::string WindowsName(const WindowsVersion& v) {
  if (!v.known) return "unknown OperatingSystem.";
  const bool ws = v.workstation;
  const char* tenOrEleven = v.build < 22000 ? "Windows 10" : "Windows 11";
  if (v.major == 4) {
    if (v.minor == 0) return v.ntPlatform ? "Microsoft Windows NT 4.0" : "Microsoft Windows 95";
    if (v.minor == 10) return "Microsoft Windows 98";
    if (v.minor == 90) return "Microsoft Windows Me";
  } else if (v.major == 5) {
    if (v.minor == 0) return "Windows 2000";
    if (v.minor == 1) return "Windows XP";
    if (v.minor == 2) {
      if (ws && v.processor64) return "Windows XP Professional x64 Edition";
      return v.serverR2 ? "Windows Server 2003 R2" : "Windows Server 2003";
    }
  } else if (v.major == 6) {
    if (v.minor == 0) return ws ? "Windows Vista" : "Windows Server 2008";
    if (v.minor == 1) return ws ? "Windows 7" : "Windows Server 2008 R2";
    if (v.minor == 2) {
      if (!ws) return "Windows Server 2012";
      return v.secondMajor > 9 ? tenOrEleven : "Windows 8";
    }
    if (v.minor == 3) return ws ? "Windows 8.1" : "Windows Server 2012 R2";
  } else if (v.major == 10 && v.minor == 0) {
    return ws ? tenOrEleven : "Windows Server 2016 Technical Preview";
  }
  return "unknown OperatingSystem.";
}

std::string ArchitectureSuffix(int processorArchitecture) {
  return processorArchitecture == 9 || processorArchitecture == 6 ? " x64" : " x32";
}

bool ParseLocationCsv(const std::string& answer, Location* out) {
  if (answer.find("success") == std::string::npos) return false;
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = answer.find(',', start);
    fields.push_back(answer.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (fields.size() > 1) out->country = fields[1];
  if (fields.size() > 5) out->city = fields[5];
  const size_t last = answer.rfind(',');
  if (last != std::string::npos) out->ip = answer.substr(last + 1);
  return true;
}

std::string ClientId() {
  return ComposeClientId(platform::systemVolumeSerial(),
                         ChooseAdapterAddress(platform::bestInterfaceIndex(), platform::listAdapters()));
}

std::string AnalyticsUid() { return AnalyticsUidFromVolumeName(platform::systemVolumeName()); }

std::string OsNameWithArchitecture() {
  return platform::osName() + ArchitectureSuffix(platform::processorArchitecture());
}

}  // namespace weblog
