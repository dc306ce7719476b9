#include "weblog/web_log_endpoints.h"

#include "config/services.h"

namespace weblog {

WebLogEndpoints EndpointsFromServices() {
  const config::Services& s = config::processServices();
  WebLogEndpoints e;
  e.ga4 = s.url(config::service::kGa4);
  e.collector = s.url(config::service::kCollector);
  e.testCollector = s.url(config::service::kTestCollector);
  e.bootstrap = s.url(config::service::kBootstrap);
  e.userLog = s.url(config::service::kUserLog);
  e.ticket = s.url(config::service::kTicket);
  e.universalAnalytics = s.url(config::service::kUniversalAnalytics);
  e.geolocation = s.url(config::service::kGeolocation);
  return e;
}

}  // namespace weblog
