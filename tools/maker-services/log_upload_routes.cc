// The maker's log-collection service, which receives the crash and close
// reports of setups.
//
// POST <prefix>/v1/productLogUpload takes a multipart form. Every part is
// recorded, in the order it arrived, in the journal line's "form" member:
//   {"name": "file", "filename": "...", "content_type": "...", "size": N,
//    "md5": "<32 hex digits>", "saved": "<path>"}      for a file part
//   {"name": "product_id", "value": "..."}              for a field
// A file part's bytes are saved as <root>/log-uploads/<seq>_<filename>
// (the file name without any folder; "saved" is empty when the answer is
// not 200, or the part was not saved).
//
// Modes: log_upload.status (default 200) and log_upload.body (default
// {"code":0,"msg":"success"}). A request that is not a multipart form gets
// 400.

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <string>

#include "common/md5.h"
#include "routes.h"

namespace maker_services {
namespace {

constexpr char kUploadFolder[] = "log-uploads";

std::atomic<int> g_sequence{0};

// The part's file name as a plain name in the upload folder.
std::string safeName(const std::string& filename) {
  const size_t slash = filename.find_last_of("/\\");
  std::string name = slash == std::string::npos ? filename : filename.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") name = "upload";
  return name;
}

std::string save(const ServiceContext& context, const std::string& filename,
                 const std::string& content) {
  const std::string folder = context.root() + "/" + kUploadFolder;
  mkdir(folder.c_str(), 0755);
  const std::string path = folder + "/" + std::to_string(++g_sequence) + "_" + safeName(filename);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return out ? path : std::string();
}

int statusMode(const ServiceContext& context) {
  try {
    return std::stoi(context.mode("log_upload.status", "200"));
  } catch (const std::exception&) {
    return 200;
  }
}

void installLogUpload(httplib::Server& server, ServiceContext& context) {
  server.Post(R"((/.*)?/v1/productLogUpload)", [&context](const httplib::Request& req,
                                                          httplib::Response& res,
                                                          const httplib::ContentReader& reader) {
    if (!req.is_multipart_form_data()) {
      res.status = 400;
      res.set_content("not a multipart form", "text/plain");
      return;
    }
    httplib::MultipartFormDataItems parts;
    reader(
        [&parts](const httplib::MultipartFormData& header) {
          parts.push_back(header);
          return true;
        },
        [&parts](const char* data, size_t length) {
          parts.back().content.append(data, length);
          return true;
        });
    const int status = statusMode(context);
    Json::Value form(Json::arrayValue);
    for (const httplib::MultipartFormData& part : parts) {
      Json::Value entry(Json::objectValue);
      entry["name"] = part.name;
      if (part.filename.empty()) {
        entry["value"] = part.content;
      } else {
        entry["filename"] = part.filename;
        entry["content_type"] = part.content_type;
        entry["size"] = static_cast<Json::UInt64>(part.content.size());
        entry["md5"] = common::md5OfText(part.content);
        entry["saved"] = status == 200 ? save(context, part.filename, part.content) : "";
      }
      form.append(entry);
    }
    ServiceContext::addJournalField("form", form);
    res.status = status;
    res.set_content(context.mode("log_upload.body", "{\"code\":0,\"msg\":\"success\"}"),
                    "application/json");
  });
}

}  // namespace
}  // namespace maker_services

MAKER_ROUTES(log_upload, maker_services::installLogUpload)
