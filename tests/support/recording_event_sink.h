#ifndef WEBSETUP_TESTS_SUPPORT_RECORDING_EVENT_SINK_H_
#define WEBSETUP_TESTS_SUPPORT_RECORDING_EVENT_SINK_H_

// An EventSink that keeps every report, installed as the process's sink
// while it lives (the previous logging sink comes back afterwards).
// Thread-safe: the code under test reports from its own threads.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/events.h"

namespace testing_support {

// One report. kind: "event", "funnel", "funnelEx" (FunnelPair arrives as
// funnelEx with one member) or "server". detail: the event's label; a
// funnel's "eventType coreFunc step label"; the members as "k=v;k=v;"; a
// server integer's value.
struct RaisedEvent {
  std::string kind, category, action, detail;
  bool wait = false;
  std::string text() const { return kind + "|" + category + "|" + action + "|" + detail; }
};

class RecordingEventSink : public common::EventSink {
 public:
  // `install`: make it the process's sink until destroyed.
  explicit RecordingEventSink(bool install = true);
  ~RecordingEventSink() override;

  void Event(const std::string& category, const std::string& action, const std::string& label,
             bool wait) override;
  void Funnel(const std::string& eventType, const std::string& coreFunc, int32_t step,
              const std::string& category, const std::string& action, const std::string& label,
              bool wait, bool kit) override;
  void FunnelEx(const std::string& category, const std::string& action,
                const common::FunnelMembers& members, bool wait, bool kit) override;
  void ServerInteger(const std::string& tag, int32_t value) override;

  // Called with each report as it arrives (under no lock of ours).
  void setObserver(std::function<void(const RaisedEvent&)> observer);

  std::vector<RaisedEvent> events() const;
  // Labels of the "event" kind with this action, in order.
  std::vector<std::string> labels(const std::string& action) const;
  // Reports of one kind, in order.
  std::vector<RaisedEvent> ofKind(const std::string& kind) const;
  // How many reports have exactly this text().
  int count(const std::string& text) const;
  void clear();

 private:
  void add(RaisedEvent e);
  bool installed_;
  mutable std::mutex mu_;
  std::vector<RaisedEvent> events_;
  std::function<void(const RaisedEvent&)> observer_;
};

}  // namespace testing_support

#endif  // WEBSETUP_TESTS_SUPPORT_RECORDING_EVENT_SINK_H_
