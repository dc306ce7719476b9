#ifndef WEBSETUP_INSTALL_ERROR_REPORT_H_
#define WEBSETUP_INSTALL_ERROR_REPORT_H_

// Direct error reports to the maker's exception endpoint: report 1 when a
// download is redirected too often, report 2 when the verification of the
// downloaded installer fails. One synchronous POST each (at most 10 s); the
// answer is only logged. Install thread; thread-safe.

#include <cstdint>
#include <string>

#include "config/configure.h"

namespace install {

constexpr char kExceptionPath[] = "/api/exception/send";

// Where the reports go.
struct ReportEnvironment {
  std::string exceptionBase;  // the alert-collection service
  std::string updateComBase;  // the update server's .com host, used under TestEnv
  bool testEnv = false;

  // The process's own: the services file and TestEnv of qm_downloader.cfg.
  static ReportEnvironment FromProcess();
  // The endpoint URL the reports are posted to.
  std::string endpoint() const;
};

// Which check of the downloaded installer failed.
enum class EnumVerifyFailure {
  kMd5,         // MD5 wrong, signature valid
  kSignature,   // MD5 right, signature invalid
  kBoth,        // both wrong
};

// The body of report 1: "pid=<downloader id>&type=2&exception_code=
// Url_Too_Many_Redirects&other=<query URL>,<used URL>", values unencoded.
std::string ErrorReport1Body(const config::CConfigure& record, const std::wstring& usedUrl);

// The body of report 2 for `failure`: pid is the window's downloader id,
// the exception code carries the record's source.
std::string ErrorReport2Body(EnumVerifyFailure failure, int32_t windowDownloaderId,
                             const config::CConfigure& record, const std::wstring& usedUrl);

// Posts report 1 / report 2 and logs the answer. Returns the libcurl result
// (only for the log; the flow goes on either way).
int SendErrorReport1(const config::CConfigure& record, const std::wstring& usedUrl,
                     const ReportEnvironment& env);
int SendErrorReport2(EnumVerifyFailure failure, int32_t windowDownloaderId,
                     const config::CConfigure& record, const std::wstring& usedUrl,
                     const ReportEnvironment& env);

}  // namespace install

#endif  // WEBSETUP_INSTALL_ERROR_REPORT_H_
