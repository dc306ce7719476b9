#ifndef WEBSETUP_INSTALL_INSTALLER_CACHE_H_
#define WEBSETUP_INSTALL_INSTALLER_CACHE_H_

// The names of the files one installer leaves in the download cache, in
// one place: the installer itself, the engine's task file (its resume
// record) and the hash record of its last verification. A later start of
// the setup finds them by these names, so they never change.
//
//   <cache>/<stem>_<version>.exe   the installer (".apk" for a package)
//   <cache>/<stem>_<version>.exe.xml   the task file
//   <cache>/<stem>_<version>.exe.db    "<version>###<md5>"
//
// Pure functions and a value type; any thread.

#include <string>

namespace install {

struct InstallerFiles {
  std::wstring installer;

  std::wstring taskFile() const { return installer + L".xml"; }
  std::wstring hashRecord() const { return installer + L".db"; }
  bool empty() const { return installer.empty(); }
};

// True when `text` may be part of a file name: no path separator, no "..",
// no control character. Server text that is not is taken as absent.
bool IsSafeNamePart(const std::wstring& text);

// True when `extraUrl` names an installer program (or nothing), not a
// package.
bool IsInstallerUrl(const std::wstring& extraUrl);

// The files of the installer that the embedded extra download URL
// `embeddedExtraUrl` names (its stem: between the last '/' and the next
// '.'), at `version` (dropped when it is no safe name part), as the
// record's `extraUrl` says (program or package), in `cacheDir`.
InstallerFiles InstallerFilesFor(const std::wstring& cacheDir, const std::wstring& embeddedExtraUrl,
                                 const std::wstring& version, const std::wstring& extraUrl);

// Removes the three files; returns true when the installer itself was
// removed, else false with the reason's errno in *error.
[[nodiscard]] bool RemoveInstallerFiles(const InstallerFiles& files, int* error);

// The hash record decides whether a cached installer is kept: one written
// for `version` with `md5` or `md5Extra` (any case) keeps the installer and
// its task file, any other clears them. The record itself always goes.
void ApplyHashRecord(const InstallerFiles& files, const std::wstring& version,
                     const std::wstring& md5, const std::wstring& md5Extra);

}  // namespace install

#endif  // WEBSETUP_INSTALL_INSTALLER_CACHE_H_
