#include "weblog/web_log.h"

#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/random.h"
#include "weblog/http_get.h"
#include "weblog/machine_identity.h"
#include "weblog/proxy_file.h"
#include "weblog/url_encoding.h"

namespace weblog {

namespace {

constexpr int kAttempts = 3;
constexpr int kLocationAttempts = 5;
constexpr int kUseTimeOperation = 10202;
constexpr char kFallbackUserId[] = "1001";
constexpr char kBootstrapPath[] = "/downloads/service/softwarelog.txt";
constexpr char kJsonHeader[] = "Content-Type:application/json; charset=utf-8";
// Where a developer's debugging proxy listens for the self-test.
constexpr char kSelfTestProxy[] = "127.0.0.1:8888";

std::string Str(const char* p) { return p == nullptr ? std::string() : std::string(p); }

// A text file on a web server usually ends in a line end; the address and
// the user id are the text before it.
std::string TrimLineEnds(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::string D08(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08d", value);
  return text;
}

std::string CurrentDir() {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  return ec ? std::string() : dir;
}

std::string FormatMachineGuid(const uint8_t b[16]) {
  char text[40];
  const unsigned d1 = (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) |
                      b[3];
  const unsigned d2 = (unsigned(b[4]) << 8) | b[5];
  const unsigned d3 = (unsigned(b[6]) << 8) | b[7];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", d1, d2, d3,
                b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

}  // namespace

bool NewGuidBytes(uint8_t out[16]) {
  if (!platform::fillRandom(out, 16)) return false;
  out[6] = static_cast<uint8_t>((out[6] & 0x0F) | 0x40);  // version 4
  out[8] = static_cast<uint8_t>((out[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return true;
}

WebLog::WebLog(WebLogOptions options)
    : options_(std::move(options)),
      store_(options_.guidStore ? options_.guidStore
                                : std::shared_ptr<MachineGuidStore>(MachineRegistryGuidStore())),
      http_(options_.errorLogPath),
      constructionTick_(platform::tickCount()),
      logServerBase_(options_.endpoints.userLog) {
  if (options_.workingDir.empty()) options_.workingDir = CurrentDir();
}

WebLog::~WebLog() = default;

std::string WebLog::LogServerBase() {
  common::MutexLock lock(&mu_);
  return logServerBase_;
}

int WebLog::GetWithRetries(const std::string& url, int attempts, std::string* body) {
  int rc = -1;
  for (int i = 0; i < attempts && rc != 0; ++i) {
    body->clear();
    rc = HttpGet(url, body);
  }
  return rc;
}

void WebLog::Bootstrap() {
  std::string answer;
  const int rc = GetWithRetries(options_.endpoints.bootstrap + kBootstrapPath, kAttempts, &answer);
  answer = TrimLineEnds(std::move(answer));
  common::MutexLock lock(&mu_);
  if (rc == 0 && !answer.empty() && answer.find("http") != std::string::npos) {
    logServerBase_ = answer;
  } else {
    logServerBase_ = options_.endpoints.userLog;
  }
}

void WebLog::EnsureLocation() {
  {
    common::MutexLock lock(&mu_);
    if (!ip_.empty() && !country_.empty()) return;
  }
  const std::string url = options_.endpoints.geolocation + "/csv";
  for (int i = 0; i < kLocationAttempts; ++i) {
    std::string answer;
    HttpGet(url, &answer);
    Location where;
    if (ParseLocationCsv(answer, &where)) {
      common::MutexLock lock(&mu_);
      ip_ = where.ip;
      country_ = where.country;
      city_ = where.city;
      return;
    }
  }
}

void WebLog::ApplyProxyFile() {
  const std::string proxy = ReadProxyFile(options_.workingDir);
  if (!proxy.empty()) http_.SetProxy(proxy);
}

int WebLog::GetUserIdentity(const char** guid, const char** userId) {
  Bootstrap();
  std::string storedGuid, storedUserId;
  bool lookupNeeded = false;
  if (store_->Read(&storedGuid, &storedUserId)) {
    std::string answer;
    if (GetWithRetries(LogServerBase() + "/QueryUser?guid=" + storedGuid, kAttempts, &answer) !=
        0) {
      // The server is out of reach: keep what this object already knew.
      common::MutexLock lock(&mu_);
      *guid = machineGuid_.c_str();
      *userId = userId_.c_str();
      return 0;
    }
    answer = TrimLineEnds(std::move(answer));
    common::MutexLock lock(&mu_);
    machineGuid_ = storedGuid;
    if (!answer.empty()) {
      userId_ = answer;
      *guid = machineGuid_.c_str();
      *userId = userId_.c_str();
      return 0;
    }
    userId_ = storedUserId;
    lookupNeeded = true;
  } else {
    common::MutexLock lock(&mu_);
    machineGuid_ = storedGuid;
    userId_ = storedUserId;
    lookupNeeded = true;
  }
  if (lookupNeeded) {
    {
      common::MutexLock lock(&mu_);
      uint8_t bytes[16];
      if (machineGuid_.empty() && NewGuidBytes(bytes)) machineGuid_ = FormatMachineGuid(bytes);
    }
    EnsureLocation();
    common::MutexLock lock(&mu_);
    userId_ = kFallbackUserId;
    store_->Write(machineGuid_, userId_);
  }
  common::MutexLock lock(&mu_);
  *guid = machineGuid_.c_str();
  *userId = userId_.c_str();
  return 0;
}

int WebLog::GetFromLogServer(const std::string& pathAndQuery, std::string* body) {
  return GetWithRetries(LogServerBase() + pathAndQuery, 1, body);
}

void WebLog::RememberSoftwareId(int softwareId) {
  common::MutexLock lock(&mu_);
  softwareIdText_ = D08(softwareId);
}

int WebLog::AddUserLog(int opId, int result, const char* resultData, int softwareId, int languageId,
                       int siteId, const char* curVersion, const char* email, int activityId,
                       int versionId) {
  RememberSoftwareId(softwareId);
  {
    common::MutexLock lock(&mu_);
    if (opId == 0 || softwareId == 0 || machineGuid_.empty()) return -1;
    if (opId == kUseTimeOperation) {
      useTime_ = (platform::tickCount() - constructionTick_) / 1000;
    }
  }
  EnsureLocation();
  std::string query;
  {
    common::MutexLock lock(&mu_);
    const std::string useTime = useTime_ == 0 ? std::string() : std::to_string(useTime_);
    query = "/AddUserLog?USER_ID=" + userId_ + "&OP_ID=" + D08(opId) +
            "&SoftWareID=" + D08(softwareId) + "&RegEmail=" + Str(email) + "&UseTime=" + useTime +
            "&Location=" + country_ + "&City=" + city_ + "&OutIP=" + ip_ +
            "&LanguageId=" + D08(languageId) + "&Result=" + D08(result) +
            "&ResultData=" + Str(resultData) + "&SiteID=" + D08(siteId) +
            "&CurVersion=" + Str(curVersion) + "&ActivityID=" + D08(activityId) +
            "&VersionID=" + D08(versionId);
  }
  std::string answer;
  if (GetFromLogServer(query, &answer) != 0 || answer.empty()) return -1;
  return 0;
}

int WebLog::QueryTools(const char** response, int softwareId, int languageId) {
  RememberSoftwareId(softwareId);
  if (softwareId == 0 || languageId == 0) return -1;
  std::string answer;
  const std::string url = LogServerBase() + "/QueryTools?LanguageId=" + D08(languageId) +
                          "&SoftWareID=" + D08(softwareId);
  if (GetWithRetries(url, kAttempts, &answer) != 0) return -1;
  toolsResponse_ = std::move(answer);
  if (response != nullptr) *response = toolsResponse_.c_str();
  return 0;
}

int WebLog::QueryDownloader(const char** response, int softwareId, int languageId, int siteId) {
  RememberSoftwareId(softwareId);
  if (softwareId == 0 || languageId == 0 || siteId == 0) return -1;
  std::string answer;
  const std::string url = LogServerBase() + "/QueryDownloader?LanguageId=" + D08(languageId) +
                          "&SoftWareID=" + D08(softwareId) + "&SiteID=" + D08(siteId);
  if (GetWithRetries(url, kAttempts, &answer) != 0) return -1;
  downloaderResponse_ = std::move(answer);
  if (response != nullptr) *response = downloaderResponse_.c_str();
  return 0;
}

int WebLog::ReportLog(int softwareId, const char* email, const char* content,
                      const char* uploadId) {
  RememberSoftwareId(softwareId);
  if (softwareId == 0) return -1;
  EnsureLocation();
  std::string query;
  {
    common::MutexLock lock(&mu_);
    query = "/ReportLog?USER_ID=" + userId_ + "&SoftWareID=" + D08(softwareId) +
            "&Email=" + Str(email) + "&OutIP=" + ip_ + "&Content=" + FormEncode(Str(content)) +
            "&UploadID=" + Str(uploadId);
  }
  std::string answer;
  if (GetFromLogServer(query, &answer) != 0 || answer.empty()) return -1;
  return 0;
}

int WebLog::SendTicket(int productId, const char* version, const char* email, const char* subject,
                       const char* content, const char* logId) {
  RememberSoftwareId(productId);
  if (productId == 0 || content == nullptr) return -1;
  const std::string body = "product_id=" + D08(productId) + "&useremail=" + Str(email) +
                           "&content=" + content + "&log_id=" + Str(logId) +
                           "&version=" + Str(version) + "&subject=" + Str(subject);
  if (http_.Post(options_.endpoints.ticket + "/api/v1/ticket/feedback", "", body) != 0) return -1;
  if (http_.GetResponseCode() != 200) return -1;
  return http_.GetResponse().find("status\":200") != std::string::npos ? 0 : -1;
}

int WebLog::SendUaEvent(const char* trackingId, const char* appName, const char* appVersion,
                        const char* category, const char* action, const char* label,
                        const char* extra) {
  for (const char* required : {trackingId, appName, appVersion, category, action, extra}) {
    if (required == nullptr || *required == '\0') return -2;
  }
  const std::string body = std::string("v=1&tid=") + trackingId + "&cid=" + ClientId() +
                           "&t=event&ec=" + category + "&ea=" + action + "&el=" + Str(label) +
                           "&an=" + appName + "&av=" + appVersion + extra;
  ApplyProxyFile();
  if (http_.Post(options_.endpoints.universalAnalytics + "/collect", "", body) != 0) return -1;
  const std::string answer = http_.GetResponse();
  if (http_.GetResponseCode() != 200 || answer.empty()) return -1;
  return answer.rfind("GIF", 0) == 0 ? 0 : -3;
}

int WebLog::SendGa4Event(const char* query) {
  if (query == nullptr || *query == '\0') return -2;
  const std::string url =
      options_.endpoints.ga4 + "/g/collect?v=2&cid=" + ClientId() + Ga4PercentEncode(query);
  ApplyProxyFile();
  if (http_.Post(url, kJsonHeader, "") != 0) return -3;
  return http_.GetResponseCode() == 204 ? 0 : -1;
}

int WebLog::SelfTest() {
  // Six hits on threads of their own through a developer's debugging proxy,
  // so that the proxy shows what the real requests look like.
  CurlHttpClient client(options_.errorLogPath);
  client.SetProxy(kSelfTestProxy);
  const std::string base = options_.endpoints.ga4 + "/g/collect?v=2&cid=" + ClientId();
  std::vector<std::thread> threads;
  std::vector<int> results(6, -1);
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&, i] {
      results[i] = client.Post(base + "&en=SelfTest" + std::to_string(i), kJsonHeader, "");
    });
  }
  int failures = 0;
  for (int i = 0; i < 6; ++i) {
    threads[i].join();
    if (results[i] != 0) ++failures;
  }
  return failures;
}

}  // namespace weblog
