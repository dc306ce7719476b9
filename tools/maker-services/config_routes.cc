// The update server's download-configuration query and the exception
// collector.
//
// GET <prefix>/queryDownloaderV2 answers the <Downloader> block of the
// scenario file: <root>/<name>, where name is mode "config.scenario", else
// option --config-scenario, else "downloader.xml". The prefix (any path
// before /queryDownloaderV2) lets one server play several hosts: a test
// points the .com host at http://127.0.0.1:P/com and the .cn host at
// http://127.0.0.1:P/cn. Mode "config.mode.<prefix without '/'>" (for
// example config.mode.com), else "config.mode", picks the answer:
//   ""          the scenario text as it is
//   "noblock"   a 200 page without any <Downloader> block
//   "stall"     nothing for "config.stall_ms" ms (default 6000), then the
//               scenario text
//   "404"       404 Not Found
//   "wrapped"   the scenario text inside an HTML page
//   "twoblocks" the scenario text followed by a second block whose
//               Software_name is "second"
// Every "@BASE@" in the scenario text becomes this server's own base,
// http://127.0.0.1:<port>, so a scenario can name files this server hosts.
//
// POST <prefix>/api/exception/send answers {"code":0} (status from mode
// "exception.status", default 200); the journal keeps the body.

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "routes.h"

namespace maker_services {
namespace {

constexpr char kSecondBlock[] =
    "<Downloader><Software_name>second</Software_name></Downloader>";

// The port is known only once the server runs, and each test run gets a
// new one; scenarios are files written before either.
void expandBase(const ServiceContext& context, std::string* text) {
  static constexpr char kPlaceholder[] = "@BASE@";
  const std::string base = "http://127.0.0.1:" + std::to_string(context.port());
  for (size_t pos = text->find(kPlaceholder); pos != std::string::npos;
       pos = text->find(kPlaceholder, pos + base.size())) {
    text->replace(pos, sizeof(kPlaceholder) - 1, base);
  }
}

bool readScenario(const ServiceContext& context, std::string* text) {
  const std::string name =
      context.mode("config.scenario", context.option("--config-scenario", "downloader.xml"));
  if (name.empty() || name.find("..") != std::string::npos || name.front() == '/') return false;
  std::ifstream in(context.root() + "/" + name, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  expandBase(context, text);
  return true;
}

// The prefix of a query path, without slashes: "com" for /com/queryDownloaderV2.
std::string prefixOf(const std::string& path, const std::string& route) {
  std::string prefix = path.substr(0, path.size() - route.size());
  while (!prefix.empty() && prefix.front() == '/') prefix.erase(0, 1);
  return prefix;
}

// Sleeps `ms` in short steps so a stopping server ends the stall promptly.
void stall(const ServiceContext& context, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!context.stopping() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void answerQuery(const httplib::Request& req, httplib::Response& res, ServiceContext& context) {
  const std::string prefix = prefixOf(req.path, "/queryDownloaderV2");
  const std::string mode =
      context.mode("config.mode." + prefix, context.mode("config.mode", ""));
  if (mode == "404") {
    res.status = 404;
    res.set_content("Not Found\n", "text/plain");
    return;
  }
  if (mode == "noblock") {
    res.set_content("<html><body>Service under maintenance</body></html>\n", "text/html");
    return;
  }
  std::string block;
  if (!readScenario(context, &block)) {
    res.status = 500;
    res.set_content("no scenario file\n", "text/plain");
    return;
  }
  if (mode == "stall") {
    stall(context, std::atoi(context.mode("config.stall_ms", "6000").c_str()));
  } else if (mode == "wrapped") {
    block = "<html><head><title>cfg</title></head><body>\n" + block + "\n</body></html>\n";
  } else if (mode == "twoblocks") {
    block += "\n";
    block += kSecondBlock;
  }
  res.set_content(block, "text/xml");
}

void installConfig(httplib::Server& server, ServiceContext& context) {
  server.Get(R"(/?(?:[^?]*/)?queryDownloaderV2)",
             [&context](const httplib::Request& req, httplib::Response& res) {
               answerQuery(req, res, context);
             });
  server.Post(R"(/?(?:[^?]*/)?api/exception/send)",
              [&context](const httplib::Request&, httplib::Response& res) {
                res.status = std::atoi(context.mode("exception.status", "200").c_str());
                res.set_content("{\"code\":0}", "application/json");
              });
}

}  // namespace
}  // namespace maker_services

MAKER_ROUTES(config, maker_services::installConfig)
