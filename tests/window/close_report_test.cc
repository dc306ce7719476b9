// The close codes: which code, phase and duration each state of the
// window reports when it closes.

#include <gtest/gtest.h>

#include <string>

#include "window/close_report.h"

namespace window_test {
namespace {

using window::CloseReportOf;
using window::CloseState;
using window::DurationStart;

struct CloseRow {
  CloseState state;
  const char* report;  // code/phase/durationAction/durationKey
  DurationStart from;
};

// The bar's bands decide on the running page: the download fills it to
// 84, verification 85-90, the installer the rest. The finished page tells
// a failed run, a start and an end apart.
TEST(CloseCodeTest, EachPhaseHasItsCode) {
  const CloseRow rows[] = {
      {{0, 0, 0, false, false},
       "close01/BeforeDownload/DurationFordownLoading/UserCloses",
       DurationStart::kWindowShown},
      // Back on the install page after a run is "before download" again.
      {{0, 0, 100, true, false},
       "close01/BeforeDownload/DurationFordownLoading/UserCloses",
       DurationStart::kWindowShown},
      {{1, 1, 0, false, false},
       "close02/Downloading/DownloadDuration/UserCloses",
       DurationStart::kInstallClick},
      {{1, 1, 84, false, false},
       "close02/Downloading/DownloadDuration/UserCloses",
       DurationStart::kInstallClick},
      {{1, 1, 85, false, false},
       "close04/Md5Check/VerificationDuration/UserVerificationUserCloses",
       DurationStart::kDownloadDone},
      {{1, 1, 90, false, false},
       "close04/Md5Check/VerificationDuration/UserVerificationUserCloses",
       DurationStart::kDownloadDone},
      {{1, 1, 91, false, false},
       "close03/Installing/ActualTime/UserCloses",
       DurationStart::kInstallerStart},
      // The running page's inner page does not matter.
      {{1, 0, 91, false, false},
       "close03/Installing/ActualTime/UserCloses",
       DurationStart::kInstallerStart},
      {{0, 1, 100, true, true}, "close05/Installing//", DurationStart::kWindowShown},
      {{0, 1, 100, false, true}, "close07/Starting//", DurationStart::kWindowShown},
      {{0, 1, 100, false, false}, "close06/Installing//", DurationStart::kWindowShown},
      {{2, 0, 0, false, false}, "///", DurationStart::kWindowShown},
  };
  for (const CloseRow& row : rows) {
    const window::CloseReport r = CloseReportOf(row.state);
    const CloseState& s = row.state;
    SCOPED_TRACE(testing::Message()
                 << "page " << s.mainPage << "/" << s.innerPage << " at " << s.progress
                 << (s.failed ? " failed" : "") << (s.launching ? " launching" : ""));
    EXPECT_EQ(r.code + "/" + r.phase + "/" + r.durationAction + "/" + r.durationKey, row.report);
    EXPECT_EQ(r.durationFrom, row.from);
  }
}

}  // namespace
}  // namespace window_test
