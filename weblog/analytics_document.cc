#include "weblog/analytics_document.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

#include "weblog/machine_identity.h"
#include "weblog/proxy_file.h"
#include "weblog/web_log.h"

namespace weblog {

namespace {

constexpr char kJsonHeader[] = "Content-Type:application/json; charset=utf-8";

// Parses `text` (comments allowed) into an object; {} on any failure.
Json::Value ParseFlat(const std::string& text) {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  try {
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors) ||
        !value.isObject()) {
      return Json::Value(Json::objectValue);
    }
  } catch (const std::exception&) {
    return Json::Value(Json::objectValue);
  }
  return value;
}

Json::Value Member(const Json::Value& in, const char* name, const Json::Value& fallback) {
  return in.isMember(name) ? in[name] : fallback;
}

// Days from 1970-01-01 to the civil date y-m-d (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::mutex sessionMu;
std::string sessionId;

}  // namespace

int64_t LocalWallClockMillis(const platform::LocalTime& t) {
  const int64_t days = DaysFromCivil(t.year, static_cast<unsigned>(t.month),
                                     static_cast<unsigned>(t.day));
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + int64_t{t.second} * 1000 +
         t.millisecond;
}

std::string SessionId() {
  std::lock_guard<std::mutex> lock(sessionMu);
  if (sessionId.empty()) {
    uint8_t b[16];
    if (NewGuidBytes(b)) {
      char text[40];
      const unsigned d1 =
          (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | b[3];
      std::snprintf(text, sizeof text, "%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", d1,
                    (unsigned(b[4]) << 8) | b[5], (unsigned(b[6]) << 8) | b[7], b[8], b[9],
                    b[10], b[11], b[12], b[13], b[14], b[15]);
      sessionId = text;
    }
  }
  return sessionId;
}

Json::Value BuildAnalyticsDocument(const std::string& input, const DocumentIdentity& identity) {
  const Json::Value in = ParseFlat(input);
  const Json::Value empty("");
  const Json::Value null;
  Json::Value doc(Json::objectValue);
  Json::Value& common = doc["common"];
  common["uid"] = identity.uid;
  common["session_id"] = identity.sessionId;
  common["pid"] = Member(in, "pid", Json::Value(0));
  common["brand"] = Member(in, "brand", empty);
  common["model"] = Member(in, "model", empty);
  common["channel"] = Member(in, "channel", empty);
  common["is_new"] = Member(in, "is_new", Json::Value(0));
  common["mac"] = "";
  common["os"] = "Win";
  common["os_version"] = identity.osVersion;
  for (const char* name : {"product", "product_version", "email", "phone"}) {
    common[name] = Member(in, name, empty);
  }
  for (const char* name : {"is_vip", "is_login", "user_id", "cross_end_id", "source_type", "rnclid"}) {
    common[name] = Member(in, name, null);
  }
  for (const char* name : {"tools_version", "tools_lang", "kit_type"}) {
    common[name] = Member(in, name, empty);
  }
  if (in.isMember("entry")) doc["start"]["entry"] = in["entry"];
  doc["actions"] = Member(in, "actions", null);
  if (in.isMember("monitor_type")) {
    Json::Value& monitor = doc["monitor"];
    monitor["monitor_type"] = in["monitor_type"];
    monitor["guid"] = Member(in, "monitor_guid", empty);
    Json::Value& param = monitor["param"];
    param["start_time"] = Member(in, "monitor_start_time", Json::Value(Json::Int64(0)));
    param["error_time"] = Member(in, "monitor_error_time", Json::Value(Json::Int64(0)));
    param["line_id"] = Member(in, "monitor_line_id", Json::Value(0));
    param["error_code"] = Member(in, "monitor_error_code", empty);
    param["total_memory"] = Member(in, "monitor_total_memory", empty);
    param["remain_memory"] = Member(in, "monitor_remain_memory", empty);
    param["ext"]["parent_pid"] = Member(in, "monitor_main_pid", Json::Value(0));
    param["ext"]["pid"] = Member(in, "monitor_sub_pid", Json::Value(0));
    param["ext"]["ext_others"] = Member(in, "monitor_ext1", empty);
    param["user_ext"] = Member(in, "monitor_user_ext", empty);
  }
  doc["ts"] = Json::Int64(identity.ts);
  return doc;
}

int WebLog::SoftDataReport(const char* json) {
  DocumentIdentity identity;
  identity.sessionId = SessionId();
  // Only a file marks a test run: opening a directory also "succeeds", and
  // a folder named test is common in a working directory.
  std::error_code ec;
  const bool testRun = std::filesystem::is_regular_file(options_.workingDir + "/test", ec);
  const std::string url = testRun ? options_.endpoints.testCollector + "/collector"
                                  : options_.endpoints.collector + "/collect";
  {
    common::MutexLock lock(&mu_);
    identity.uid = analyticsUid_;
  }
  if (identity.uid.empty()) {
    identity.uid = AnalyticsUid();
    if (!identity.uid.empty()) {
      common::MutexLock lock(&mu_);
      analyticsUid_ = identity.uid;
    }
  }
  identity.ts = LocalWallClockMillis(platform::localTime());
  identity.osVersion = OsNameWithArchitecture();
  const Json::Value doc = BuildAnalyticsDocument(json == nullptr ? "" : json, identity);
  ApplyProxyFile();
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "\t";
  const int rc = http_.Post(url, kJsonHeader, Json::writeString(writer, doc));
  if (rc != 0) return rc;
  return static_cast<int>(http_.GetResponseCode() - 200);
}

}  // namespace weblog
