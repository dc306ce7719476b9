#ifndef WEBSETUP_WINDOW_EVENT_SEQUENCES_H_
#define WEBSETUP_WINDOW_EVENT_SEQUENCES_H_

// The records the window sends at each step of a person's road, in the
// order the funnels read them. Each step is one function, so the order
// lives in one place and a test reads it from a recorder. Any thread.

#include <cstdint>
#include <string>

#include "window/close_report.h"

namespace common {
class EventSink;
}

namespace window {

// What the first run on a machine reports about it.
struct MachineFacts {
  std::string os;        // "<system name> 64bit"
  std::string language;  // the system's language name
  int screenWidth = 0;
  int screenHeight = 0;
};

// The window opened: the start records, the machine's facts when this is
// the machine's first run (`facts` non-null), then the launch funnel.
void SendLaunchSequence(common::EventSink& events, const MachineFacts* facts);
// Install pressed, after the seconds the person took to press it.
void SendInstallClickSequence(common::EventSink& events, uint32_t secondsToClick);
// The download starts (Install pressed, before the licence question).
void SendDownStartSequence(common::EventSink& events);
// The licence question's answer.
void SendLicenceAnswer(common::EventSink& events, bool agreed);
// The date and hour of the first start, from GetFixedZoneTime's text.
void SendStartTimeSequence(common::EventSink& events, const std::string& fixedZoneTime);
// Try again pressed; `firstOrRetry` labels the run that failed.
void SendTryAgainSequence(common::EventSink& events, const char* firstOrRetry);
// Start pressed on a product that runs from its executable.
void SendProgramLaunchSequence(common::EventSink& events, int32_t gifDuration);
// The product is being started (with the splash when `gifDuration` > 0).
void SendStartWindowSequence(common::EventSink& events, int32_t gifDuration);
// The window closes: the duration the report names (in whole seconds),
// then the close records, both waited for.
void SendCloseSequence(common::EventSink& events, const CloseReport& report,
                       uint32_t durationSeconds);

}  // namespace window

#endif  // WEBSETUP_WINDOW_EVENT_SEQUENCES_H_
