#ifndef WEBSETUP_TOOLS_MAKER_SERVICES_REQUEST_RECORD_H_
#define WEBSETUP_TOOLS_MAKER_SERVICES_REQUEST_RECORD_H_

#include <json/json.h>

#include <cstdint>

namespace maker_services {

// What the handlers of the request being answered on this thread reported
// through ServiceContext::addBytesSent/overrideStatus. A connection stays
// on one server thread for its whole life, so a thread-local record
// belongs to exactly one response at a time.
struct RequestRecord {
  uint64_t bytesSent = 0;
  bool bytesCounted = false;  // a handler reported body bytes itself
  int status = 0;             // 0: take the status of the httplib response
  Json::Value fields;         // extra members of the journal line (null: none)
};

// Returns this thread's record and clears it for the next request.
RequestRecord takeRequestRecord();

}  // namespace maker_services

#endif  // WEBSETUP_TOOLS_MAKER_SERVICES_REQUEST_RECORD_H_
