#ifndef WEBSETUP_PLATFORM_SIGNAL_SAFE_IO_H_
#define WEBSETUP_PLATFORM_SIGNAL_SAFE_IO_H_

// Files and text for the fatal-signal callback (platform/fatal_signal.h):
// no allocation, no stdio, no lock. Descriptors are the system's own
// numbers; -1 is none. Everything here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

namespace platform {

// Opens the existing file `path` for appending, so each write lands whole
// at its end even beside other writers (the log file). -1 on failure.
int openForAppendFromSignalHandler(const char* path);

// Creates `path` (0600), or empties it, for writing. -1 on failure.
int createFileFromSignalHandler(const char* path);

// Closes `fd`. Returns false when the system refused.
[[nodiscard]] bool closeFromSignalHandler(int fd);

// The error number the last failing call of this thread left, for log
// lines.
int lastErrorFromSignalHandler();

// The calling thread's id as the logger prints it in "[Thread](...)".
int64_t threadIdFromSignalHandler();

// Builds one text in a fixed buffer and writes it with one system call: the
// handler's stand-in for a formatted stream. A text longer than the buffer
// is cut.
class SignalSafeWriter {
 public:
  static constexpr size_t kCapacity = 1024;

  SignalSafeWriter& text(const char* s);
  SignalSafeWriter& text(const char* s, size_t n);
  SignalSafeWriter& decimal(int64_t value);
  // 0x-prefixed, at least `digits` hexadecimal digits.
  SignalSafeWriter& hex(uint64_t value, int digits = 1);
  // Decimal with leading zeros to `digits` digits.
  SignalSafeWriter& padded(int64_t value, int digits);
  // The 17-digit stamp year..millisecond.
  SignalSafeWriter& stamp(const LocalTime& t);

  const char* data() const { return buffer_; }
  size_t size() const { return size_; }
  void clear() {
    size_ = 0;
    buffer_[0] = '\0';
  }
  // Writes the whole text to `fd`, retrying short writes. Returns false on
  // failure.
  [[nodiscard]] bool writeTo(int fd) const;

 private:
  char buffer_[kCapacity + 1] = {};
  size_t size_ = 0;
};

// Writes all of `n` bytes, retried on short writes and interruptions.
// Returns false on failure.
[[nodiscard]] bool writeAllFromSignalHandler(int fd, const char* data, size_t n);

}  // namespace platform

#endif  // WEBSETUP_PLATFORM_SIGNAL_SAFE_IO_H_
