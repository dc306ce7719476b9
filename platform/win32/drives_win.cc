#include "platform/drives.h"

#include <aclapi.h>
#include <winioctl.h>

#include <cstddef>

#include "platform/win32/win_util.h"

namespace platform {
namespace {

// Whether the disk under drive `letter` hangs off a USB bus. The volume is
// opened with no access rights, which needs no elevation.
bool onUsb(wchar_t letter) {
  const std::wstring device = std::wstring(L"\\\\.\\") + letter + L":";
  win::UniqueHandle h(CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!h.valid()) return false;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  // The descriptor is followed by the device's names; room for them keeps
  // drivers that will not answer in part from failing the call.
  union {
    STORAGE_DEVICE_DESCRIPTOR descriptor;
    BYTE bytes[1024];
  } answer{};
  DWORD returned = 0;
  if (!DeviceIoControl(h.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &answer,
                       sizeof answer, &returned, nullptr) ||
      returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof answer.descriptor.BusType) {
    return false;
  }
  return answer.descriptor.BusType == BusTypeUsb;
}

// Whether this process may make a folder in `root`, as access(W_OK) asks
// on Linux: the drive's rights checked against our own token.
bool mayAddFolder(const std::wstring& root) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(
          root.c_str(), SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          nullptr, nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS) {
    return false;
  }
  bool allowed = false;
  HANDLE process = nullptr;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process) &&
      DuplicateToken(process, SecurityImpersonation, &token)) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL status = FALSE;
    allowed = AccessCheck(sd, token, FILE_ADD_SUBDIRECTORY, &mapping, &privileges, &privilegesSize,
                          &granted, &status) &&
              status;
  }
  if (token != nullptr) CloseHandle(token);
  if (process != nullptr) CloseHandle(process);
  LocalFree(sd);
  return allowed;
}

}  // namespace

std::vector<DriveFacts> listDrives() {
  std::vector<DriveFacts> drives;
  std::wstring names(128, L'\0');
  for (;;) {
    const DWORD n = GetLogicalDriveStringsW(static_cast<DWORD>(names.size()), names.data());
    if (n == 0) return drives;
    if (n < names.size()) {
      names.resize(n);
      break;
    }
    names.resize(n + 1);
  }
  // A card reader or DVD drive without a disc would otherwise ask the user
  // to insert one.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
  for (size_t at = 0; at < names.size();) {
    const std::wstring root = names.c_str() + at;  // "C:\"
    at += root.size() + 1;
    if (root.size() < 2 || root[1] != L':') continue;
    const UINT type = GetDriveTypeW(root.c_str());
    // The drives of this machine; network shares and unknown kinds are none.
    if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE && type != DRIVE_CDROM &&
        type != DRIVE_RAMDISK) {
      continue;
    }
    // A drive without a medium is not mounted in any sense that counts.
    DWORD flags = 0;
    if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
      continue;
    }
    DriveFacts drive;
    drive.root = win::outwardPath(root);
    drive.fixed = type == DRIVE_FIXED;
    drive.usb = onUsb(root[0]);
    drive.writable = (flags & FILE_READ_ONLY_VOLUME) == 0 && mayAddFolder(root);
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) {
      drive.freeBytes = available.QuadPart;
    }
    // No Windows volume refuses programs by the way it is mounted.
    drive.runsPrograms = true;
    drives.push_back(std::move(drive));
  }
  SetThreadErrorMode(oldMode, nullptr);
  return drives;
}

}  // namespace platform
