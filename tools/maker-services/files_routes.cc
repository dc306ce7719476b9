// The file host: /files/<name> serves <root>/<name> with HEAD, keep-alive
// and single byte ranges; /faults/<modes>/<name> serves the same file with
// the misbehaviours of fault_modes.h. Mode "files-faults" (POST
// /control/mode) puts a mode list on every /files response as well.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cctype>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "body_pump.h"
#include "fault_modes.h"
#include "routes.h"

namespace maker_services {
namespace {

// One response, before it is written by httplib or by hand.
struct Reply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // without Content-Length
  std::shared_ptr<BodySource> body;
};

Reply textReply(int status, const std::string& text) {
  Reply reply;
  reply.status = status;
  reply.headers.emplace_back("Content-Type", "text/plain");
  reply.body = std::make_shared<BodySource>(text);
  return reply;
}

bool safeName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = std::min(name.find('/', start), name.size());
    std::string part = name.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
  return true;
}

std::string encodePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::string_view("-._~/,=:").find(c) != std::string_view::npos) {
      out.push_back(static_cast<char>(c));
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string baseUrl(const httplib::Request& req, const ServiceContext& context) {
  std::string host = req.get_header_value("Host");
  if (host.empty()) host = "127.0.0.1:" + std::to_string(context.port());
  return "http://" + host;
}

std::string randomRayId() {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  uint64_t bits = rng();
  for (int i = 0; i < 16; ++i, bits >>= 4) id.push_back(kHex[bits & 15]);
  return id;
}

// Parses a single "bytes=a-b", "bytes=a-" or "bytes=-n" against `total`.
// Returns 1 with [*first, *last] for a satisfiable range, 0 when the header
// is absent, not a single range or malformed (the whole file is sent), and
// -1 when it cannot be satisfied.
int parseRange(const std::string& header, int64_t total, int64_t* first, int64_t* last) {
  const std::string prefix = "bytes=";
  if (header.rfind(prefix, 0) != 0) return 0;
  std::string rangeText = header.substr(prefix.size());
  size_t dash = rangeText.find('-');
  if (dash == std::string::npos || rangeText.find(',') != std::string::npos) return 0;
  std::string a = rangeText.substr(0, dash), b = rangeText.substr(dash + 1);
  auto digits = [](const std::string& s) {
    return !s.empty() && s.size() < 19 && s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (a.empty()) {
    if (!digits(b)) return 0;
    int64_t n = std::stoll(b);
    if (n == 0 || total == 0) return -1;
    *first = std::max<int64_t>(0, total - n);
    *last = total - 1;
    return 1;
  }
  if (!digits(a) || (!b.empty() && !digits(b))) return 0;
  *first = std::stoll(a);
  *last = b.empty() ? total - 1 : std::min<int64_t>(std::stoll(b), total - 1);
  if (!b.empty() && std::stoll(b) < *first) return 0;
  return *first < total ? 1 : -1;
}

// The validators of a file as it is now: an entity tag from its change
// time to the nanosecond and its size (so a file rewritten with other bytes
// of the same size gets another one within the same second), and its
// modification time as an HTTP date.
std::string entityTag(const struct stat& st) {
  char text[64];
  const unsigned long long ns =
      static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull + st.st_mtim.tv_nsec;
  std::snprintf(text, sizeof text, "\"%llx-%llx\"", ns, static_cast<unsigned long long>(st.st_size));
  return text;
}

std::string httpDate(time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

Reply fileReply(const httplib::Request& req, const std::string& path, const FaultModes& modes,
                const std::string& selfUrl) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    return textReply(404, "not found\n");
  }
  const int64_t total = st.st_size;
  const std::string etag = entityTag(st);
  const std::string modified = httpDate(st.st_mtim.tv_sec);
  const bool sendEtag = modes.validators.empty() || modes.validators == "etag";
  const bool sendModified = modes.validators.empty() || modes.validators == "last-modified";
  int64_t first = 0, last = total - 1;
  int range = modes.ignoreRange ? 0 : parseRange(req.get_header_value("Range"), total, &first, &last);
  // If-Range: a range of the version the client names, else the whole
  // file as it is now.
  const std::string ifRange = req.get_header_value("If-Range");
  if (range != 0 && !ifRange.empty() && ifRange != etag && ifRange != modified) range = 0;
  Reply reply;
  if (range < 0) {
    ::close(fd);
    reply = textReply(416, "range not satisfiable\n");
    reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(total));
    return reply;
  }
  if (range == 0) {
    first = 0;
    last = total - 1;
  }
  reply.status = range > 0 ? 206 : 200;
  reply.headers.emplace_back("Content-Type", "application/octet-stream");
  if (sendEtag) reply.headers.emplace_back("ETag", etag);
  if (sendModified) reply.headers.emplace_back("Last-Modified", modified);
  if (!modes.ignoreRange) reply.headers.emplace_back("Accept-Ranges", "bytes");
  if (range > 0) {
    std::string shown_total = modes.starTotal  ? "*"
                              : modes.badTotal ? std::to_string(total + 1000)
                                               : std::to_string(total);
    reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                    std::to_string(last) + "/" + shown_total);
  }
  if (modes.locationOn200 && reply.status == 200) reply.headers.emplace_back("Location", selfUrl);
  reply.body = std::make_shared<BodySource>(fd, first, last - first + 1);
  return reply;
}

