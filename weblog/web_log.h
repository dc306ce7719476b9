#ifndef WEBSETUP_WEBLOG_WEB_LOG_H_
#define WEBSETUP_WEBLOG_WEB_LOG_H_

#include <cstdint>
#include <memory>
#include <string>

#include "common/mutex.h"
#include "weblog/curl_http_client.h"
#include "weblog/iweblog.h"
#include "weblog/machine_guid_store.h"
#include "weblog/web_log_endpoints.h"

namespace weblog {

struct WebLogOptions {
  WebLogEndpoints endpoints;
  // Null: the machine's store (MachineRegistryGuidStore()).
  std::shared_ptr<MachineGuidStore> guidStore;
  // Where proxy.txt and test are looked for. Empty: the current directory
  // at construction.
  std::string workingDir;
  // Error log of the HTTP client. Defaults to Logs/.log beside the program.
  std::string errorLogPath = CurlHttpClient::DefaultErrorLogPath();
};

// The web-log object: one operation per kind of report the maker's
// services accept. Made by CreateExportObj (or directly, in this program);
// the setup keeps one for its whole run. The operations may be called from
// several threads at once: the cached identity and location are guarded,
// and the HTTP client keeps each thread's response apart. Pointers handed
// out by GetUserIdentity, QueryTools and QueryDownloader stay valid until
// the next call of the same operation.
class WebLog final : public IWebLog {
 public:
  explicit WebLog(WebLogOptions options);
  WebLog(const WebLog&) = delete;
  WebLog& operator=(const WebLog&) = delete;
  ~WebLog();

  int AddUserLog(int opId, int result, const char* resultData, int softwareId, int languageId,
                 int siteId, const char* curVersion, const char* email, int activityId,
                 int versionId) override;
  int GetUserIdentity(const char** guid, const char** userId) override;
  int Reserved2() override { return -1; }
  int Reserved3() override { return -1; }
  int Reserved4() override { return -1; }
  int Reserved5() override { return -1; }
  int QueryTools(const char** response, int softwareId, int languageId) override;
  int QueryDownloader(const char** response, int softwareId, int languageId,
                      int siteId) override;
  int ReportLog(int softwareId, const char* email, const char* content,
                const char* uploadId) override;
  int SendTicket(int productId, const char* version, const char* email, const char* subject,
                 const char* content, const char* logId) override;
  int SendUaEvent(const char* trackingId, const char* appName, const char* appVersion,
                  const char* category, const char* action, const char* label,
                  const char* extra) override;
  int SoftDataReport(const char* json) override;
  int SendGa4Event(const char* query) override;
  int SelfTest() override;

  // The current base URL of the user-log server.
  std::string LogServerBase() LOCKS_EXCLUDED(mu_);

 private:
  // GETs `url` up to `attempts` times while the transport fails.
  static int GetWithRetries(const std::string& url, int attempts, std::string* body);
  void Bootstrap() LOCKS_EXCLUDED(mu_);
  // Fetches the location when the IP address or the country is unknown.
  void EnsureLocation() LOCKS_EXCLUDED(mu_);
  void ApplyProxyFile();
  // Sends a GET built on the log-server base; the answer is in *body.
  int GetFromLogServer(const std::string& pathAndQuery, std::string* body) LOCKS_EXCLUDED(mu_);
  void RememberSoftwareId(int softwareId) LOCKS_EXCLUDED(mu_);

  WebLogOptions options_;
  std::shared_ptr<MachineGuidStore> store_;
  CurlHttpClient http_;
  const uint32_t constructionTick_;

  common::Mutex mu_;
  std::string machineGuid_ GUARDED_BY(mu_);
  std::string userId_ GUARDED_BY(mu_);
  std::string ip_ GUARDED_BY(mu_);
  std::string country_ GUARDED_BY(mu_);
  std::string city_ GUARDED_BY(mu_);
  uint32_t useTime_ GUARDED_BY(mu_) = 0;
  std::string softwareIdText_ GUARDED_BY(mu_);
  std::string logServerBase_ GUARDED_BY(mu_);
  std::string analyticsUid_ GUARDED_BY(mu_);
  // Handed out by pointer; written only by the operation that hands it out.
  std::string toolsResponse_;
  std::string downloaderResponse_;
};

// The session id shared by every WebLog of the process: 32 hex digits from
// a new GUID, made on the first call; empty (and tried again next time)
// when no GUID can be made. Thread-safe.
std::string SessionId();

// A new GUID as its sixteen bytes; false when none can be made.
bool NewGuidBytes(uint8_t out[16]);

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_WEB_LOG_H_
