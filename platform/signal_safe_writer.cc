// The handler's text builder: formatting only, no system call, so every
// backend shares it.

#include <cstring>

#include "platform/signal_safe_io.h"

namespace platform {

SignalSafeWriter& SignalSafeWriter::text(const char* s) { return text(s, std::strlen(s)); }

SignalSafeWriter& SignalSafeWriter::text(const char* s, size_t n) {
  for (size_t i = 0; i < n && size_ < kCapacity; ++i) buffer_[size_++] = s[i];
  buffer_[size_] = '\0';
  return *this;
}

SignalSafeWriter& SignalSafeWriter::decimal(int64_t value) { return padded(value, 1); }

SignalSafeWriter& SignalSafeWriter::padded(int64_t value, int digits) {
  char out[24];
  int n = 0;
  // Negate in unsigned arithmetic: -INT64_MIN does not fit.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    out[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0 && n < 20);
  while (n < digits && n < 20) out[n++] = '0';
  if (value < 0) text("-", 1);
  while (n > 0) text(&out[--n], 1);
  return *this;
}

SignalSafeWriter& SignalSafeWriter::hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  char out[16];
  int n = 0;
  do {
    out[n++] = kDigits[value & 0xf];
    value >>= 4;
  } while (value != 0);
  while (n < digits && n < 16) out[n++] = '0';
  text("0x", 2);
  while (n > 0) text(&out[--n], 1);
  return *this;
}

SignalSafeWriter& SignalSafeWriter::stamp(const LocalTime& t) {
  return padded(t.year, 4)
      .padded(t.month, 2)
      .padded(t.day, 2)
      .padded(t.hour, 2)
      .padded(t.minute, 2)
      .padded(t.second, 2)
      .padded(t.millisecond, 3);
}

bool SignalSafeWriter::writeTo(int fd) const {
  return writeAllFromSignalHandler(fd, buffer_, size_);
}

}  // namespace platform
