#ifndef WEBSETUP_WEBLOG_WEB_LOG_ENDPOINTS_H_
#define WEBSETUP_WEBLOG_WEB_LOG_ENDPOINTS_H_

#include <string>

namespace weblog {

// Base URLs (scheme, host, port and an optional path prefix, no trailing
// '/') of the services a WebLog talks to. Each operation appends its own
// fixed path.
struct WebLogEndpoints {
  std::string ga4;                 // + "/g/collect"
  std::string collector;           // + "/collect"
  std::string testCollector;       // + "/collector"
  std::string bootstrap;           // + "/downloads/service/softwarelog.txt"
  std::string userLog;             // built-in default base of the user-log server
  std::string ticket;              // + "/api/v1/ticket/feedback"
  std::string universalAnalytics;  // + "/collect"
  std::string geolocation;         // + "/csv"
};

// The endpoints of the deployment's services file (config/services.h),
// with its override applied.
WebLogEndpoints EndpointsFromServices();

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_WEB_LOG_ENDPOINTS_H_
