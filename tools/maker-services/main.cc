// maker-services: the local stand-in for the maker's web services. Serves
// on 127.0.0.1 only and journals every request (routes.h explains how a
// service is added).
//
//   maker-services --port P [--port-file F] --root DIR --journal FILE
//                  [--tls-cert PEM --tls-key PEM]
//                  [--exit-when-removed FILE] [--max-lifetime-seconds S]
//                  [--name value ...]

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "body_pump.h"
#include "request_record.h"
#include "routes.h"

namespace maker_services {
namespace {

// Enough workers that 32 and more connections (segmented downloads, stalled
// responses, telemetry senders) are all served at once.
constexpr size_t kWorkerThreads = 96;

// "--name value", "--name=value", or a bare "--flag" (read as "1").
bool parseOptions(int argc, char** argv, std::map<std::string, std::string>* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      std::fprintf(stderr, "maker-services: unexpected argument %s\n", argv[i]);
      return false;
    }
    size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      (*options)[arg.substr(0, eq)] = arg.substr(eq + 1);
    } else if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
      (*options)[arg] = argv[++i];
    } else {
      (*options)[arg] = "1";
    }
  }
  return true;
}

std::string isoTime(std::chrono::system_clock::time_point now) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

Json::Value journalLine(const httplib::Request& req, const httplib::Response& res) {
  RequestRecord record = takeRequestRecord();
  auto now = std::chrono::system_clock::now();
  Json::Value line(Json::objectValue);
  line["time"] = isoTime(now);
  line["time_ms"] = static_cast<Json::Int64>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
  line["method"] = req.method;
  line["path"] = req.path;
  size_t q = req.target.find('?');
  line["query"] = q == std::string::npos ? "" : req.target.substr(q + 1);
  Json::Value headers(Json::objectValue);
  for (const auto& [name, value] : req.headers) {
    // httplib files the connection's addresses among the headers.
    if (name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_ADDR" ||
        name == "REMOTE_PORT") {
      continue;
    }
    // Repeated headers are joined as one field, the way HTTP allows.
    if (headers.isMember(name)) {
      headers[name] = headers[name].asString() + ", " + value;
    } else {
      headers[name] = value;
    }
  }
  line["headers"] = headers;
  line["status"] = record.status != 0 ? record.status : res.status;
  uint64_t bytes = record.bytesCounted    ? record.bytesSent
                   : req.method == "HEAD" ? 0
                                          : res.body.size();
  line["bytes_sent"] = static_cast<Json::UInt64>(bytes);
  line["body"] = req.body;
  line["remote_port"] = req.remote_port;
  if (record.fields.isObject()) {
    for (const std::string& name : record.fields.getMemberNames()) line[name] = record.fields[name];
  }
  return line;
}

// Ends the server (as SIGTERM does) once `stop_file` is gone or it has run
// `max_lifetime` seconds, whichever is given and comes first. A parent that
// cannot signal it (a Windows test under Wine, for which this is a foreign
// process) removes the file instead; the lifetime ends a server whose
// parent died before it could.
void watchForEnd(const std::string& stop_file, int max_lifetime, const std::atomic<bool>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(max_lifetime);
  while (!done.load()) {
    struct stat st;
    if ((!stop_file.empty() && stat(stop_file.c_str(), &st) != 0) ||
        (max_lifetime > 0 && std::chrono::steady_clock::now() >= deadline)) {
      kill(getpid(), SIGTERM);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool writePortFile(const std::string& path, int port) {
  // Written whole under a temporary name, so a reader never sees half.
  std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f, "%d\n", port);
  bool ok = std::fclose(f) == 0;
  return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

int run(int argc, char** argv) {
  std::map<std::string, std::string> options;
  if (!parseOptions(argc, argv, &options)) return 2;

  // SIGTERM and SIGINT are taken by one waiting thread; every other thread
  // (the server's workers inherit this mask) leaves them blocked.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // With a certificate and its key the one listener speaks HTTPS instead,
  // for the tests of certificate verification.
  std::unique_ptr<httplib::Server> listener;
  if (options.count("--tls-cert") != 0 || options.count("--tls-key") != 0) {
    auto tls = std::make_unique<httplib::SSLServer>(options["--tls-cert"].c_str(),
                                                    options["--tls-key"].c_str());
    if (!tls->is_valid()) {
      std::fprintf(stderr, "maker-services: cannot use certificate %s with key %s\n",
                   options["--tls-cert"].c_str(), options["--tls-key"].c_str());
      return 1;
    }
    listener = std::move(tls);
  } else {
    listener = std::make_unique<httplib::Server>();
  }
  httplib::Server& server = *listener;
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  // Heads and bodies go out in separate writes; without this every small
  // response waits for the client's delayed ACK.
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(100000);
  server.set_keep_alive_timeout(30);
  server.set_payload_max_length(256u * 1024 * 1024);

  int requested = options.count("--port") ? std::atoi(options["--port"].c_str()) : 0;
  int port = requested > 0 ? (server.bind_to_port("127.0.0.1", requested) ? requested : -1)
                           : server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::fprintf(stderr, "maker-services: cannot listen on 127.0.0.1:%d\n", requested);
    return 1;
  }

  // httplib listens with a backlog of 5: a burst of segment connections
  // would overflow it and wait a second for the SYN to be sent again.
  widenListenBacklog(port);

  ServiceContext context(options, port);
  if (!context.journal().open(context.option("--journal"))) {
    std::fprintf(stderr, "maker-services: cannot open journal %s\n",
                 context.option("--journal").c_str());
    return 1;
  }
  server.set_logger([&context](const httplib::Request& req, const httplib::Response& res) {
    context.journal().append(journalLine(req, res));
  });
  installAllRoutes(server, context);

  std::atomic<bool> listen_returned{false};
  std::thread stopper([&server, &context, &listen_returned, stop_signals] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    context.setStopping();
    // stop() is a no-op until the server runs: a signal that arrives
    // before listen_after_bind got going must not be lost.
    // Idle keep-alive connections would hold their threads until their
    // read timeout; shutting their sockets down ends them now.
    while (!listen_returned.load()) {
      server.stop();
      shutdownConnections(context.port());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  std::atomic<bool> stopped{false};
  std::thread watcher;
  const std::string stop_file = context.option("--exit-when-removed");
  const int max_lifetime = std::atoi(context.option("--max-lifetime-seconds").c_str());
  if (!stop_file.empty() || max_lifetime > 0) {
    watcher = std::thread(watchForEnd, stop_file, max_lifetime, std::cref(stopped));
  }

  std::string port_file = context.option("--port-file");
  if (!port_file.empty() && !writePortFile(port_file, port)) {
    std::fprintf(stderr, "maker-services: cannot write %s\n", port_file.c_str());
    kill(getpid(), SIGTERM);
  }
  std::fprintf(stderr, "maker-services: 127.0.0.1:%d root %s services %s\n", port,
               context.root().c_str(), registeredRouteNames().c_str());

  server.listen_after_bind();
  listen_returned.store(true);
  // listen_after_bind also returns when the socket fails; the stopper then
  // still waits for its signal, so give it one.
  if (!context.stopping()) kill(getpid(), SIGTERM);
  stopper.join();
  stopped.store(true);
  if (watcher.joinable()) watcher.join();
  context.journal().close();
  return 0;
}

}  // namespace
}  // namespace maker_services

int main(int argc, char** argv) { return maker_services::run(argc, argv); }
