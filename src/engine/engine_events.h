#ifndef WEBSETUP_ENGINE_ENGINE_EVENTS_H_
#define WEBSETUP_ENGINE_ENGINE_EVENTS_H_

// The engine's outward calls: telemetry events, the funnel record, the
// window's progress callback and the content-length cache. Until the
// telemetry singleton and the window exist, the hooks default to a log line
// (events) or to nothing (progress: no window registered), and the cache is
// a locked map here. Whoever owns those parts installs real hooks once at
// start-up with setEngineEvents().

#include <cstdint>
#include <functional>
#include <string>

namespace engine {

struct EngineEvents {
  // AddUserLog_event (category, action, label, bWait).
  std::function<void(const std::string&, const std::string&, const std::string&, bool)> event;
  // AddUserLog_funnelPair (category, action, key, value).
  std::function<void(const std::string&, const std::string&, const std::string&, const std::string&)>
      funnelPair;
  // The registered window's OnDownloadProgress (downloaded, total). Empty
  // means no window is registered.
  std::function<void(int64_t, int64_t)> downloadProgress;
  // The content-length cache's home when the program has one (the
  // telemetry singleton); both empty: the engine's own locked map.
  std::function<void(const std::string&, int64_t)> rememberContentLength;
  std::function<int64_t(const std::string&)> lookupContentLength;
};

// Replaces the hooks. An empty event or funnel hook falls back to a log
// line. Thread-safe; hooks may be called on any engine thread.
void setEngineEvents(EngineEvents hooks);

// Restores the default hooks. Thread-safe.
void resetEngineEvents();

void AddUserLog_event(const std::string& category, const std::string& action,
                      const std::string& label, bool wait = false);
void AddUserLog_funnelPair(const std::string& category, const std::string& action,
                           const std::string& key, const std::string& value);

// True when a window registered for progress.
bool hasProgressWindow();
// Calls the registered window's progress callback, if any.
void OnDownloadProgress(int64_t downloaded, int64_t total);

// The process-wide URL -> content length cache: the hooks' when set, else
// the engine's own. Thread-safe.
// Ignored when `size` is 0 or `remotePath` empty.
void RememberContentLength(const std::string& remotePath, int64_t size);
// The stored size, or 0.
int64_t LookupContentLength(const std::string& remotePath);
// Empties the engine's own cache (tests, and a fresh start of the install
// flow).
void ClearContentLengthCache();

}  // namespace engine

#endif  // WEBSETUP_ENGINE_ENGINE_EVENTS_H_
