#ifndef WEBSETUP_CRASH_CRASH_CONTEXT_H_
#define WEBSETUP_CRASH_CRASH_CONTEXT_H_

// What the crash handler needs to know about the process, kept where a
// fatal-signal handler may read it: fixed buffers and lock-free atomics,
// no allocation, no locks. Start-up and the install flow fill it as the
// values become known; the handler only reads. One instance per process
// (CrashContext::Get()).
//
// Writers: any thread, but each field has one writer at a time (start-up
// fills the identity once; the lock descriptor changes when the lock is
// taken or released). Readers: any thread, signal handlers included. A text
// is published by writing its bytes and then its length (release); a
// reader takes the length (acquire) and copies that many bytes.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace crash {

// A text of at most N-1 bytes that a signal handler can read.
template <size_t N>
class SignalSafeText {
 public:
  // Stores `text`, cut at N-1 bytes. Not for signal handlers.
  void set(std::string_view text) {
    length_.store(0, std::memory_order_release);
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < n; ++i) bytes_[i] = text[i];
    bytes_[n] = '\0';
    length_.store(n, std::memory_order_release);
  }
  // Copies the text into `out` (at least N bytes) with a terminating NUL;
  // returns its length. Async-signal-safe.
  size_t copy(char* out) const {
    const size_t n = length_.load(std::memory_order_acquire);
    for (size_t i = 0; i < n; ++i) out[i] = bytes_[i];
    out[n] = '\0';
    return n;
  }

 private:
  char bytes_[N] = {};
  std::atomic<size_t> length_{0};
};

struct CrashContext {
  static constexpr size_t kPathBytes = 4096;
  static constexpr size_t kShortBytes = 64;

  // The single-instance lock's descriptor (-1 when not held): the handler
  // releases it before the report process starts the setup again.
  std::atomic<int> instanceLockFd{-1};
  std::atomic<int32_t> downloaderId{0};
  // Downloader_config of the server's answer: 2 asks for the close and
  // crash reports to be uploaded by a second process.
  std::atomic<int32_t> downloaderConfig{0};
  SignalSafeText<kShortBytes> setupVersion;
  SignalSafeText<kPathBytes> logDirectory;
  SignalSafeText<kPathBytes> logFileName;
  SignalSafeText<kPathBytes> modulePath;

  static CrashContext& Get();
};

static_assert(std::atomic<int>::is_always_lock_free, "signal handlers need lock-free atomics");
static_assert(std::atomic<size_t>::is_always_lock_free, "signal handlers need lock-free atomics");

}  // namespace crash

#endif  // WEBSETUP_CRASH_CRASH_CONTEXT_H_
