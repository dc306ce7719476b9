#include "window/event_sequences.h"

#include <cstdio>

#include "common/events.h"

namespace window {

void SendLaunchSequence(common::EventSink& events, const MachineFacts* facts) {
  events.Event("CrashRate", "Start", "", false);
  events.Funnel("Keypoint", "null", 0, "CorePublicModule", "Start", "null", false, false);
  if (facts != nullptr) {
    events.Event("PC", "SysOS", facts->os, false);
    events.Event("PC", "SysLanguage", facts->language, false);
    char size[64];
    std::snprintf(size, sizeof(size), "%d*%d", facts->screenWidth, facts->screenHeight);
    events.Event("PC", "SysScreenResolution", size, false);
  }
  events.Event("Download", "1.Launch", "", false);
  events.Funnel("CoreFuncEvent", "BeforeDownload", 0, "Download", "CoreFuncStart", "null", false,
                false);
  events.Funnel("CoreFuncEvent", "BeforeDownload", 1, "Download", "Launch", "null", false, false);
  events.Funnel("CoreFuncEvent", "BeforeDownload", 0, "Download", "CoreFuncEnd", "null", false,
                false);
}

void SendInstallClickSequence(common::EventSink& events, uint32_t secondsToClick) {
  events.FunnelPair("RunningTime", "DurationFordownLoading", "LoadingStart",
                    std::to_string(secondsToClick) + "S");
}

void SendDownStartSequence(common::EventSink& events) {
  events.Event("Download", "2.DownStart", "", false);
  events.Funnel("CoreFuncEvent", "Downloading", 0, "Download", "CoreFuncStart", "null", false,
                false);
  events.Funnel("CoreFuncEvent", "Downloading", 1, "Download", "DownStart", "null", false, false);
}

void SendLicenceAnswer(common::EventSink& events, bool agreed) {
  events.FunnelPair("StartDownloader", "PrivacyAgreementPopup", "PrivacyAgreementPopupType",
                    agreed ? "Agree and install" : "Disagree");
}

void SendStartTimeSequence(common::EventSink& events, const std::string& fixedZoneTime) {
  events.Event("Download", "StartTimeDate", fixedZoneTime.substr(0, 10), false);
  events.Event("Download", "StartTimeHour",
               fixedZoneTime.size() >= 13 ? fixedZoneTime.substr(11, 2) : "", false);
}

void SendTryAgainSequence(common::EventSink& events, const char* firstOrRetry) {
  events.Event("Download", "8-1.ClickTryAgain", firstOrRetry, false);
  events.Funnel("CoreFuncEvent", "Downloading", 0, "Download", "CoreFuncStart", "null", false,
                false);
}

void SendProgramLaunchSequence(common::EventSink& events, int32_t gifDuration) {
  events.Event("Download", "7.ProgramLaunch", "", gifDuration == 0);
  events.Funnel("CoreFuncEvent", "Starting", 0, "Download", "CoreFuncStart", "null", false, false);
  events.Funnel("CoreFuncEvent", "Starting", 1, "Download", "ProgramLaunch", "null", false, false);
}

void SendStartWindowSequence(common::EventSink& events, int32_t gifDuration) {
  events.Event("Download", "9.StartWindow", std::to_string(gifDuration), gifDuration == 0);
  events.Funnel("CoreFuncEvent", "Starting", 2, "Download", "StartWindow", "null", false, false);
  events.Funnel("CoreFuncEvent", "Starting", 0, "Download", "CoreFuncEnd", "null", false, false);
}

void SendCloseSequence(common::EventSink& events, const CloseReport& report,
                       uint32_t durationSeconds) {
  if (!report.durationAction.empty()) {
    events.FunnelPair("RunningTime", report.durationAction, report.durationKey,
                      std::to_string(durationSeconds) + "S");
  }
  events.Event("CrashRate", "Close", report.code, true);
  events.Funnel("Keypoint", report.phase, 0, "CorePublicModule", "Close", "null", true, false);
}

}  // namespace window
