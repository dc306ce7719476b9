// sample-installer: the installer of the demo product, as a web setup
// downloads and runs it. It understands the Inno-Setup-style switches
// (switches.h), unpacks the product's files from the payload at its own end
// (payload.h) into /DIR, writes the uninstall key an Inno installer writes
// into HKLM of the registry store, logs what it did to /LOG and exits 0.
// Tests steer it through SAMPLE_INSTALLER_* variables (README.md).
//
// Exit codes follow Inno's: 0 done, 1 setup could not start (no /DIR, no
// payload), 4 the installation itself failed; SAMPLE_INSTALLER_EXIT forces
// any other.
//
// One source for both systems: what differs (its own path, its arguments,
// the clock, the registry) comes through the platform layer, so on Windows
// the uninstall key lands in the real registry, where Windows' own
// "Apps" list finds it.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "payload.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/registry.h"
#include "switches.h"

namespace sample_installer {
namespace {

namespace fs = std::filesystem;

constexpr int kExitSetupFailed = 1;
constexpr int kExitInstallFailed = 4;
constexpr char kManifestEntry[] = "manifest";
// Where a 32-bit Inno Setup installer keeps its uninstall key: the
// registry's 32-bit view, also when this stand-in is a 64-bit program (the
// registry layer of the build machine has one view, and drops the step).
constexpr char kUninstallKeys[] =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The readable record of one run, one time-stamped line per step. Without
// /LOG (or when the file cannot be made) lines go nowhere. Main thread only.
class InstallLog {
 public:
  // Opens `path` for writing, creating its folder. False with the reason in
  // *error when that fails.
  bool open(const std::string& path, std::string* error) {
    std::error_code ec;
    const fs::path parent = filePath(path).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
    out_.open(filePath(path), std::ios::trunc);
    if (!out_) *error = "cannot write the log " + path;
    return static_cast<bool>(out_);
  }

  void line(const std::string& text) {
    if (!out_) return;
    const platform::LocalTime now = platform::localTime();
    char stamp[48];
    std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d", now.year, now.month,
                  now.day, now.hour, now.minute, now.second, now.millisecond);
    out_ << stamp << "   " << text << '\n';
    out_.flush();
  }

 private:
  std::ofstream out_;
};

// What the environment asks of this run (README.md).
struct Knobs {
  double seconds = 1.0;         // SAMPLE_INSTALLER_SECONDS
  std::optional<int> exitCode;  // SAMPLE_INSTALLER_EXIT
  std::string subdir;           // SAMPLE_INSTALLER_SUBDIR
  std::string argsFile;         // SAMPLE_INSTALLER_ARGS_FILE
  std::string appId;            // SAMPLE_INSTALLER_APP_ID
  std::vector<std::string> warnings;
};

std::string env(const char* name) { return platform::getEnv(name).value_or(""); }

Knobs readKnobs() {
  Knobs k;
  if (const std::string s = env("SAMPLE_INSTALLER_SECONDS"); !s.empty()) {
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (*end == '\0' && std::isfinite(v) && v >= 0) {
      k.seconds = v;
    } else {
      k.warnings.push_back("SAMPLE_INSTALLER_SECONDS=" + s + " is not a number of seconds");
    }
  }
  if (const std::string s = env("SAMPLE_INSTALLER_EXIT"); !s.empty()) {
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (*end == '\0' && v >= 0 && v <= 255) {
      k.exitCode = static_cast<int>(v);
    } else {
      k.warnings.push_back("SAMPLE_INSTALLER_EXIT=" + s + " is not an exit code (0..255)");
    }
  }
  k.subdir = env("SAMPLE_INSTALLER_SUBDIR");
  k.argsFile = env("SAMPLE_INSTALLER_ARGS_FILE");
  k.appId = env("SAMPLE_INSTALLER_APP_ID");
  return k;
}

// Appended before anything can fail, so a test sees the arguments of a run
// that was refused too.
void recordArgs(const std::string& path, const std::vector<std::string>& args) {
  if (path.empty()) return;
  std::ofstream out(filePath(path), std::ios::app | std::ios::binary);
  for (const std::string& a : args) out << a << '\n';
}

// /LOG without a value: a new file in the temporary folder, as Inno does.
std::string defaultLogPath() {
  const std::string tmp = platform::tempDir();
  const platform::LocalTime now = platform::localTime();
  char day[32];
  std::snprintf(day, sizeof(day), "%04d-%02d-%02d", now.year, now.month, now.day);
  for (int n = 1;; ++n) {
    char number[16];
    std::snprintf(number, sizeof(number), "%03d", n);
    const std::string path = tmp + "/Setup Log " + day + " #" + number + ".txt";
    if (!fs::exists(filePath(path)) || n == 999) return path;
  }
}

// The product facts the build put into the payload's "manifest" entry.
struct Manifest {
  std::string appId, name, version, publisher, mainExe;
};

bool parseManifest(const std::string& text, Manifest* m) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "AppId") m->appId = value;
    if (key == "Name") m->name = value;
    if (key == "Version") m->version = value;
    if (key == "Publisher") m->publisher = value;
    if (key == "MainExe") m->mainExe = value;
  }
  return !m->appId.empty() && !m->name.empty() && !m->mainExe.empty();
}

