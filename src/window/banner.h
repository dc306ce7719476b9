#ifndef WEBSETUP_WINDOW_BANNER_H_
#define WEBSETUP_WINDOW_BANNER_H_

// The banners of the carousel from the maker's banner service: the signed
// query, the reading of its answer, and the banner thread that fetches
// every picture into the cache before it tells the window.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace common {
class EventSink;
}

namespace window {

struct BannerRecord {
  std::wstring bannerUrl;
  std::wstring jumpUrl;
  std::wstring prompt;
  std::wstring localFile;  // where the picture was stored
  int32_t sort = 0;
};

// The banner query of `base` (the service's URL, no trailing '/') for the
// product `mainPid` in the language with web code `webCode`, at `now`
// (seconds since 1970): the query text is signed with the MD5 of itself
// followed by the service's salt. Logged as " BAN: ...".
std::string GetBannerPicUrl(const std::string& base, const std::string& webCode, int32_t mainPid,
                            int64_t now);

// What an answer of the banner service says.
enum class BannerAnswer {
  kList,      // an array: *banners holds its elements (possibly none)
  kError,     // an error object (a "code" other than 200)
  kNoList,    // JSON, but no array (an object with code 200 among them)
  kUnparsed,  // not JSON
};
// Reads `text` into *elements, in the array's order (an element that is
// not an object reads as one without a picture). The word "code" inside a
// prompt of an array does not make it an error.
BannerAnswer ParseBannerAnswer(const std::string& text, std::vector<BannerRecord>* elements);

// The duration label of the funnel pairs: whole seconds in three-second
// buckets, "[3~6]s" for 4 seconds.
std::string DurationBucketLabel(int64_t milliseconds);

// How banners travel: whoever builds the window gives it these, so the
// window needs no transport of its own. Both are called on the banner
// thread.
struct BannerTransport {
  // GET into *body; returns the transport's result (0 success).
  std::function<int(const std::string& url, std::string* body)> get;
  // Downloads url to path, ending within a second once *stop is set;
  // returns the download routine's result (1 success).
  std::function<int(const std::wstring& url, const std::wstring& path,
                    const std::atomic<bool>* stop)>
      download;
};

// What the banner thread needs from the rest of the program.
struct BannerFetch {
  std::string queryUrl;      // GetBannerPicUrl(...)
  std::wstring cacheFolder;  // pictures go here, as <sort><extension>
  common::EventSink* events = nullptr;
  // GET into *body; returns the transport's result (0 success).
  std::function<int(const std::string& url, std::string* body)> get;
  // Downloads url to path; returns the download routine's result (1 success).
  std::function<int(const std::wstring& url, const std::wstring& path)> download;
  // Whether a stored file decodes as a picture.
  std::function<bool(const std::wstring& path)> isPicture;
  // Ends the waits between attempts early when the window goes.
  std::function<bool()> stopping;
};

// The banner thread's work: asks the service up to three times, fetches
// every banner picture (three attempts each) and returns true with
// *banners filled only when every element of a non-empty list arrived as a
// picture. Logs " Get Cbs Ban..." lines and reports the attempt durations.
bool GetCbsBanner(const BannerFetch& fetch, std::map<int32_t, BannerRecord>* banners);

}  // namespace window

#endif  // WEBSETUP_WINDOW_BANNER_H_
