#include "uiframework/ui_types.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace ui {

bool parseColor(std::string_view text, UiColor* out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.starts_with("#")) {
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
  } else {
    return false;
  }
  if (text.size() != 6 && text.size() != 8) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    v = v * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                           ? c - '0'
                                           : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  }
  if (text.size() == 6) v |= 0xFF000000u;
  *out = v;
  return true;
}

namespace {

// Reads up to `n` comma-separated integers. Returns how many were read.
int parseInts(std::string_view text, int* values, int n) {
  std::string s(text);
  const char* p = s.c_str();
  int count = 0;
  while (count < n && *p != '\0') {
    char* end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (end == p) break;
    values[count++] = static_cast<int>(v);
    p = end;
    while (*p == ' ' || *p == ',') ++p;
  }
  return count;
}

}  // namespace

bool parseRect(std::string_view text, UiRect* out) {
  int v[4] = {0, 0, 0, 0};
  if (parseInts(text, v, 4) == 0) return false;
  *out = UiRect{v[0], v[1], v[2], v[3]};
  return true;
}

bool parseSize(std::string_view text, UiSize* out) {
  int v[2] = {0, 0};
  if (parseInts(text, v, 2) == 0) return false;
  *out = UiSize{v[0], v[1]};
  return true;
}

bool parseBool(std::string_view text) {
  if (text == "1") return true;
  if (text.size() != 4) return false;
  std::string lower;
  for (char c : text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return lower == "true";
}

}  // namespace ui
