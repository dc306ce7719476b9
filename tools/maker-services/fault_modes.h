#ifndef WEBSETUP_TOOLS_MAKER_SERVICES_FAULT_MODES_H_
#define WEBSETUP_TOOLS_MAKER_SERVICES_FAULT_MODES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace maker_services {

// The misbehaviours the file host can put on a response, parsed from the
// comma list of /faults/<modes>/<name> (README.md lists them).
struct FaultModes {
  bool ignoreRange = false;
  bool badTotal = false;
  bool starTotal = false;
  bool redirectLoop = false;
  bool locationOn200 = false;
  bool lowercaseHeaders = false;
  int64_t dropAfter = -1;   // -1: never
  int64_t stallAfter = -1;  // -1: never
  int status = 0;           // 0: the natural status
  int redirects = 0;        // 302 hops still to make
  std::string cfDataCentre;
  std::string cfCacheStatus;
  std::string xCache;
  int64_t rate = 0;  // body bytes per second; 0: as fast as possible
  int64_t delayMs = 0;  // wait before answering, each response
  // Which validators a file answer carries: "" both ETag and
  // Last-Modified, "etag", "last-modified" or "none".
  std::string validators;
  // The tokens as given, to rebuild the list for the next redirect hop.
  std::vector<std::string> tokens;
};

// Parses a comma list of modes into *out. Returns false, with the offending
// token in *error, on an unknown mode or a bad number.
bool parseFaultModes(const std::string& text, FaultModes* out, std::string* error);

// Splits what follows "/faults/" into the mode list and the file name. The
// list ends at the first '/', except the one inside "cf=DC/STATUS". Returns
// false when either part is empty.
bool splitFaultPath(const std::string& rest, std::string* modes, std::string* name);

// The mode list for the next hop of a redirect chain: "redirect=N" becomes
// "redirect=N-1", and disappears at 0. Empty when no other mode remains.
std::string nextHopModes(const FaultModes& modes);

}  // namespace maker_services

#endif  // WEBSETUP_TOOLS_MAKER_SERVICES_FAULT_MODES_H_
