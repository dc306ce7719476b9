// The telemetry sinks of the maker: GA4 collection, the data collector and
// its test twin, the user-log server with its bootstrap file, the ticket
// service, Universal Analytics and the IP-geolocation CSV.
//
// Modes (POST /control/mode) shape the answers so tests can drive retries
// and fallbacks:
//   <route>.status  the status of that route's answers, for example
//                   ga4.status=500 or collector.status=204
//   <route>.body    the body of that route's answers; "-" means an empty one
// Route keys: ga4, collector, test_collector, ua, bootstrap, query_user,
// add_user_log, query_tools, query_downloader, report_log, ticket, geo.
// The request itself (with its body) is journaled by the server.

#include <string>

#include "routes.h"

namespace maker_services {
namespace {

// A 1x1 transparent GIF, the Universal Analytics answer.
const std::string kGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\x00\x00\x00!\xf9\x04\x01"
                       "\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
                       43);

int StatusMode(const ServiceContext& context, const std::string& key, int fallback) {
  const std::string value = context.mode(key + ".status");
  if (value.empty()) return fallback;
  try {
    return std::stoi(value);
  } catch (const std::exception&) {
    return fallback;
  }
}

std::string BodyMode(const ServiceContext& context, const std::string& key,
                     const std::string& fallback) {
  const std::string value = context.mode(key + ".body");
  if (value.empty()) return fallback;
  return value == "-" ? std::string() : value;
}

// Answers with the route's status and body modes over the given defaults.
void Answer(const ServiceContext& context, const std::string& key, int status,
            const std::string& body, const char* type, httplib::Response& res) {
  res.status = StatusMode(context, key, status);
  const std::string content = BodyMode(context, key, body);
  if (res.status != 204 && !content.empty()) res.set_content(content, type);
}

void installTelemetry(httplib::Server& server, ServiceContext& context) {
  server.Post("/g/collect", [&context](const httplib::Request&, httplib::Response& res) {
    Answer(context, "ga4", 204, "", "text/plain", res);
  });
  // The data collector and Universal Analytics share the path /collect: the
  // collector is sent JSON, Universal Analytics a form.
  server.Post("/collect", [&context](const httplib::Request& req, httplib::Response& res) {
    if (req.get_header_value("Content-Type").find("json") != std::string::npos) {
      Answer(context, "collector", 200, "{\"code\":0}", "application/json", res);
    } else {
      Answer(context, "ua", 200, kGif, "image/gif", res);
    }
  });
  server.Post("/collector", [&context](const httplib::Request&, httplib::Response& res) {
    Answer(context, "test_collector", 200, "{\"code\":0}", "application/json", res);
  });
  // The bootstrap file names the user-log server: by default this server.
  server.Get("/downloads/service/softwarelog.txt",
             [&context](const httplib::Request&, httplib::Response& res) {
               Answer(context, "bootstrap", 200,
                      "http://127.0.0.1:" + std::to_string(context.port()), "text/plain", res);
             });
  server.Get("/QueryUser", [&context](const httplib::Request&, httplib::Response& res) {
    Answer(context, "query_user", 200, "20260001", "text/plain", res);
  });
  server.Get("/AddUserLog", [&context](const httplib::Request&, httplib::Response& res) {
    Answer(context, "add_user_log", 200, "1", "text/plain", res);
  });
  server.Get("/QueryTools", [&context](const httplib::Request& req, httplib::Response& res) {
    Answer(context, "query_tools", 200,
           "<Tools LanguageId=\"" + req.get_param_value("LanguageId") + "\" SoftWareID=\"" +
               req.get_param_value("SoftWareID") + "\" />",
           "text/xml", res);
  });
  server.Get("/QueryDownloader", [&context](const httplib::Request& req, httplib::Response& res) {
    Answer(context, "query_downloader", 200,
           "<Downloader SiteID=\"" + req.get_param_value("SiteID") + "\" />", "text/xml", res);
  });
  server.Get("/ReportLog", [&context](const httplib::Request&, httplib::Response& res) {
    Answer(context, "report_log", 200, "1", "text/plain", res);
  });
  server.Post("/api/v1/ticket/feedback", [&context](const httplib::Request&, httplib::Response& res) {
    Answer(context, "ticket", 200, "{\"status\":200,\"msg\":\"ok\"}", "application/json", res);
  });
  // Fields as the client reads them: 2nd country, 6th city, last the IP.
  server.Get("/csv", [&context](const httplib::Request& req, httplib::Response& res) {
    Answer(context, "geo", 200,
           "success,Norway,NO,03,Oslo,Oslo,0150,59.91,10.75,Europe/Oslo,Example Net,"
           "Example Net,AS64500 Example," + req.remote_addr,
           "text/plain", res);
  });
}

}  // namespace
}  // namespace maker_services

MAKER_ROUTES(telemetry, maker_services::installTelemetry)
