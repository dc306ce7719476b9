#include "common/events.h"

#include <atomic>

#include "common/log.h"

namespace common {
namespace {

LoggingEventSink& loggingSink() {
  static LoggingEventSink sink;
  return sink;
}

std::atomic<EventSink*>& installed() {
  static std::atomic<EventSink*> sink{nullptr};
  return sink;
}

}  // namespace

void LoggingEventSink::Event(const std::string& category, const std::string& action,
                             const std::string& label, bool) {
  LOG(INFO) << " event " << category << "/" << action << "/" << label;
}

void LoggingEventSink::Funnel(const std::string& eventType, const std::string& coreFunc,
                              int32_t step, const std::string& category,
                              const std::string& action, const std::string& label, bool, bool) {
  LOG(INFO) << " funnel " << eventType << " " << coreFunc << "/" << step << " " << category
            << "/" << action << "/" << label;
}

void LoggingEventSink::FunnelEx(const std::string& category, const std::string& action,
                                const FunnelMembers& members, bool, bool) {
  std::string pairs;
  for (const auto& [key, value] : members) pairs += " " + key + "=" + value;
  LOG(INFO) << " funnel " << category << "/" << action << pairs;
}

void LoggingEventSink::ServerInteger(const std::string& tag, int32_t value) {
  LOG(INFO) << " server value " << tag << " = " << value;
}

EventSink& Events() {
  EventSink* sink = installed().load(std::memory_order_acquire);
  return sink != nullptr ? *sink : loggingSink();
}

void SetEventSink(EventSink* sink) { installed().store(sink, std::memory_order_release); }

}  // namespace common
