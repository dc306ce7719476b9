#include "weblog/url_encoding.h"

#include <cstring>

namespace weblog {

namespace {

bool IsAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

void AppendEscaped(std::string* out, unsigned char c, const char* digits) {
  out->push_back('%');
  out->push_back(digits[c >> 4]);
  out->push_back(digits[c & 0x0F]);
}

}  // namespace

std::string FormEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsAlnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(ch);
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      AppendEscaped(&out, c, "0123456789ABCDEF");
    }
  }
  return out;
}

std::string Ga4PercentEncode(std::string_view text) {
  static constexpr char kKept[] = "-_.!~&=*'()";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsAlnum(c) || (c != 0 && std::strchr(kKept, c) != nullptr)) {
      out.push_back(ch);
    } else {
      AppendEscaped(&out, c, "0123456789abcdef");
    }
  }
  return out;
}

}  // namespace weblog
