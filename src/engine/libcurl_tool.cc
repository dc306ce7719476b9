#include "engine/libcurl_tool.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/log.h"
#include "common/text.h"
#include "engine/download_thread.h"
#include "net/transport_policy.h"

namespace engine {
namespace {

constexpr char kUserAgent[] =
    "User-Agent:Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/62.0.3202.75 Safari/537.36";

// Bigger reads mean fewer write callbacks, so fewer lock round trips and
// positioned writes per byte.
constexpr long kReceiveBuffer = 512 * 1024;

constexpr long kLowSpeedBytesPerSecond = 1024;
constexpr long kLowSpeedSeconds = 20;

size_t appendToString(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// A text answer (configuration, banner list, report reply) is a few KiB; a
// server that sends more is broken or hostile, and the answer is dropped
// instead of being held in memory.
struct CappedText {
  std::string text;
  bool tooLong = false;
};

size_t appendCapped(char* data, size_t size, size_t count, void* out) {
  auto* capped = static_cast<CappedText*>(out);
  const size_t n = size * count;
  if (capped->text.size() + n > CLibcurlTool::kMaxTextAnswer) {
    capped->tooLong = true;
    return 0;
  }
  capped->text.append(data, n);
  return n;
}

void capTextAnswer(CURL* curl, CappedText* body) {
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &appendCapped);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(CLibcurlTool::kMaxTextAnswer));
}

// What a capped transfer ends with: an answer over the cap fails as a whole.
CURLcode cappedResult(CURLcode result, CappedText* body) {
  if (!body->tooLong && result != CURLE_FILESIZE_EXCEEDED) return result;
  LOG(INFO) << " Answer longer than " << CLibcurlTool::kMaxTextAnswer << " bytes dropped";
  body->text.clear();
  return CURLE_FILESIZE_EXCEEDED;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

std::string_view untilLineEnd(std::string_view text) {
  const size_t end = text.find("\r\n");
  return end == std::string_view::npos ? text : text.substr(0, end);
}

std::string headerValue(std::string_view line, size_t nameLength) {
  std::string_view value = untilLineEnd(line.substr(nameLength));
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return std::string(value);
}

// Follows the status line, Content-Range and validators of each response,
// whatever their capitalisation, so the body can be checked before it is
// written.
void trackResponse(std::string_view line, SegmentTransfer* t) {
  if (startsWithNoCase(line, "HTTP/")) {
    t->status = 0;
    t->rangeStart = -1;
    t->etag.clear();
    t->lastModified.clear();
    const size_t blank = line.find(' ');
    if (blank != std::string_view::npos) t->status = static_cast<long>(common::parseLeadingDigits(line.substr(blank)));
  } else if (startsWithNoCase(line, "Content-Range:")) {
    std::string_view value = line.substr(14);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (startsWithNoCase(value, "bytes")) {
      value.remove_prefix(5);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      if (!value.empty() && value.front() >= '0' && value.front() <= '9') t->rangeStart = common::parseLeadingDigits(value);
    }
  } else if (startsWithNoCase(line, "ETag:")) {
    t->etag = headerValue(line, 5);
  } else if (startsWithNoCase(line, "Last-Modified:")) {
    t->lastModified = headerValue(line, 14);
  }
}

// Whether the response comes from another version of the file than the
// one `validator` names. The response's own validator decides when it
// sends one. Without one, a 200 to a range that does not start at 0 is
// what a server that honours If-Range sends for a changed file.
bool answerIsOtherVersion(const SegmentTransfer& t, const std::string& validator) {
  const bool entityTag = !validator.empty() && validator.front() == '"';
  const std::string& seen = entityTag ? t.etag : t.lastModified;
  if (!seen.empty()) return seen != validator;
  return t.status == 200 && t.requestedFrom > 0;
}

// Whether the response now delivering its body may be written at the
// requested position: a 206 must start there, a 200 carries the file from
// its first byte and so only fits a range that starts at 0.
bool bodyFitsRange(const SegmentTransfer& t) {
  if (t.status == 206) return t.rangeStart == t.requestedFrom;
  if (t.status == 200) return t.requestedFrom == 0;
  return false;
}

}  // namespace

CLibcurlTool::CLibcurlTool() : curl_(curl_easy_init()) {}

CLibcurlTool::~CLibcurlTool() {
  if (curl_ != nullptr) curl_easy_cleanup(curl_);
}

int CLibcurlTool::httpDownloadContent(const char* url, int64_t from, int64_t to, int64_t /*spare*/,
                                      CDownloadThread* thread) {
  if (curl_ == nullptr) {
    LOG(INFO) << " curl easy init fail !!!";
    return CURLE_FAILED_INIT;
  }
  CTask* task = thread->currentTask();
  const std::string range = std::to_string(from) + "-" + std::to_string(to);
  if (task != nullptr && task->logFlag) {
    LOG(INFO) << " Request Range: (" << task->id.load() << ", " << static_cast<int32_t>(to - from)
              << ") " << range;
  }
  SegmentTransfer& transfer = thread->transfer();
  transfer.requestedFrom = from;
  transfer.requestedTo = to;
  curl_easy_reset(curl_);
  curl_slist* headers = curl_slist_append(nullptr, kUserAgent);
  // With the validator the server gave, a changed file answers with all of
  // its new bytes (200) instead of a range of them, so no byte of it is
  // written into the old one.
  if (task != nullptr && !task->validator.empty()) {
    headers = curl_slist_append(headers, ("If-Range: " + task->validator).c_str());
    transfer.ifRangeSent = true;
  }
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl_, CURLOPT_URL, url);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_RANGE, range.c_str());
  curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CLibcurlTool::downloadFunc);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, thread);
  curl_easy_setopt(curl_, CURLOPT_HEADERDATA, thread);
  curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &CLibcurlTool::HeaderCallback);
  // A request runs as long as bytes flow: one may cover many segments, and
  // on a slow link a whole-transfer limit would cut every one of them.
  // A connection that has dropped below 1 KiB/s for 20 s is given up.
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT, 3L);
  curl_easy_setopt(curl_, CURLOPT_BUFFERSIZE, kReceiveBuffer);
  // A stopped download must not wait for a stalled segment's time limit.
  curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CLibcurlTool::abortCheck);
  curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, thread);
  curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
  const CURLcode tls = net::ApplyTransportPolicy(curl_, url);
  CURLcode result = tls;
  if (tls == CURLE_OK) result = curl_easy_perform(curl_);
  net::LogTransportFailure(curl_, result, url);
  // The handle keeps a pointer to the list until the next reset; nothing
  // reads it after perform, so it can go now.
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);
  if (result != CURLE_OK) figureError(result);
  return result;
}

