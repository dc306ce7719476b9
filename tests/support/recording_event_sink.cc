#include "support/recording_event_sink.h"

namespace testing_support {

RecordingEventSink::RecordingEventSink(bool install) : installed_(install) {
  if (installed_) common::SetEventSink(this);
}

RecordingEventSink::~RecordingEventSink() {
  if (installed_) common::SetEventSink(nullptr);
}

void RecordingEventSink::Event(const std::string& category, const std::string& action,
                               const std::string& label, bool wait) {
  add({"event", category, action, label, wait});
}

void RecordingEventSink::Funnel(const std::string& eventType, const std::string& coreFunc,
                                int32_t step, const std::string& category,
                                const std::string& action, const std::string& label, bool wait,
                                bool) {
  add({"funnel", category, action,
       eventType + " " + coreFunc + " " + std::to_string(step) + " " + label, wait});
}

void RecordingEventSink::FunnelEx(const std::string& category, const std::string& action,
                                  const common::FunnelMembers& members, bool wait, bool) {
  std::string detail;
  for (const auto& [k, v] : members) detail += k + "=" + v + ";";
  add({"funnelEx", category, action, detail, wait});
}

void RecordingEventSink::ServerInteger(const std::string& tag, int32_t value) {
  add({"server", "", tag, std::to_string(value)});
}

void RecordingEventSink::setObserver(std::function<void(const RaisedEvent&)> observer) {
  std::lock_guard<std::mutex> lock(mu_);
  observer_ = std::move(observer);
}

void RecordingEventSink::add(RaisedEvent e) {
  std::function<void(const RaisedEvent&)> observer;
  {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(e);
    observer = observer_;
  }
  if (observer) observer(e);
}

std::vector<RaisedEvent> RecordingEventSink::events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_;
}

std::vector<std::string> RecordingEventSink::labels(const std::string& action) const {
  std::vector<std::string> out;
  for (const RaisedEvent& e : events()) {
    if (e.kind == "event" && e.action == action) out.push_back(e.detail);
  }
  return out;
}

std::vector<RaisedEvent> RecordingEventSink::ofKind(const std::string& kind) const {
  std::vector<RaisedEvent> out;
  for (const RaisedEvent& e : events()) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

int RecordingEventSink::count(const std::string& text) const {
  int n = 0;
  for (const RaisedEvent& e : events()) n += e.text() == text;
  return n;
}

void RecordingEventSink::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  events_.clear();
}

}  // namespace testing_support
