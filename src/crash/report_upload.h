#ifndef WEBSETUP_CRASH_REPORT_UPLOAD_H_
#define WEBSETUP_CRASH_REPORT_UPLOAD_H_

// Packing and uploading a crash or close report: a copy of the run's log
// (and, for a crash, its dump) goes into a zip archive named after the
// packing time, which one multipart POST sends to the maker's
// log-collection service. Runs in the short-lived report process, on its
// main thread; nothing here is shared.

#include <string>

#include "platform/clock.h"

namespace crash {

constexpr char kProductId[] = "VUVededodo2900";
constexpr char kLogUploadPath[] = "/v1/productLogUpload";
// The label of a crash report (a close report carries its close code).
constexpr char kCrashLabel[] = "CrashDmp";

// Where a report goes and what it says about the setup.
struct ReportEnvironment {
  std::wstring logDirectory;  // the log folder, without a trailing '/'
  std::string version;        // the setup program's file version
  std::string uploadUrl;      // the whole endpoint URL

  // This process's: its log folder, its own file version and the
  // log-collection service of the services file (with its override).
  static ReportEnvironment FromProcess();
};

// Results of the upload request. Their numbers reach the log.
enum class [[nodiscard]] EnumUploadResult{
    kOk = 0,
    kPathTooShort = -1,    // the archive path has four characters or fewer
    kNoHandle = -2,        // libcurl gave no handle
    kTransferFailed = -3,  // the transfer failed or the status was not 200
};

// Results of packing. Their numbers reach the log.
enum class [[nodiscard]] EnumPackResult{
    kOk = 0,                  // the archive was made (whatever the upload did)
    kArchiveNotCreated = -1,  // nothing was uploaded
};

// The name the archive carries on the form: the text of `argument` before
// its last '_', then '_', the 17-digit packing time and ".zip". Empty when
// `argument` holds no '_'.
std::string ArchivePartName(const std::wstring& argument, const platform::LocalTime& packingTime);

// The form's file name when none is given: "NoName_", the 17-digit `now`
// and the extension of `filePath` (from its last '.', else ".tmp").
std::string NoNamePartName(const std::string& filePath, const platform::LocalTime& now);

// POSTs the file at `filePath` as multipart form parts "file" (named
// `partFileName`, or the NoName form when empty), "product_id", "version"
// and, when not empty, "catalogue". Bounded: 10 s to connect, 120 s in
// all, and a transfer slower than 1 KiB/s for 30 s is given up.
[[nodiscard]] EnumUploadResult UploadLogFile(const std::string& url, const std::string& filePath,
                                             const std::string& partFileName,
                                             const std::string& productId,
                                             const std::string& version,
                                             const std::string& catalogue);

// Packs the report of the run whose log file is named `argument` in the
// log folder: its copy (<argument>_copy.log, stored as <argument>); with
// `withDump`, the dump <argument>.dmp, or every *.dmp of the folder when
// that one is missing; then `extraFile` when given and present. Uploads the
// archive with catalogue `label` ("default" when empty). The archive and
// the log copy are deleted after a successful upload and kept otherwise.
[[nodiscard]] EnumPackResult PackAndUpload(const std::wstring& argument, const std::string& label,
                                           const std::wstring& extraFile, bool withDump,
                                           const ReportEnvironment& env);

}  // namespace crash

#endif  // WEBSETUP_CRASH_REPORT_UPLOAD_H_
