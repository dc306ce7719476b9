#include "platform/open_address.h"

#include <cctype>

namespace platform {

bool isWebAddress(const std::string& address) {
  std::string scheme;
  for (char c : address.substr(0, 8))
    scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t hostStart = 0;
  if (scheme.rfind("https://", 0) == 0) {
    hostStart = 8;
  } else if (scheme.rfind("http://", 0) == 0) {
    hostStart = 7;
  } else {
    return false;
  }
  if (address.size() <= hostStart || address[hostStart] == '/') return false;
  for (unsigned char c : address) {
    // A space or a control character would end the address for some
    // openers and start a switch of theirs.
    if (c <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace platform
