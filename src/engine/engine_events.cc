#include "engine/engine_events.h"

#include <map>
#include <memory>

#include "common/log.h"
#include "common/mutex.h"

namespace engine {
namespace {

common::Mutex& hooksMutex() {
  static common::Mutex mu;
  return mu;
}

// Copied out under the lock and called outside it, so a hook may itself
// log or take its own locks.
std::shared_ptr<const EngineEvents>& hooks() {
  static std::shared_ptr<const EngineEvents> h = std::make_shared<EngineEvents>();
  return h;
}

std::shared_ptr<const EngineEvents> currentHooks() {
  common::MutexLock lock(&hooksMutex());
  return hooks();
}

struct LengthCache {
  common::Mutex mu;
  std::map<std::string, int64_t> sizes GUARDED_BY(mu);
};

LengthCache& lengthCache() {
  static LengthCache cache;
  return cache;
}

}  // namespace

void setEngineEvents(EngineEvents h) {
  auto next = std::make_shared<const EngineEvents>(std::move(h));
  common::MutexLock lock(&hooksMutex());
  hooks() = std::move(next);
}

void resetEngineEvents() { setEngineEvents(EngineEvents{}); }

void AddUserLog_event(const std::string& category, const std::string& action,
                      const std::string& label, bool wait) {
  auto h = currentHooks();
  if (h->event) {
    h->event(category, action, label, wait);
    return;
  }
  LOG(INFO) << " event " << category << "/" << action << "/" << label;
}

void AddUserLog_funnelPair(const std::string& category, const std::string& action,
                           const std::string& key, const std::string& value) {
  auto h = currentHooks();
  if (h->funnelPair) {
    h->funnelPair(category, action, key, value);
    return;
  }
  LOG(INFO) << " funnel " << category << "/" << action << " " << key << "=" << value;
}

bool hasProgressWindow() { return static_cast<bool>(currentHooks()->downloadProgress); }

void OnDownloadProgress(int64_t downloaded, int64_t total) {
  auto h = currentHooks();
  if (h->downloadProgress) h->downloadProgress(downloaded, total);
}

void RememberContentLength(const std::string& remotePath, int64_t size) {
  if (size == 0 || remotePath.empty()) return;
  auto h = currentHooks();
  if (h->rememberContentLength) {
    h->rememberContentLength(remotePath, size);
    return;
  }
  LengthCache& cache = lengthCache();
  common::MutexLock lock(&cache.mu);
  cache.sizes[remotePath] = size;
}

int64_t LookupContentLength(const std::string& remotePath) {
  auto h = currentHooks();
  if (h->lookupContentLength) return h->lookupContentLength(remotePath);
  LengthCache& cache = lengthCache();
  common::MutexLock lock(&cache.mu);
  auto it = cache.sizes.find(remotePath);
  return it == cache.sizes.end() ? 0 : it->second;
}

void ClearContentLengthCache() {
  LengthCache& cache = lengthCache();
  common::MutexLock lock(&cache.mu);
  cache.sizes.clear();
}

}  // namespace engine
