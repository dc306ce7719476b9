#ifndef WEBSETUP_TELEMETRY_GALOG_H_
#define WEBSETUP_TELEMETRY_GALOG_H_

// galog.json: the small state file that makes "first start of the day"
// and the last reporting setup version survive across runs. Written whole
// each time it changes. A file that cannot be read or parsed counts as
// empty; a file that cannot be written is ignored.

#include <string>

#include "platform/clock.h"

namespace telemetry {

// True when `today` differs from the date stored in the file at `path`;
// the date is then stored (other members kept). False, with the file left
// alone, when it is the same day.
bool IsFirstRunTodayAt(const std::string& path, const platform::LocalTime& today);

// Stores `version` in the file unless it already holds exactly that text.
void UpdateGalogVersionAt(const std::string& path, const std::string& version);

}  // namespace telemetry

#endif  // WEBSETUP_TELEMETRY_GALOG_H_