int CLibcurlTool::httpGet(const char* url, int64_t /*from*/, int64_t /*to*/, int32_t /*n*/,
                          std::string* headerText, long* status) {
  if (curl_ == nullptr) {
    LOG(INFO) << " curl easy init fail !!!";
    return CURLE_FAILED_INIT;
  }
  std::string text;
  curl_easy_reset(curl_);
  curl_easy_setopt(curl_, CURLOPT_URL, url);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl_, CURLOPT_HEADER, 1L);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &appendToString);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &text);
  const CURLcode tls = net::ApplyTransportPolicy(curl_, url);
  if (tls != CURLE_OK) {
    figureError(tls);
    return tls;
  }
  const CURLcode result = curl_easy_perform(curl_);
  net::LogTransportFailure(curl_, result, url);
  long code = 0;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &code);
  if (status != nullptr) *status = code;
  if (headerText != nullptr) *headerText = std::move(text);
  if (result != CURLE_OK) figureError(result);
  return result;
}

int CLibcurlTool::httpGet(const char* url, std::string* headerText, long* status) {
  return httpGet(url, 0, 0, 0, headerText, status);
}

int CLibcurlTool::httpGet(const char* url, std::string& out, bool /*flag*/) {
  if (curl_ == nullptr) {
    LOG(INFO) << " curl easy init fail !!!";
    return CURLE_FAILED_INIT;
  }
  CappedText body;
  curl_easy_reset(curl_);
  curl_easy_setopt(curl_, CURLOPT_URL, url);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(curl_, CURLOPT_HEADER, 0L);
  curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 5L);
  capTextAnswer(curl_, &body);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 5L);
  const CURLcode tls = net::ApplyTransportPolicy(curl_, url);
  if (tls != CURLE_OK) return tls;
  const CURLcode result = cappedResult(curl_easy_perform(curl_), &body);
  net::LogTransportFailure(curl_, result, url);
  out = std::move(body.text);
  return result;
}

