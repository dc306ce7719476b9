#ifndef WEBSETUP_SYSTEM_EVENT_SINK_H_
#define WEBSETUP_SYSTEM_EVENT_SINK_H_

// Where the system services send the events they raise (category, action,
// label), such as "StartWindowError". Telemetry connects its
// AddUserLog_event here at start-up; until then events are dropped.
// Thread-safe.

#include <functional>
#include <string>

namespace FuntionImpl {

using EventSink = std::function<void(const std::string& category, const std::string& action,
                                     const std::string& label)>;

// Replaces the sink (an empty function drops events).
void SetEventSink(EventSink sink);

// Sends one event to the sink, if any.
void RaiseEvent(const std::string& category, const std::string& action, const std::string& label);

}  // namespace FuntionImpl

#endif  // WEBSETUP_SYSTEM_EVENT_SINK_H_