Reply buildReply(const httplib::Request& req, const ServiceContext& context,
                 const std::string& name, const FaultModes& modes) {
  const std::string base = baseUrl(req, context);
  Reply reply;
  if (!safeName(name)) {
    reply = textReply(400, "bad file name\n");
  } else if (modes.redirectLoop) {
    reply = textReply(302, "redirect\n");
    reply.headers.emplace_back("Location", base + req.target);
  } else if (modes.redirects > 0) {
    std::string next = nextHopModes(modes);
    std::string target = next.empty() ? "/files/" + name : "/faults/" + next + "/" + name;
    reply = textReply(302, "redirect\n");
    reply.headers.emplace_back("Location", base + encodePath(target));
  } else if (modes.status != 0) {
    reply = textReply(modes.status, "status " + std::to_string(modes.status) + "\n");
  } else {
    reply = fileReply(req, context.root() + "/" + name, modes, base + req.target);
  }
  if (!modes.cfDataCentre.empty()) {
    reply.headers.emplace_back("CF-RAY", randomRayId() + "-" + modes.cfDataCentre);
    reply.headers.emplace_back("CF-Cache-Status", modes.cfCacheStatus);
  }
  if (!modes.xCache.empty()) reply.headers.emplace_back("X-Cache", modes.xCache);
  return reply;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// The usual way: httplib writes the head (adding Content-Length and its
// keep-alive headers) and pulls the body through a content provider.
void sendThroughServer(const httplib::Request& req, httplib::Response& res, Reply reply,
                       const FaultModes& modes, const ServiceContext& context) {
  res.status = reply.status;
  std::string content_type;
  for (auto& [name, value] : reply.headers) {
    if (name == "Content-Type") {
      content_type = value;  // set_content_provider writes it
    } else {
      res.set_header(name, value);
    }
  }
  ServiceContext::addBytesSent(0);
  std::shared_ptr<BodySource> body = reply.body;
  if (body->length() == 0) {
    // A provider of length 0 would make httplib switch to chunked coding.
    res.set_header("Content-Length", "0");
    res.set_header("Content-Type", content_type);
    return;
  }
  int local_port = req.local_port, remote_port = req.remote_port;
  res.set_content_provider(
      static_cast<size_t>(body->length()), content_type,
      [body, modes, &context, local_port, remote_port](size_t offset, size_t,
                                                      httplib::DataSink& sink) {
        // The whole body goes in one call; httplib calls again only after a
        // partial write, which pumpBody never leaves behind.
        if (offset != 0) return false;
        return pumpBody(*body, modes, context, sink.write,
                        [=] { return findConnectionSocket(local_port, remote_port); });
      });
}

// lowercase-headers: httplib spells its own header names in mixed case, so
// this response is written to the socket by hand and the connection closed
// after it.
void sendByHand(const httplib::Request& req, httplib::Response& res, const Reply& reply,
                const FaultModes& modes, const ServiceContext& context) {
  ServiceContext::addBytesSent(0);
  ServiceContext::overrideStatus(reply.status);
  res.status = reply.status;
  int fd = findConnectionSocket(req.local_port, req.remote_port);
  if (fd < 0) return;
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                     reasonPhrase(reply.status) + "\r\n";
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  for (const auto& [name, value] : reply.headers) head += lower(name) + ": " + value + "\r\n";
  head += "content-length: " + std::to_string(reply.body->length()) + "\r\n";
  head += "connection: close\r\n\r\n";
  if (writeAll(fd, head.data(), head.size()) && req.method != "HEAD") {
    pumpBody(*reply.body, modes, context,
             [fd](const char* data, size_t n) { return writeAll(fd, data, n); },
             [fd] { return fd; });
  }
  // httplib's own answer then fails on the closed socket and it drops the
  // connection; the client has seen a complete "connection: close" response.
  ::shutdown(fd, SHUT_RDWR);
}

void answer(const httplib::Request& req, httplib::Response& res, const ServiceContext& context,
            const std::string& modeList, const std::string& name) {
  FaultModes modes;
  std::string bad;
  if (!parseFaultModes(modeList, &modes, &bad)) {
    res.status = 400;
    res.set_content("unknown fault mode: " + bad + "\n", "text/plain");
    return;
  }
  // Ranges are this host's business (it must be able to get them wrong):
  // keep httplib from applying them a second time.
  const_cast<httplib::Request&>(req).ranges.clear();
  // A long round trip: the answer waits before its head goes out.
  for (int64_t waited = 0; waited < modes.delayMs && !context.stopping(); waited += 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(5, modes.delayMs - waited)));
  }
  Reply reply = buildReply(req, context, name, modes);
  if (modes.lowercaseHeaders) {
    sendByHand(req, res, reply, modes, context);
  } else {
    sendThroughServer(req, res, std::move(reply), modes, context);
  }
}

void installFiles(httplib::Server& server, ServiceContext& context) {
  server.Get(R"(/files/(.+))", [&context](const httplib::Request& req, httplib::Response& res) {
    answer(req, res, context, context.mode("files-faults"), req.matches[1].str());
  });
  server.Get(R"(/faults/(.+))", [&context](const httplib::Request& req, httplib::Response& res) {
    std::string modes, name;
    if (!splitFaultPath(req.matches[1].str(), &modes, &name)) {
      res.status = 400;
      res.set_content("expected /faults/<modes>/<name>\n", "text/plain");
      return;
    }
    answer(req, res, context, modes, name);
  });
}

}  // namespace
}  // namespace maker_services

MAKER_ROUTES(files, maker_services::installFiles)
