#ifndef WEBSETUP_ENGINE_CONTENT_LENGTH_CACHE_H_
#define WEBSETUP_ENGINE_CONTENT_LENGTH_CACHE_H_

// The engine's URL -> content-length cache: a size probed once in a run is
// trusted by later downloads of the same URL in that run (a retry skips the
// probe). The engine owns the one instance of the process. Thread-safe.

#include <cstdint>
#include <map>
#include <string>

#include "common/mutex.h"

namespace engine {

class ContentLengthCache {
 public:
  // The process's cache.
  static ContentLengthCache& instance();

  // Ignored when `size` is 0 or `url` is empty.
  void remember(const std::string& url, int64_t size) LOCKS_EXCLUDED(mu_);
  // The stored size, or 0.
  int64_t lookup(const std::string& url) const LOCKS_EXCLUDED(mu_);
  // Drops the size of `url` (the file there has changed).
  void forget(const std::string& url) LOCKS_EXCLUDED(mu_);
  void clear() LOCKS_EXCLUDED(mu_);

 private:
  mutable common::Mutex mu_;
  std::map<std::string, int64_t> sizes_ GUARDED_BY(mu_);
};

// Shorthands for the process's cache.
inline void RememberContentLength(const std::string& url, int64_t size) {
  ContentLengthCache::instance().remember(url, size);
}
inline int64_t LookupContentLength(const std::string& url) {
  return ContentLengthCache::instance().lookup(url);
}
inline void ForgetContentLength(const std::string& url) { ContentLengthCache::instance().forget(url); }
inline void ClearContentLengthCache() { ContentLengthCache::instance().clear(); }

}  // namespace engine

#endif  // WEBSETUP_ENGINE_CONTENT_LENGTH_CACHE_H_