int CLibcurlTool::HttpPost(const std::string& url, const std::string& body, std::string* response,
                           const std::string& /*extra*/) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    LOG(INFO) << " curl easy init fail !!!";
    return CURLE_FAILED_INIT;
  }
  CappedText reply;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, nullptr);
  capTextAnswer(curl, &reply);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 8L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  CURLcode result = net::ApplyTransportPolicy(curl, url);
  if (result == CURLE_OK) result = cappedResult(curl_easy_perform(curl), &reply);
  net::LogTransportFailure(curl, result, url);
  curl_easy_cleanup(curl);
  if (response != nullptr) *response = std::move(reply.text);
  return result;
}

std::string CLibcurlTool::errorText(int code) {
  switch (code) {
    case 1: return " ProtoControl Unsupport!";
    case 2: return " Init Failed!";
    case 3: return " Curl RemotePath Error";
    case 4: return " libcurl InitFailed，Please Try again!";
    case 5: return " Cannt resovlve proxy!";
    case 6: return " cannt resovlve server!";
    case 7: return " Curl Connect Server Error";
    case 8: return " FTP服务器非法回复";
    case 9: return " Acess Denied!";
    case 10: return " FTP连接失败";
    case 11: return " FTP服务器未知回复";
    case 12: return " FTP连接超时";
    case 13:
    case 14: return " Curl unknow error!";
    case 15: return " 内部故障";
    case 16: return " HTTP2错误";
    case 17: return " FTP获取传输类型失败";
    case 18: return " 服务器返回文件大小非法";
    case 22: return " HTTP请求错误";
    case 23: return " 接收数据错误";
    case 25: return " 上传数据错误";
    case 26: return " 本地文件读取错误";
    case 27: return " 内存不足";
    case 28: return " Curl Time out";
    case 30: return " FTP端口失败";
    case 33: return " 请求的数据范围错误";
    default: return " Curl Else Error: " + std::to_string(code);
  }
}

int CLibcurlTool::figureError(int code) {
  LOG(INFO) << errorText(code);
  return 1;
}

int CLibcurlTool::abortCheck(void* worker, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<CDownloadThread*>(worker)->aborted() ? 1 : 0;
}

namespace {

// Where the next byte of `task` goes: one past the end position once a
// middle segment's last byte is in (its downloaded position stays on that
// byte).
int64_t nextWritePosition(const CTask* task, const SegmentTransfer& t) {
  return t.reachedEnd ? task->downloaded() + 1 : task->downloaded();
}

// Writes what fits of `data` into `task`, never past its last byte.
// Returns the count written.
size_t writeIntoSegment(CDownloadThread* thread, CTask* task, const char* data, size_t n) {
  SegmentTransfer& t = thread->transfer();
  const int64_t at = nextWritePosition(task, t);
  const int64_t room = task->writeLimit() - at;
  const size_t take = room <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(n)));
  if (take == 0) return 0;
  platform::NamedMutex* mu = thread->sharedHandle();
  mu->lock();
  const size_t written = thread->file()->writeAt(at, data, take);
  mu->unlock();
  const int64_t next = at + static_cast<int64_t>(written);
  if (!task->isLastSegment() && next == task->end() + 1) {
    t.reachedEnd = true;
    task->downloadedPos.store(task->end(), std::memory_order_relaxed);
    // The request runs on: this segment is done now, not when the request
    // ends, possibly many segments later.
    if (t.requestedTo > task->end()) thread->segmentFilled(task);
  } else {
    task->downloadedPos.store(next, std::memory_order_relaxed);
  }
  return written;
}

}  // namespace

