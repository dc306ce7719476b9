#include "window/close_report.h"

namespace window {

CloseReport CloseReportOf(const CloseState& s) {
  if (s.mainPage == 0 && s.innerPage == 0) {
    return {"close01", "BeforeDownload", "DurationFordownLoading", "UserCloses",
            DurationStart::kWindowShown};
  }
  if (s.mainPage == 1) {
    // The bar's bands: the download fills it to 85, verification to 90.
    if (s.progress < 85) {
      return {"close02", "Downloading", "DownloadDuration", "UserCloses",
              DurationStart::kInstallClick};
    }
    if (s.progress <= 90) {
      return {"close04", "Md5Check", "VerificationDuration", "UserVerificationUserCloses",
              DurationStart::kDownloadDone};
    }
    return {"close03", "Installing", "ActualTime", "UserCloses", DurationStart::kInstallerStart};
  }
  if (s.mainPage == 0 && s.innerPage == 1) {
    if (s.failed) return {"close05", "Installing", "", ""};
    return s.launching ? CloseReport{"close07", "Starting", "", ""}
                       : CloseReport{"close06", "Installing", "", ""};
  }
  return {};
}

}  // namespace window