int fail(InstallLog& log, int code, const std::string& message) {
  std::cerr << "sample-installer: " << message << "\n";
  log.line("Error: " + message);
  log.line("Setup ended with exit code " + std::to_string(code) + ".");
  return code;
}

// Reads the payload's index and manifest from the installer file `self`.
bool loadPayload(InstallLog& log, const std::string& self, std::vector<PayloadEntry>* entries,
                 Manifest* manifest, std::string* error) {
  const PayloadResult r = readPayloadIndex(self, entries);
  if (r != PayloadResult::kOk) {
    *error = std::string("cannot read the payload of this installer: ") + payloadResultName(r);
    return false;
  }
  log.line("Payload: " + std::to_string(entries->size()) + " entries");
  for (const PayloadEntry& e : *entries) {
    if (e.name != kManifestEntry) continue;
    std::string text;
    if (readEntry(self, e, &text) == PayloadResult::kOk && parseManifest(text, manifest)) {
      for (const PayloadEntry& f : *entries) {
        if (f.name == manifest->mainExe) return true;
      }
      *error = "the payload lacks the main executable " + manifest->mainExe;
      return false;
    }
  }
  *error = "the payload carries no readable manifest";
  return false;
}

// Unpacks every entry but the manifest of the installer `self` under
// `dir`; the main executable goes into `dir`/`subdir` when a subfolder is
// asked for. Stores the main executable's path in *mainExe.
bool installFiles(InstallLog& log, const std::string& self,
                  const std::vector<PayloadEntry>& entries, const Manifest& manifest,
                  const fs::path& dir, const std::string& subdir, fs::path* mainExe,
                  std::string* error) {
  for (const PayloadEntry& e : entries) {
    if (e.name == kManifestEntry) continue;
    const bool isMain = e.name == manifest.mainExe;
    const fs::path target =
        ((isMain && !subdir.empty() ? dir / filePath(subdir) : dir) / filePath(e.name))
            .make_preferred();
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      *error = "cannot create " + pathText(target.parent_path()) + ": " + ec.message();
      return false;
    }
    if (extractEntry(self, e, pathText(target), error) != PayloadResult::kOk) return false;
    log.line("Installed " + pathText(target) + " (" + std::to_string(e.size) + " bytes)");
    if (isMain) *mainExe = target;
  }
  return true;
}

bool writeUninstallKey(InstallLog& log, const Manifest& manifest, const std::string& appId,
                       const fs::path& dir, const fs::path& mainExe, const std::string& language,
                       std::string* error) {
  const std::string key = kUninstallKeys + (appId.empty() ? manifest.appId : appId) + "_is1";
  const std::pair<const char*, std::string> values[] = {
      {"DisplayName", manifest.name},     {"DisplayVersion", manifest.version},
      {"Publisher", manifest.publisher},  {"InstallLocation", pathText(dir)},
      {"DisplayIcon", pathText(mainExe)}, {"Inno Setup: App Path", pathText(dir)},
      {"Inno Setup: Language", language},
  };
  for (const auto& [name, text] : values) {
    platform::RegistryValue value;
    value.text = text;
    const platform::PlatformResult r =
        platform::registryWrite(platform::RegistryHive::kLocalMachine, key, name, value);
    if (r != platform::PlatformResult::kOk) {
      *error = "cannot write HKLM\\" + key + " value " + name + ": " + platform::resultName(r);
      return false;
    }
  }
  log.line("Registry: HKLM\\" + key + " written under " + platform::registryRoot());
  return true;
}

