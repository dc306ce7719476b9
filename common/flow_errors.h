#ifndef WEBSETUP_COMMON_FLOW_ERRORS_H_
#define WEBSETUP_COMMON_FLOW_ERRORS_H_

// The flow error codes: each is raised once where its condition occurs, as
// the event ("Other", "FlowError", code). The maker's dashboards count them
// by these texts, so a code never changes meaning; new ones go at the end.

namespace common::flow {

inline constexpr char kCategory[] = "Other";
inline constexpr char kAction[] = "FlowError";

inline constexpr char kQueryTimedOut[] = "DL002";        // configuration query timed out
inline constexpr char kQueryHostUnresolved[] = "DL003";  // configuration host not resolved
inline constexpr char kNoSpace[] = "DL008";              // a drive is short of space
inline constexpr char kInstallDirNotCreated[] = "DL009";
inline constexpr char kNetworkDown[] = "DL010";          // download result 9
inline constexpr char kNoProgress[] = "DL011";           // download result 10
inline constexpr char kNoContentLength[] = "DL012";      // download result 6
inline constexpr char kMd5Mismatch[] = "DL013";          // signature valid
inline constexpr char kSignatureInvalid[] = "DL014";     // MD5 right
inline constexpr char kBothInvalid[] = "DL015";          // MD5 and signature wrong
inline constexpr char kInstallerTimedOut[] = "DL016";    // also: installer not started
inline constexpr char kDownloadOther[] = "DL017";        // any other download result
inline constexpr char kProductNotStarted[] = "DL019";
inline constexpr char kTooManyRedirects[] = "DL022";     // download result 13
inline constexpr char kNoDownloadUrl[] = "DL023";
inline constexpr char kProductRunning[] = "DL024";
inline constexpr char kTaskSizeChanged[] = "DL025";      // loaded task file: size differs
inline constexpr char kTaskLayout[] = "DL026";           // loaded task file: segments misplaced
inline constexpr char kFileNotOpened[] = "DL027";        // download result 7
inline constexpr char kNoWorkerThread[] = "DL028";       // download result 8
inline constexpr char kLengthShort[] = "DL030";          // download result 12
inline constexpr char kFileTooSmall[] = "DL031";         // download result 15
inline constexpr char kInstallerFailed[] = "DL032";      // installer exit code not 0 or 8
inline constexpr char kInstallThreadFailed[] = "DL033";  // the install thread ended by an exception

}  // namespace common::flow

#endif  // WEBSETUP_COMMON_FLOW_ERRORS_H_
