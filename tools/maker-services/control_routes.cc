// Run-time switches for tests: POST /control/mode?key=K&value=V sets a mode
// (an empty or missing value removes it); GET /control/modes lists them.

#include "routes.h"

namespace maker_services {
namespace {

void installControl(httplib::Server& server, ServiceContext& context) {
  server.Post("/control/mode", [&context](const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("key") || req.get_param_value("key").empty()) {
      res.status = 400;
      res.set_content("missing key\n", "text/plain");
      return;
    }
    context.setMode(req.get_param_value("key"), req.get_param_value("value"));
    res.set_content("ok\n", "text/plain");
  });
  server.Get("/control/modes", [&context](const httplib::Request&, httplib::Response& res) {
    Json::Value modes(Json::objectValue);
    for (const auto& [key, value] : context.modes()) modes[key] = value;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    res.set_content(Json::writeString(builder, modes) + "\n", "application/json");
  });
}

}  // namespace
}  // namespace maker_services

MAKER_ROUTES(control, maker_services::installControl)
