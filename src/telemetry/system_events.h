#ifndef WEBSETUP_TELEMETRY_SYSTEM_EVENTS_H_
#define WEBSETUP_TELEMETRY_SYSTEM_EVENTS_H_

// Routes the events the system services raise (FuntionImpl::RaiseEvent,
// such as "StartWindowError") into telemetry as GA4 events, queued without
// waiting. Called once at start-up; thread-safe.

class CSingleUserLog;

namespace telemetry {

// Events go to the process's hub, CSingleUserLog::GetInstance().
void ConnectSystemEvents();

// Events go to `log`, which must outlive the connection: connect another
// hub, or FuntionImpl::SetEventSink(nullptr), before it goes.
void ConnectSystemEvents(CSingleUserLog* log);

}  // namespace telemetry

#endif  // WEBSETUP_TELEMETRY_SYSTEM_EVENTS_H_
