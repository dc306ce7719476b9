#ifndef WEBSETUP_TOOLS_MAKER_SERVICES_ROUTES_H_
#define WEBSETUP_TOOLS_MAKER_SERVICES_ROUTES_H_

// How a service plugs into maker-services: write one file <name>_routes.cc
// that defines `void installFoo(httplib::Server&, ServiceContext&)` and ends
// with `MAKER_ROUTES(foo, installFoo);`. main.cc calls every registered
// installer once, in name order, before the server starts listening.
//
// Handlers run on the server's worker threads (one connection per thread),
// so anything they share goes through ServiceContext, which is thread-safe.
// Every request, routed or not, is journaled by main.cc when its response
// has ended; a handler only has to answer it.

#include <httplib.h>
#include <json/json.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "common/mutex.h"

namespace maker_services {

// The append-only request journal: one JSON object per line, flushed after
// each line so a test can read it while the server runs. Thread-safe.
class Journal {
 public:
  // Opens (creates or appends to) `path`. An empty path journals nothing.
  // Returns false when the file cannot be opened.
  bool open(const std::string& path);
  ~Journal();

  // Writes `line` as one compact JSON line.
  void append(const Json::Value& line);
  void close();

 private:
  common::Mutex mu_;
  std::FILE* file_ GUARDED_BY(mu_) = nullptr;
};

// What every service sees: the folders and options the server was started
// with, the journal, and the run-time modes tests switch through
// POST /control/mode. Owned by main(); lives as long as the server.
// Thread-safe.
class ServiceContext {
 public:
  ServiceContext(std::map<std::string, std::string> options, int port);

  // The --root folder (files served and saved), without a trailing '/'.
  const std::string& root() const { return root_; }
  // The port the server listens on.
  int port() const { return port_; }
  Journal& journal() { return journal_; }

  // The value of command-line option `name` (spelt with its dashes, for
  // example "--scenario"), or `fallback` when it was not given. A flag given
  // without a value reads as "1".
  std::string option(const std::string& name, const std::string& fallback = "") const;
  bool hasOption(const std::string& name) const { return options_.count(name) != 0; }

  // Run-time modes: a map of text keys to text values, empty at start.
  std::string mode(const std::string& key, const std::string& fallback = "") const;
  // Sets `key` to `value`; an empty value removes the key.
  void setMode(const std::string& key, const std::string& value);
  std::map<std::string, std::string> modes() const;

  // True once SIGTERM (or SIGINT) arrived: long responses (stalls, slow
  // rates) should end promptly.
  bool stopping() const { return stopping_.load(); }
  void setStopping() { stopping_.store(true); }

  // Body accounting for the journal's "bytes_sent", for the request being
  // answered on the calling thread. A handler that answers with a string
  // body needs none of this; one that streams through a content provider
  // (or writes to the socket itself) reports each body byte that really
  // left with addBytesSent(). overrideStatus() records the status of a
  // response written to the socket by hand.
  static void addBytesSent(uint64_t n);
  static void overrideStatus(int status);
  // Adds member `name` to the journal line of the request being answered
  // on the calling thread (what a service parsed out of the request, such
  // as the parts of a form).
  static void addJournalField(const std::string& name, const Json::Value& value);

 private:
  const std::map<std::string, std::string> options_;
  const std::string root_;
  const int port_;
  Journal journal_;
  mutable common::Mutex mu_;
  std::map<std::string, std::string> modes_ GUARDED_BY(mu_);
  std::atomic<bool> stopping_{false};
};

using RouteInstaller = void (*)(httplib::Server& server, ServiceContext& context);

// Registers `install` under `name` (unique). Called from static
// initialisers through MAKER_ROUTES; returns true so it can initialise a
// constant.
bool registerRoutes(const char* name, RouteInstaller install);

// Calls every registered installer, in name order.
void installAllRoutes(httplib::Server& server, ServiceContext& context);

// The names registered so far, in order (for --help and the log).
std::string registeredRouteNames();

}  // namespace maker_services

#define MAKER_ROUTES(name, fn)                                      \
  namespace {                                                       \
  [[maybe_unused]] const bool maker_routes_registered_##name =      \
      ::maker_services::registerRoutes(#name, fn);                  \
  }

#endif  // WEBSETUP_TOOLS_MAKER_SERVICES_ROUTES_H_
