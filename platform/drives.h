#ifndef WEBSETUP_PLATFORM_DRIVES_H_
#define WEBSETUP_PLATFORM_DRIVES_H_

// The local "drives" of this machine: mounted file systems that live on a
// block device (the stand-in for GetLogicalDriveStrings, GetDriveType, the
// storage bus query and GetDiskFreeSpaceEx). Thread-safe.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct DriveFacts {
  std::string root;        // mount point, ending in '/'
  bool fixed = false;      // on a block device that sysfs does not call removable
  bool usb = false;        // the device hangs off a USB bus (sysfs path)
  bool writable = false;   // mounted read-write and we may write to its root
  uint64_t freeBytes = 0;  // free to this user (statvfs f_bavail)
  // Programs may be started from it: not mounted noexec, and for a root
  // run not nosuid either.
  bool runsPrograms = false;
};

// Every mounted block-device file system, in mount order (the order of
// /proc/self/mountinfo). Bind mounts of a sub-folder are not drives.
std::vector<DriveFacts> listDrives();

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_DRIVES_H_
