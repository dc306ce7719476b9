#ifndef WEBSETUP_COMMON_MD5_H_
#define WEBSETUP_COMMON_MD5_H_

// MD5 message digest (RFC 1321). Used to check downloaded installers against
// the digest the update server announces; not for anything secret.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace common {

// An MD5 computation fed in pieces. Not thread-safe: one owner at a time.
class Md5 {
 public:
  Md5();

  // Adds `size` bytes at `data` to the message.
  void update(const void* data, size_t size);

  // Ends the message and returns its 16-byte digest. The object must not be
  // updated afterwards; construct a new one for another message.
  std::array<uint8_t, 16> finish();

 private:
  void transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes fed so far
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

// The digest as 32 lower-case hexadecimal digits.
std::string md5Hex(const std::array<uint8_t, 16>& digest);

// The digest of `text`, as 32 lower-case hexadecimal digits.
std::string md5OfText(std::string_view text);

}  // namespace common

#endif  // WEBSETUP_COMMON_MD5_H_
