#include "install_test_support.h"

#include "engine/libcurl_tool.h"
#include "support/subprocess.h"

namespace install {

void ServerFixture::SetUp() {
  server_ = std::make_unique<testing_support::MakerServices>(root_.path());
}

void ServerFixture::setMode(const std::string& key, const std::string& value) {
  engine::CLibcurlTool curl;
  std::string reply;
  ASSERT_EQ(curl.HttpPost(server_->baseUrl() + "/control/mode?key=" + key + "&value=" + value, "",
                          &reply, ""),
            0);
  ASSERT_EQ(reply, "ok\n");
}

void ServerFixture::writeScenario(const std::string& block) {
  ASSERT_TRUE(testing_support::writeFile(root_.file("downloader.xml"), block));
}

std::vector<Json::Value> ServerFixture::requests(const std::string& suffix) const {
  std::vector<Json::Value> out;
  for (const Json::Value& line : server_->journal()) {
    const std::string path = line["path"].asString();
    if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      out.push_back(line);
    }
  }
  return out;
}

std::vector<Json::Value> ServerFixture::awaitRequests(const std::string& suffix, size_t count,
                                                     std::chrono::milliseconds limit) {
  testing_support::waitFor([&] { return requests(suffix).size() >= count; }, limit);
  return requests(suffix);
}

std::vector<Json::Value> ServerFixture::exactRequests(const std::string& suffix, size_t count) {
  awaitRequests(suffix, count);
  return awaitRequests(suffix, count + 1, std::chrono::milliseconds(300));
}

std::wstring MapLabels::getLabelText(const std::wstring& name) const {
  auto it = texts.find(name);
  return it == texts.end() ? std::wstring() : it->second;
}

}  // namespace install