size_t CLibcurlTool::downloadFunc(char* data, size_t size, size_t count, void* worker) {
  auto* thread = static_cast<CDownloadThread*>(worker);
  CTask* task = thread->currentTask();
  SegmentTransfer& t = thread->transfer();
  const size_t n = size * count;
  if (task == nullptr || t.rejected || thread->aborted()) return 0;
  if (!t.bodyChecked) {
    t.bodyChecked = true;
    if (t.ifRangeSent && answerIsOtherVersion(t, task->validator)) {
      t.rejected = true;
      LOG(INFO) << " Segment answer from a changed file, id = " << task->id.load()
                << ", status = " << t.status << ", validator " << task->validator << " now "
                << (t.etag.empty() ? t.lastModified : t.etag);
      thread->reportRemoteChanged();
      return 0;
    }
    if (!bodyFitsRange(t)) {
      t.rejected = true;
      LOG(INFO) << " Segment answer rejected, id = " << task->id.load() << ", status = " << t.status
                << ", range start = " << t.rangeStart << ", wanted " << t.requestedFrom;
      return 0;
    }
  }
  size_t written = 0;
  while (written < n) {
    if (nextWritePosition(task, t) >= task->writeLimit()) {
      // The segment is whole; the rest of the chunk belongs to the next
      // one, if the request was meant to run on into it.
      CTask* next = thread->enterNextSegment();
      if (next == nullptr) {
        t.endedAtBoundary = !task->isLastSegment() && t.requestedTo > task->end();
        break;
      }
      task = next;
      continue;
    }
    const size_t put = writeIntoSegment(thread, task, data + written, n - written);
    if (put == 0) break;
    written += put;
  }
  t.bytesWritten += static_cast<int64_t>(written);
  if (written != n && !t.endedAtBoundary) {
    LOG(INFO) << " Thread: " << task->id.load() << " Write Error. Task id：" << task->id.load()
              << " Download to:" << task->downloaded() << " Receive:" << n << " Write:" << written
              << " Task EndPos:" << task->end();
  }
  return written;
}

size_t CLibcurlTool::HeaderCallback(char* line, size_t size, size_t count, void* worker) {
  const size_t n = size * count;
  auto* thread = static_cast<CDownloadThread*>(worker);
  CTask* task = thread == nullptr ? nullptr : thread->currentTask();
  if (line == nullptr || task == nullptr) return n;
  const std::string_view text(line, n);
  trackResponse(text, &thread->transfer());
  if (task->length() == 0) return n;

  auto dropIfProbeCdn = [task] {
    if (task->segmentCdn == task->probeCdn) task->segmentCdn.clear();
  };
  if (text.find("CF-RAY:") != std::string_view::npos) {
    const size_t dash = text.find('-', 7);
    if (dash != std::string_view::npos) {
      const std::string dc(untilLineEnd(text.substr(dash + 1)));
      task->segmentCdn = task->segmentCdn.empty() ? dc : dc + "/" + task->segmentCdn;
    }
    dropIfProbeCdn();
    return n;
  }
  if (text.find("CF-Cache-Status:") != std::string_view::npos) {
    const std::string status(text.size() > 17 ? untilLineEnd(text.substr(17)) : std::string_view());
    task->segmentCdn = task->segmentCdn.empty() ? status : task->segmentCdn + "/" + status;
    dropIfProbeCdn();
    return n;
  }
  if (text.find("Content-Range") != std::string_view::npos) {
    const size_t slash = text.rfind('/');
    if (slash == std::string_view::npos) {
      LOG(INFO) << " HeaderCallback error2: " << text;
      return 0;
    }
    const int64_t total = common::parseLeadingDigits(text.substr(slash + 1));
    if (total != task->length()) {
      LOG(INFO) << " HeaderCallback error1: " << task->length() << " != " << text;
      return 0;
    }
  }
  return n;
}

}  // namespace engine
