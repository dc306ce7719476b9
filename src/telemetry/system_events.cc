#include "telemetry/system_events.h"

#include "system/event_sink.h"
#include "telemetry/single_user_log.h"

namespace telemetry {

void ConnectSystemEvents() { ConnectSystemEvents(&CSingleUserLog::GetInstance()); }

void ConnectSystemEvents(CSingleUserLog* log) {
  FuntionImpl::SetEventSink(
      [log](const std::string& category, const std::string& action, const std::string& label) {
        log->AddUserLog_event(category, action, label, false);
      });
}

}  // namespace telemetry
