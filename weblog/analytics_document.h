#ifndef WEBSETUP_WEBLOG_ANALYTICS_DOCUMENT_H_
#define WEBSETUP_WEBLOG_ANALYTICS_DOCUMENT_H_

#include <json/json.h>

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace weblog {

// What the data collector's document carries besides the caller's members.
struct DocumentIdentity {
  std::string uid;
  std::string sessionId;
  std::string osVersion;
  int64_t ts = 0;
};

// Arranges the members of the flat JSON text `input` into the collector's
// nested document (common, start, actions, monitor, ts). Members are copied
// with whatever JSON type they have; missing ones take their defaults; a
// text that does not parse counts as {}. Never throws.
Json::Value BuildAnalyticsDocument(const std::string& input, const DocumentIdentity& identity);

// Milliseconds since 1970-01-01 of the local wall-clock time `t`, taken as
// if it were UTC (no zone or daylight-saving adjustment).
int64_t LocalWallClockMillis(const platform::LocalTime& t);

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_ANALYTICS_DOCUMENT_H_
