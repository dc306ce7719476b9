// The banner service: GET /api/v1/banners?lang_code=..&parent_pid=..&
// timestamp=..&type=1&verify=.. answers the product's banners for the
// language. The query is checked as the real service checks it: verify is
// the MD5 of the query text before "&verify=" followed by the salt, and the
// timestamp is within five minutes of the server's clock; a request that
// fails either gets an error object, and the journal line says why
// ("banner_check").
//
// The answer is the file banners/<lang_code>/banners.json of the root when
// there is one, else an array built from the pictures banners/<lang>/1.png
// (or .jpg), 2, ... found there (sort = the number), falling back to the
// folder "en"; @BASE@ in a file is replaced by this server's address.
//
// Modes (POST /control/mode):
//   banners.mode=empty     answers []
//   banners.mode=error     answers {"code":500,"msg":"internal error"}
//   banners.mode=notimage  the second banner's picture is a text file
//   banners.mode=missing   the second banner's picture is not there (404)
//   banners.mode=slow      answers after 3 seconds
//   banners.mode=object    answers {"code":200,"data":[]} (no array)

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/md5.h"
#include "routes.h"

namespace maker_services {
namespace {

namespace fs = std::filesystem;

constexpr char kSalt[] = "Wm4tPq8ZbN2xKc7D";

std::string base(const ServiceContext& context) {
  return "http://127.0.0.1:" + std::to_string(context.port());
}

bool readFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return true;
}

// The answer for `lang` from the files of the root, or empty.
std::string bannersOf(const ServiceContext& context, const std::string& lang,
                      const std::string& mode) {
  for (const std::string& folder : {lang, std::string("en")}) {
    if (folder.empty() || folder.find('/') != std::string::npos || folder.find("..") != std::string::npos) {
      continue;
    }
    const std::string dir = context.root() + "/banners/" + folder;
    std::string text;
    if (readFile(dir + "/banners.json", &text)) {
      for (size_t at = text.find("@BASE@"); at != std::string::npos; at = text.find("@BASE@", at)) {
        text.replace(at, 6, base(context));
      }
      return text;
    }
    Json::Value list(Json::arrayValue);
    for (int n = 1; n <= 10; ++n) {
      std::string name;
      for (const char* ext : {".png", ".jpg"}) {
        if (fs::exists(dir + "/" + std::to_string(n) + ext)) name = std::to_string(n) + ext;
      }
      if (name.empty()) break;
      std::string url = base(context) + "/files/banners/" + folder + "/" + name;
      if (n == 2 && mode == "notimage") url = base(context) + "/files/banners/not-a-picture.png";
      if (n == 2 && mode == "missing") url = base(context) + "/files/banners/" + folder + "/gone.png";
      Json::Value banner;
      banner["banner_url"] = url;
      banner["jump_url"] = base(context) + "/product?banner=" + std::to_string(n);
      banner["prompt"] = "Banner " + std::to_string(n);
      banner["sort"] = n;
      list.append(banner);
    }
    if (!list.empty()) {
      Json::StreamWriterBuilder writer;
      writer["indentation"] = "";
      return Json::writeString(writer, list);
    }
  }
  return "[]";
}

void installBanners(httplib::Server& server, ServiceContext& context) {
  // A picture that is not one, for the notimage mode.
  fs::create_directories(context.root() + "/banners");
  std::ofstream(context.root() + "/banners/not-a-picture.png") << "this is not a picture\n";

  server.Get("/api/v1/banners", [&context](const httplib::Request& req, httplib::Response& res) {
    const std::string mode = context.mode("banners.mode");
    if (mode == "slow") std::this_thread::sleep_for(std::chrono::seconds(3));
    // The signed text is the query as sent, up to its verify part.
    const std::string target = req.target;
    const size_t query = target.find('?');
    const size_t verifyAt = target.find("&verify=");
    std::string check = "ok";
    if (query == std::string::npos || verifyAt == std::string::npos || verifyAt < query) {
      check = "no verify";
    } else {
      const std::string signedText = target.substr(query + 1, verifyAt - query - 1);
      const std::string verify = req.get_param_value("verify");
      if (common::md5OfText(signedText + kSalt) != verify) check = "bad verify";
      const long long stamp = std::atoll(req.get_param_value("timestamp").c_str());
      const long long now = static_cast<long long>(std::time(nullptr));
      if (check == "ok" && (stamp < now - 300 || stamp > now + 300)) check = "stale timestamp";
    }
    ServiceContext::addJournalField("banner_check", check);
    res.status = 200;
    if (check != "ok") {
      res.set_content("{\"code\":401,\"msg\":\"" + check + "\"}", "application/json");
      return;
    }
    if (mode == "empty") return res.set_content("[]", "application/json");
    if (mode == "error") return res.set_content("{\"code\":500,\"msg\":\"internal error\"}", "application/json");
    if (mode == "object") return res.set_content("{\"code\":200,\"data\":[]}", "application/json");
    res.set_content(bannersOf(context, req.get_param_value("lang_code"), mode), "application/json");
  });
}

}  // namespace
}  // namespace maker_services

MAKER_ROUTES(banners, maker_services::installBanners)
