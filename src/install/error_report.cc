#include "install/error_report.h"

#include <cstdio>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "config/services.h"
#include "engine/libcurl_tool.h"
#include "system/system_facts.h"

namespace install {

namespace {

// The collector accepts bodies of these sizes (terminator included); a
// longer text is cut there rather than written past a buffer.
constexpr size_t kReport1Limit = 2048;
constexpr size_t kReport2Limit = 1024;

template <typename... Args>
std::string formatBounded(size_t limit, const char* format, Args... args) {
  std::vector<char> buffer(limit, '\0');
  const int wanted = std::snprintf(buffer.data(), limit, format, args...);
  if (wanted < 0) return std::string();
  if (static_cast<size_t>(wanted) >= limit) {
    LOG(INFO) << " error report body of " << wanted << " bytes cut to " << limit - 1;
  }
  return std::string(buffer.data());
}

const char* exceptionCode(EnumVerifyFailure failure) {
  switch (failure) {
    case EnumVerifyFailure::kMd5: return "MD5_Check_Fail_Cfg";
    case EnumVerifyFailure::kSignature: return "Hash_Check_Fail_Cfg";
    case EnumVerifyFailure::kBoth: return "MD5_Hash_Check_Fail_Cfg";
  }
  return "MD5_Hash_Check_Fail_Cfg";
}

int post(const std::string& body, const ReportEnvironment& env, const char* logPrefix) {
  std::string response;
  int code = 0;
  {
    engine::CLibcurlTool curl;
    code = curl.HttpPost(env.endpoint(), body, &response, std::string());
  }
  LOG(INFO) << logPrefix << response << ", return " << code;
  return code;
}

}  // namespace

ReportEnvironment ReportEnvironment::FromProcess() {
  const config::Services& services = config::processServices();
  ReportEnvironment env;
  env.exceptionBase = services.url(config::service::kException);
  env.updateComBase = services.url(config::service::kUpdateCom);
  env.testEnv = FuntionImpl::IsTestEnv();
  return env;
}

std::string ReportEnvironment::endpoint() const {
  return (testEnv ? updateComBase : exceptionBase) + kExceptionPath;
}

std::string ErrorReport1Body(const config::CConfigure& record, const std::wstring& usedUrl) {
  const std::string queryUrl = record.getQueryUrl();
  const std::string used = common::wideToUtf8(usedUrl);
  return formatBounded(kReport1Limit,
                       "pid=%d&type=2&exception_code=Url_Too_Many_Redirects&other=%s,%s",
                       record.downloaderId, queryUrl.c_str(), used.c_str());
}

std::string ErrorReport2Body(EnumVerifyFailure failure, int32_t windowDownloaderId,
                             const config::CConfigure& record, const std::wstring& usedUrl) {
  const std::string queryUrl = record.getQueryUrl();
  const std::string used = common::wideToUtf8(usedUrl);
  return formatBounded(kReport2Limit, "pid=%d&type=2&exception_code=%s%d&other=%s,%s",
                       windowDownloaderId, exceptionCode(failure), record.source,
                       queryUrl.c_str(), used.c_str());
}

int SendErrorReport1(const config::CConfigure& record, const std::wstring& usedUrl,
                     const ReportEnvironment& env) {
  return post(ErrorReport1Body(record, usedUrl), env, " Send error report1, response is ");
}

int SendErrorReport2(EnumVerifyFailure failure, int32_t windowDownloaderId,
                     const config::CConfigure& record, const std::wstring& usedUrl,
                     const ReportEnvironment& env) {
  return post(ErrorReport2Body(failure, windowDownloaderId, record, usedUrl), env,
              " Send error report2, response is ");
}

}  // namespace install
