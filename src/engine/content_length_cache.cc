#include "engine/content_length_cache.h"

namespace engine {

ContentLengthCache& ContentLengthCache::instance() {
  static ContentLengthCache cache;
  return cache;
}

void ContentLengthCache::remember(const std::string& url, int64_t size) {
  if (size == 0 || url.empty()) return;
  common::MutexLock lock(&mu_);
  sizes_[url] = size;
}

int64_t ContentLengthCache::lookup(const std::string& url) const {
  common::MutexLock lock(&mu_);
  auto it = sizes_.find(url);
  return it == sizes_.end() ? 0 : it->second;
}

void ContentLengthCache::forget(const std::string& url) {
  common::MutexLock lock(&mu_);
  sizes_.erase(url);
}

void ContentLengthCache::clear() {
  common::MutexLock lock(&mu_);
  sizes_.clear();
}

}  // namespace engine
