#ifndef WEBSETUP_COMMON_EVENTS_H_
#define WEBSETUP_COMMON_EVENTS_H_

// EventSink: the one door through which every module reports telemetry
// (GA4 events, funnel records, flow errors) and hands on the two integers
// of the server's answer that telemetry keeps for the crash handler.
//
// The telemetry hub implements it; the app installs the hub once at
// start-up with SetEventSink(). Until then, and after SetEventSink(nullptr),
// Events() is a sink that only writes a log line, so a module can always
// report without knowing whether telemetry runs (tools, tests).
//
// Every operation is thread-safe and may be called on any thread; the
// installed sink must outlive its installation.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace common {

// Extra string members of a funnel record, in the order given.
using FunnelMembers = std::vector<std::pair<std::string, std::string>>;

class EventSink {
 public:
  virtual ~EventSink() = default;

  // A GA4 event. `wait` sends it on the caller's thread.
  virtual void Event(const std::string& category, const std::string& action,
                     const std::string& label, bool wait) = 0;
  // A funnel record of `eventType` ("CoreFuncEvent", "Keypoint") for core
  // function `coreFunc` at `step`. `kit` marks the toolkit's records.
  virtual void Funnel(const std::string& eventType, const std::string& coreFunc, int32_t step,
                      const std::string& category, const std::string& action,
                      const std::string& label, bool wait, bool kit) = 0;
  // A funnel record with extra members (empty values are left out).
  virtual void FunnelEx(const std::string& category, const std::string& action,
                        const FunnelMembers& members, bool wait, bool kit) = 0;
  // FunnelEx with one pair.
  virtual void FunnelPair(const std::string& category, const std::string& action,
                          const std::string& key, const std::string& value, bool wait = false,
                          bool kit = false) {
    FunnelEx(category, action, {{key, value}}, wait, kit);
  }
  // An integer of the server's answer as the parse reads it: `tag` is
  // "Downloader_config" or "Additional_time".
  virtual void ServerInteger(const std::string& tag, int32_t value) = 0;
};

// Writes every report to the log and sends nothing.
class LoggingEventSink : public EventSink {
 public:
  void Event(const std::string& category, const std::string& action, const std::string& label,
             bool wait) override;
  void Funnel(const std::string& eventType, const std::string& coreFunc, int32_t step,
              const std::string& category, const std::string& action, const std::string& label,
              bool wait, bool kit) override;
  void FunnelEx(const std::string& category, const std::string& action,
                const FunnelMembers& members, bool wait, bool kit) override;
  void ServerInteger(const std::string& tag, int32_t value) override;
};

// The installed sink, or the logging one. Never null.
EventSink& Events();

// Installs `sink` (null: the logging sink). The caller keeps it alive until
// it installs another.
void SetEventSink(EventSink* sink);

}  // namespace common

#endif  // WEBSETUP_COMMON_EVENTS_H_
