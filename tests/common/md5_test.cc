#include "common/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Test, MatchesRfcVectors) {
  const struct {
    const char* text;
    const char* digest;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) EXPECT_EQ(common::md5OfText(c.text), c.digest) << c.text;
}

// Catches buffering faults: feeding in odd pieces across block and padding
// boundaries must give the digest of the whole.
TEST(Md5Test, PiecewiseUpdatesEqualOneUpdate) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text.push_back(char(i * 7 + 3));
  for (size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
    const std::string whole = common::md5OfText(std::string_view(text).substr(0, len));
    for (size_t piece : {1u, 3u, 17u, 64u}) {
      common::Md5 md5;
      for (size_t at = 0; at < len; at += piece) md5.update(text.data() + at, std::min(piece, len - at));
      EXPECT_EQ(common::md5Hex(md5.finish()), whole) << len << "/" << piece;
    }
  }
}

}  // namespace
