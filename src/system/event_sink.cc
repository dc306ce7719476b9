#include "system/event_sink.h"

#include <mutex>

namespace FuntionImpl {
namespace {

std::mutex sinkMu;

EventSink& sink() {
  static EventSink s;
  return s;
}

}  // namespace

void SetEventSink(EventSink s) {
  std::lock_guard<std::mutex> lock(sinkMu);
  sink() = std::move(s);
}

void RaiseEvent(const std::string& category, const std::string& action, const std::string& label) {
  EventSink s;
  {
    std::lock_guard<std::mutex> lock(sinkMu);
    s = sink();
  }
  // Called outside the lock so a sink may raise further events.
  if (s) s(category, action, label);
}

}  // namespace FuntionImpl