void takeTime(InstallLog& log, double seconds) {
  if (seconds <= 0) return;
  char text[96];
  std::snprintf(text, sizeof(text), "Taking %.3g s more, as SAMPLE_INSTALLER_SECONDS asks",
                seconds);
  log.line(text);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// The installation folder as an absolute path in the system's own
// separators, without a trailing one (a drive's root keeps its own).
fs::path installFolder(const std::string& given) {
  std::error_code ec;
  fs::path dir = fs::absolute(filePath(given), ec).make_preferred();
  while (dir.has_relative_path() && !dir.has_filename()) dir = dir.parent_path();
  return dir;
}

// Opens the log /LOG names and records what this run was asked to do.
void startLog(InstallLog& log, const Switches& sw, const Knobs& knobs,
              const std::vector<std::string>& args) {
  if (sw.log) {
    std::string error;
    if (!log.open(sw.log->empty() ? defaultLogPath() : *sw.log, &error)) {
      std::cerr << "sample-installer: " << error << "\n";
    }
  }
  std::string line =
      "Setup started, pid " + std::to_string(platform::currentProcessId()) + ", arguments:";
  for (const std::string& a : args) line += " [" + a + "]";
  log.line(line);
  for (const std::string& w : knobs.warnings) log.line("Warning: " + w + "; ignored");
  for (const std::string& u : sw.unknown) log.line("Ignoring unknown argument [" + u + "]");
  if (!sw.verySilent && !sw.silent) log.line("No /VERYSILENT: this installer has no wizard anyway");
  if (sw.track) log.line("Tracking tag: " + *sw.track);
}

int run(const std::vector<std::string>& args) {
  const Knobs knobs = readKnobs();
  recordArgs(knobs.argsFile, args);
  const Switches sw = parseSwitches(args);
  InstallLog log;
  startLog(log, sw, knobs, args);

  if (!sw.dir || sw.dir->empty()) {
    return fail(log, kExitSetupFailed, "no installation folder given; pass /DIR=<folder>");
  }
  if (knobs.exitCode) {
    takeTime(log, knobs.seconds);
    log.line("Leaving without installing, exit code " + std::to_string(*knobs.exitCode) +
             " as SAMPLE_INSTALLER_EXIT asks");
    return *knobs.exitCode;
  }
  // Read through the running image, not its name: a file put at the
  // installer's path after the setup checked it must not become its payload.
  const std::string self = platform::runningImagePath();
  std::vector<PayloadEntry> entries;
  Manifest manifest;
  std::string error;
  if (!loadPayload(log, self, &entries, &manifest, &error)) {
    return fail(log, kExitSetupFailed, error);
  }
  const fs::path dir = installFolder(*sw.dir);
  const std::string language = sw.lang && !sw.lang->empty() ? *sw.lang : "en";
  log.line("Installing " + manifest.name + " " + manifest.version + " into " + pathText(dir) +
           ", language " + language);
  takeTime(log, knobs.seconds);
  fs::path mainExe;
  if (!installFiles(log, self, entries, manifest, dir, knobs.subdir, &mainExe, &error) ||
      !writeUninstallKey(log, manifest, knobs.appId, dir, mainExe, language, &error)) {
    return fail(log, kExitInstallFailed, error);
  }
  log.line("Installation succeeded; main executable " + pathText(mainExe));
  log.line("Setup ended with exit code 0.");
  return 0;
}

}  // namespace
}  // namespace sample_installer

int main(int argc, char** argv) {
  return sample_installer::run(platform::programArguments(argc, argv));
}
