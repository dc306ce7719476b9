#include "crash/crash_handler.h"

#include "crash/crash_context.h"
#include "platform/crash_dump.h"
#include "platform/fatal_signal.h"
#include "platform/paths.h"
#include "platform/signal_safe_io.h"
#include "platform/signal_safe_spawn.h"

namespace crash {

namespace {

using platform::SignalSafeWriter;

constexpr size_t kPath = CrashContext::kPathBytes;

// Copies of the context's texts, static because the handler runs once and
// its stack is small.
char g_logDirectory[kPath];
char g_logFileName[kPath];
char g_modulePath[kPath];
char g_version[CrashContext::kShortBytes];
char g_logPath[2 * kPath + 2];
char g_dumpPath[2 * kPath + 64];
// The running program as the system names it, taken when the handler is
// installed: the report's program when the context was never told its
// module path.
char g_runningImage[kPath];

// Appends `part` to the NUL-terminated `out` of `capacity` bytes, cutting it.
void append(char* out, size_t capacity, const char* part) {
  size_t n = 0;
  while (n < capacity - 1 && out[n] != '\0') ++n;
  for (size_t i = 0; part[i] != '\0' && n < capacity - 1; ++i) out[n++] = part[i];
  out[n] = '\0';
}

// One line in the logger's own format ("%datetime--[Thread](%thread) %msg"),
// written with a single write(2) on an O_APPEND descriptor so it never
// splits a line the logger's threads write.
void logLine(int fd, const SignalSafeWriter& message) {
  if (fd < 0) return;
  const platform::LocalTime t = platform::localTimeFromSignalHandler();
  SignalSafeWriter line;
  line.padded(t.year, 4).text("-").padded(t.month, 2).text("-").padded(t.day, 2).text(" ");
  line.padded(t.hour, 2).text(":").padded(t.minute, 2).text(":").padded(t.second, 2);
  line.text(",").padded(t.millisecond, 3).text("--[Thread](");
  line.decimal(platform::threadIdFromSignalHandler()).text(") ");
  line.text(message.data(), message.size()).text("\n");
  (void)line.writeTo(fd);
}

void logText(int fd, const char* text) { logLine(fd, SignalSafeWriter().text(text)); }

// The dump's path: beside the log file, else a name of its own in the
// temporary folder.
void chooseDumpPath(const CrashContext& c) {
  g_dumpPath[0] = '\0';
  if (g_logPath[0] != '\0') {
    append(g_dumpPath, sizeof g_dumpPath, g_logPath);
    append(g_dumpPath, sizeof g_dumpPath, ".dmp");
    return;
  }
  SignalSafeWriter name;
  name.text(platform::tempDirFromSignalHandler()).text("/").decimal(c.downloaderId.load());
  name.text("_")
      .text(g_version)
      .text("_")
      .stamp(platform::localTimeFromSignalHandler())
      .text(".dmp");
  append(g_dumpPath, sizeof g_dumpPath, name.data());
}

bool writeDumpHeader(int fd, const CrashContext& c) {
  SignalSafeWriter w;
  w.text("websetup crash dump\n");
  w.text("program ").text(g_modulePath).text("\n");
  w.text("version ").text(g_version).text("\n");
  w.text("downloader id ").decimal(c.downloaderId.load());
  w.text(", Downloader_config ").decimal(c.downloaderConfig.load()).text("\n");
  w.text("time ").stamp(platform::localTimeFromSignalHandler()).text("\n");
  w.text("log ").text(g_logPath).text("\n");
  return w.writeTo(fd);
}

// Starts "<program> -dmp <log file name>" for the report.
void startReportProcess(int logFd) {
  const char* program = g_modulePath[0] != '\0' ? g_modulePath : g_runningImage;
  const char* const argv[] = {program, "-dmp", g_logFileName, nullptr};
  const int pid = platform::spawnDetachedFromSignalHandler(program, argv);
  logLine(logFd, SignalSafeWriter()
                     .text(" Start crash report: -dmp ")
                     .text(g_logFileName)
                     .text(", pid ")
                     .decimal(pid));
}

void onCrash(const platform::FatalSignal& fault) {
  CrashContext& c = CrashContext::Get();
  const int32_t downloaderConfig = c.downloaderConfig.load();
  c.logDirectory.copy(g_logDirectory);
  c.logFileName.copy(g_logFileName);
  c.modulePath.copy(g_modulePath);
  c.setupVersion.copy(g_version);
  g_logPath[0] = '\0';
  if (g_logDirectory[0] != '\0' && g_logFileName[0] != '\0') {
    append(g_logPath, sizeof g_logPath, g_logDirectory);
    append(g_logPath, sizeof g_logPath, "/");
    append(g_logPath, sizeof g_logPath, g_logFileName);
  }
  const int logFd = g_logPath[0] != '\0' ? platform::openForAppendFromSignalHandler(g_logPath) : -1;
  logText(logFd, " Exception handler entered.");

  // The report process may start a setup again; it must find the lock free.
  const int lockFd = c.instanceLockFd.exchange(-1);
  if (lockFd >= 0) {
    const bool closed = platform::closeFromSignalHandler(lockFd);
    logLine(logFd, SignalSafeWriter()
                       .text(" Release mutex: ")
                       .decimal(closed ? 1 : 0)
                       .text(", ")
                       .decimal(closed ? 0 : platform::lastErrorFromSignalHandler()));
  }

  chooseDumpPath(c);
  const int dumpFd = platform::createFileFromSignalHandler(g_dumpPath);
  logLine(logFd, SignalSafeWriter()
                     .text(" Create dmp file: ")
                     .decimal(dumpFd >= 0 ? 1 : 0)
                     .text(", ")
                     .decimal(dumpFd >= 0 ? 0 : platform::lastErrorFromSignalHandler())
                     .text(", ")
                     .text(g_dumpPath));
  // The closes below drop their result: the writes before them already
  // said whether the bytes went out, the process ends right after this
  // callback, and a failed close of the log has no log left to tell.
  if (dumpFd < 0) {
    if (logFd >= 0) (void)platform::closeFromSignalHandler(logFd);
    return;
  }
  bool written = writeDumpHeader(dumpFd, c);
  written = platform::writeFatalSignalDump(dumpFd, fault) && written;
  const int writeError = written ? 0 : platform::lastErrorFromSignalHandler();
  (void)platform::closeFromSignalHandler(dumpFd);
  logLine(logFd, SignalSafeWriter()
                     .text(" Write dmp file: ")
                     .decimal(written ? 1 : 0)
                     .text(", ")
                     .decimal(writeError));

  // Without a log file name the report process would find nothing of this
  // run to pack, so it is started only when there is one.
  if (written && (downloaderConfig == 1 || downloaderConfig == 2) && g_logFileName[0] != '\0') {
    startReportProcess(logFd);
  }
  if (logFd >= 0) (void)platform::closeFromSignalHandler(logFd);
}

}  // namespace

platform::PlatformResult InstallCrashHandler() {
  g_runningImage[0] = '\0';
  append(g_runningImage, sizeof g_runningImage, platform::runningImagePath().c_str());
  return platform::installFatalSignalHandler(&onCrash);
}

}  // namespace crash
