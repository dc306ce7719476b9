#include "telemetry/galog.h"

#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace telemetry {

namespace {

// The document of the file; an empty object when missing or unparsable.
Json::Value ReadGalog(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  *exists = static_cast<bool>(in);
  Json::Value doc(Json::objectValue);
  if (!in) return doc;
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value parsed;
  std::string errors;
  try {
    if (reader->parse(s.data(), s.data() + s.size(), &parsed, &errors) && parsed.isObject()) {
      return parsed;
    }
  } catch (const std::exception&) {
  }
  return doc;
}

// Written beside and renamed over, so a crash never leaves half a file.
void WriteGalog(const std::string& path, const Json::Value& doc) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return;
    Json::StreamWriterBuilder writer;
    out << Json::writeString(writer, doc);
    if (!out.flush()) return;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
}

bool IntIs(const Json::Value& doc, const char* name, int value) {
  return doc.isMember(name) && doc[name].isInt() && doc[name].asInt() == value;
}

}  // namespace

bool IsFirstRunTodayAt(const std::string& path, const platform::LocalTime& today) {
  bool exists = false;
  Json::Value doc = ReadGalog(path, &exists);
  if (IntIs(doc, "year", today.year) && IntIs(doc, "month", today.month) &&
      IntIs(doc, "day", today.day)) {
    return false;
  }
  doc["year"] = today.year;
  doc["month"] = today.month;
  doc["day"] = today.day;
  WriteGalog(path, doc);
  return true;
}

void UpdateGalogVersionAt(const std::string& path, const std::string& version) {
  bool exists = false;
  Json::Value doc = ReadGalog(path, &exists);
  if (doc.isMember("version") && doc["version"].isString() &&
      doc["version"].asString() == version) {
    return;
  }
  doc["version"] = version;
  WriteGalog(path, doc);
}

}  // namespace telemetry
