#include "window/banner.h"

#include <json/json.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "common/events.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"

namespace window {
namespace {

constexpr char kSalt[] = "Wm4tPq8ZbN2xKc7D";
constexpr int kAttempts = 3;

int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

std::wstring member(const Json::Value& object, const char* name) {
  const Json::Value& value = object[name];
  return value.isString() ? common::utf8ToWide(value.asString()) : L"";
}

}  // namespace

std::string GetBannerPicUrl(const std::string& base, const std::string& webCode, int32_t mainPid,
                            int64_t now) {
  const std::string query = "lang_code=" + webCode + "&parent_pid=" + std::to_string(mainPid) +
                            "&timestamp=" + std::to_string(now) + "&type=1";
  const std::string verify = common::md5OfText(query + kSalt);
  LOG(INFO) << " BAN: " << query << "&verify=" << verify;
  return base + "/api/v1/banners?" + query + "&verify=" + verify;
}

BannerAnswer ParseBannerAnswer(const std::string& text, std::vector<BannerRecord>* elements) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  // jsoncpp throws on nesting past its depth limit ("[[[[..."), which an
  // answer from the network may well do.
  try {
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
      return BannerAnswer::kUnparsed;
    }
  } catch (const std::exception&) {
    return BannerAnswer::kUnparsed;
  }
  // Only an object can carry an error code; an array that mentions the
  // word somewhere (a prompt) is still the list.
  if (root.isObject()) {
    const Json::Value& code = root["code"];
    if (text.find("\"code\"") != std::string::npos && !(code.isIntegral() && code.asInt64() == 200)) {
      return BannerAnswer::kError;
    }
    return BannerAnswer::kNoList;
  }
  if (!root.isArray()) return BannerAnswer::kNoList;
  for (const Json::Value& element : root) {
    BannerRecord record;
    if (element.isObject()) {
      record.bannerUrl = member(element, "banner_url");
      record.jumpUrl = member(element, "jump_url");
      record.prompt = member(element, "prompt");
      const Json::Value& sort = element["sort"];
      record.sort = sort.isInt() ? sort.asInt() : 0;
    }
    elements->push_back(record);
  }
  return BannerAnswer::kList;
}

std::string DurationBucketLabel(int64_t milliseconds) {
  const int64_t seconds = milliseconds / 1000;
  const int64_t low = seconds - seconds % 3;
  return "[" + std::to_string(low) + "~" + std::to_string(low + 3) + "]s";
}

bool GetCbsBanner(const BannerFetch& fetch, std::map<int32_t, BannerRecord>* banners) {
  LOG(INFO) << "get banner from server";
  auto wait = [&fetch] {
    for (int i = 0; i < 10 && !(fetch.stopping && fetch.stopping()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  std::string text;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (fetch.stopping && fetch.stopping()) return false;
    text.clear();
    const auto start = std::chrono::steady_clock::now();
    const int result = fetch.get(fetch.queryUrl, &text);
    if (fetch.events != nullptr) {
      fetch.events->FunnelPair("Download", "ObtainCarouselMapTime", "CarouselMapTimeInterval",
                               DurationBucketLabel(millisecondsSince(start)));
    }
    LOG(INFO) << " Get Cbs Ban1: " << attempt << ", " << result << ", " << fetch.queryUrl.size()
              << ", " << text.size();
    if (!text.empty() && result == 0) break;
    wait();
  }
  if (text.empty()) return false;

  std::vector<BannerRecord> elements;
  const BannerAnswer answer = ParseBannerAnswer(text, &elements);
  LOG(INFO) << " Get Cbs Ban2: " << (answer == BannerAnswer::kUnparsed ? 0 : 1);
  if (answer == BannerAnswer::kUnparsed) return false;
  if (answer == BannerAnswer::kError) {
    LOG(INFO) << " Get Cbs Ban fail: " << text;
    return false;
  }
  const int n = static_cast<int>(elements.size());
  int fetched = 0;
  for (int i = 0; i < n; ++i) {
    BannerRecord& record = elements[static_cast<size_t>(i)];
    LOG(INFO) << " Get Cbs Ban3: " << record.bannerUrl.size() << ", " << i << "/" << n;
    if (record.bannerUrl.empty()) continue;
    const size_t dot = record.bannerUrl.rfind(L'.');
    std::wstring extension = dot == std::wstring::npos ? L"" : record.bannerUrl.substr(dot);
    // The extension names a file in the cache: nothing that leaves it.
    if (extension.find_first_of(L"/\\?#") != std::wstring::npos || extension.size() > 8) extension = L"";
    record.localFile = fetch.cacheFolder + L"/" + std::to_wstring(record.sort) + extension;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
      if (fetch.stopping && fetch.stopping()) return false;
      LOG(INFO) << " Get Cbs Ban4: " << i << "/" << n << ", " << attempt << "/3";
      const auto start = std::chrono::steady_clock::now();
      const int result = fetch.download(record.bannerUrl, record.localFile);
      if (fetch.events != nullptr) {
        fetch.events->FunnelPair("Download", "DownloadCarouselImagesTime",
                                 "DownloadCarouselImagesTimeInterval",
                                 DurationBucketLabel(millisecondsSince(start)));
      }
      LOG(INFO) << " Get Cbs Ban5: " << result;
      if (result != 1) continue;
      if (fetch.isPicture(record.localFile)) {
        ++fetched;
        LOG(INFO) << " Get Cbs Ban " << fetched << " Success";
        (*banners)[record.sort] = record;
        break;
      }
      LOG(INFO) << " Get Cbs Ban " << fetched << " Fail";
    }
  }
  if (n > 0 && fetched == n) {
    LOG(INFO) << " Get Banner success";
    return true;
  }
  return false;
}

}  // namespace window
