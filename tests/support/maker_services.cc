#include "support/maker_services.h"

#include <memory>

#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace testing_support {

std::string MakerServices::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<Json::Value> MakerServices::journal() const {
  std::vector<Json::Value> lines;
  std::string text = readFile(journalPath_);
  size_t start = 0;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  // Only whole lines count: the server may be writing the next one.
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    Json::Value line;
    std::string errors;
    if (reader->parse(text.data() + start, text.data() + end, &line, &errors)) {
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

bool MakerServices::waitForJournal(size_t count, std::chrono::milliseconds limit) const {
  return waitFor([&] { return journal().size() >= count; }, limit);
}

std::vector<Json::Value> MakerServices::requestsTo(const std::string& path, size_t atLeast,
                                                   std::chrono::milliseconds limit) const {
  std::vector<Json::Value> hits;
  waitFor(
      [&] {
        hits.clear();
        for (Json::Value& line : journal()) {
          if (line["path"].asString() == path) hits.push_back(std::move(line));
        }
        return hits.size() >= atLeast;
      },
      limit);
  return hits;
}

}  // namespace testing_support
