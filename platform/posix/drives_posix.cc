#include "platform/drives.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

// mountinfo escapes blanks and backslashes as \ooo.
std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string oct = field.substr(i + 1, 3);
      if (oct.size() == 3 && oct.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::strtol(oct.c_str(), nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::string readLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Removable and USB facts of device `majMin` from sysfs. A partition takes
// the removable flag of its disk.
void deviceFacts(const std::string& majMin, bool* removable, bool* usb) {
  const std::string link = "/sys/dev/block/" + majMin;
  char real[PATH_MAX];
  if (realpath(link.c_str(), real) == nullptr) {
    *removable = false;
    *usb = false;
    return;
  }
  std::string device = real;
  *usb = device.find("/usb") != std::string::npos;
  struct stat st {};
  if (stat((device + "/partition").c_str(), &st) == 0) {
    device = device.substr(0, device.rfind('/'));
  }
  *removable = readLine(device + "/removable") == "1";
}

}  // namespace

std::vector<DriveFacts> listDrives() {
  std::vector<DriveFacts> drives;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent maj:min root mountpoint options [optional...] - fstype source superoptions
    std::istringstream fields(line);
    std::string id, parent, majMin, root, mountPoint, options, word;
    fields >> id >> parent >> majMin >> root >> mountPoint >> options;
    std::string source;
    while (fields >> word) {
      if (word == "-") {
        std::string fsType;
        fields >> fsType >> source;
        break;
      }
    }
    if (root != "/" || source.rfind("/dev/", 0) != 0) continue;
    mountPoint = unescapeMountField(mountPoint);
    struct stat st {};
    if (stat(mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;

    DriveFacts drive;
    drive.root = mountPoint.back() == '/' ? mountPoint : mountPoint + "/";
    bool removable = false;
    deviceFacts(majMin, &removable, &drive.usb);
    drive.fixed = !removable;
    const std::string flags = "," + options + ",";
    const bool readOnly = flags.find(",ro,") != std::string::npos;
    drive.runsPrograms = flags.find(",noexec,") == std::string::npos &&
                         (geteuid() != 0 || flags.find(",nosuid,") == std::string::npos);
    drive.writable = !readOnly && access(mountPoint.c_str(), W_OK) == 0;
    struct statvfs vfs {};
    if (statvfs(mountPoint.c_str(), &vfs) == 0) {
      drive.freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    }
    drives.push_back(std::move(drive));
  }
  return drives;
}

}  // namespace platform
