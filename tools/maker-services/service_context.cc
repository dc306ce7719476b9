#include <map>
#include <string>
#include <utility>

#include "request_record.h"
#include "routes.h"

namespace maker_services {

namespace {

thread_local RequestRecord current_record;

std::map<std::string, RouteInstaller>& registry() {
  // A function-local map: registrations run from static initialisers of
  // other files, in no fixed order.
  static std::map<std::string, RouteInstaller> installers;
  return installers;
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool Journal::open(const std::string& path) {
  common::MutexLock lock(&mu_);
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

Journal::~Journal() { close(); }

void Journal::append(const Json::Value& line) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  // Escaped output is plain ASCII and stays valid JSON whatever bytes a
  // request body held (uploads are binary).
  builder["emitUTF8"] = false;
  std::string text = Json::writeString(builder, line);
  text.push_back('\n');
  common::MutexLock lock(&mu_);
  if (file_ == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

void Journal::close() {
  common::MutexLock lock(&mu_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

ServiceContext::ServiceContext(std::map<std::string, std::string> options, int port)
    : options_(std::move(options)),
      root_(withoutTrailingSlash(option("--root", "."))),
      port_(port) {}

std::string ServiceContext::option(const std::string& name, const std::string& fallback) const {
  auto it = options_.find(name);
  return it == options_.end() ? fallback : it->second;
}

std::string ServiceContext::mode(const std::string& key, const std::string& fallback) const {
  common::MutexLock lock(&mu_);
  auto it = modes_.find(key);
  return it == modes_.end() ? fallback : it->second;
}

void ServiceContext::setMode(const std::string& key, const std::string& value) {
  common::MutexLock lock(&mu_);
  if (value.empty()) {
    modes_.erase(key);
  } else {
    modes_[key] = value;
  }
}

std::map<std::string, std::string> ServiceContext::modes() const {
  common::MutexLock lock(&mu_);
  return modes_;
}

void ServiceContext::addBytesSent(uint64_t n) {
  current_record.bytesSent += n;
  current_record.bytesCounted = true;
}

void ServiceContext::overrideStatus(int status) { current_record.status = status; }

void ServiceContext::addJournalField(const std::string& name, const Json::Value& value) {
  current_record.fields[name] = value;
}

RequestRecord takeRequestRecord() {
  RequestRecord record = current_record;
  current_record = RequestRecord();
  return record;
}

bool registerRoutes(const char* name, RouteInstaller install) {
  return registry().emplace(name, install).second;
}

void installAllRoutes(httplib::Server& server, ServiceContext& context) {
  for (const auto& [name, install] : registry()) install(server, context);
}

std::string registeredRouteNames() {
  std::string names;
  for (const auto& [name, install] : registry()) {
    if (!names.empty()) names += ", ";
    names += name;
  }
  return names;
}

}  // namespace maker_services
