#include "fault_modes.h"

#include <cerrno>
#include <cstdlib>

namespace maker_services {
namespace {

bool parseCount(const std::string& text, int64_t* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0) return false;
  *out = value;
  return true;
}

bool applyToken(const std::string& token, FaultModes* out) {
  size_t eq = token.find('=');
  std::string key = token.substr(0, eq);
  std::string value = eq == std::string::npos ? "" : token.substr(eq + 1);
  bool has_value = eq != std::string::npos;
  int64_t n = 0;
  if (!has_value) {
    if (key == "ignore-range") return out->ignoreRange = true;
    if (key == "bad-total") return out->badTotal = true;
    if (key == "star-total") return out->starTotal = true;
    if (key == "redirect-loop") return out->redirectLoop = true;
    if (key == "location-on-200") return out->locationOn200 = true;
    if (key == "lowercase-headers") return out->lowercaseHeaders = true;
    return false;
  }
  if (key == "xcache") {
    out->xCache = value;
    return !value.empty();
  }
  if (key == "validator") {
    out->validators = value;
    return value == "etag" || value == "last-modified" || value == "none";
  }
  if (key == "cf") {
    size_t slash = value.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == value.size()) return false;
    out->cfDataCentre = value.substr(0, slash);
    out->cfCacheStatus = value.substr(slash + 1);
    return true;
  }
  if (!parseCount(value, &n)) return false;
  if (key == "drop-after") {
    out->dropAfter = n;
  } else if (key == "stall-after") {
    out->stallAfter = n;
  } else if (key == "status") {
    if (n < 100 || n > 999) return false;
    out->status = static_cast<int>(n);
  } else if (key == "redirect") {
    if (n > 1000) return false;
    out->redirects = static_cast<int>(n);
  } else if (key == "rate") {
    if (n == 0) return false;
    out->rate = n;
  } else if (key == "delay-ms") {
    if (n > 600000) return false;
    out->delayMs = n;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool parseFaultModes(const std::string& text, FaultModes* out, std::string* error) {
  *out = FaultModes();
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string token = text.substr(start, comma - start);
    start = comma + 1;
    if (token.empty()) continue;
    if (!applyToken(token, out)) {
      *error = token;
      return false;
    }
    out->tokens.push_back(token);
  }
  return true;
}

bool splitFaultPath(const std::string& rest, std::string* modes, std::string* name) {
  size_t token_start = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == ',') {
      token_start = i + 1;
    } else if (rest[i] == '/') {
      bool inside_cf = rest.compare(token_start, 3, "cf=") == 0 &&
                       rest.find('/', token_start) == i;
      if (inside_cf) continue;
      *modes = rest.substr(0, i);
      *name = rest.substr(i + 1);
      return !modes->empty() && !name->empty();
    }
  }
  return false;
}

std::string nextHopModes(const FaultModes& modes) {
  std::string list;
  for (const std::string& token : modes.tokens) {
    std::string kept = token;
    if (token.rfind("redirect=", 0) == 0) {
      if (modes.redirects <= 1) continue;
      kept = "redirect=" + std::to_string(modes.redirects - 1);
    }
    if (!list.empty()) list += ",";
    list += kept;
  }
  return list;
}

}  // namespace maker_services
