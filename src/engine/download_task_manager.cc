#include "engine/download_task_manager.h"

#include <curl/curl.h>
#include <tinyxml2.h>

#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

#include "common/events.h"
#include "common/log.h"
#include "common/text.h"
#include "engine/content_length_cache.h"
#include "engine/libcurl_tool.h"
#include "platform/files.h"

namespace engine {
namespace {

constexpr size_t npos = std::string::npos;

std::string lineFrom(const std::string& text, size_t from) {
  if (from > text.size()) return std::string();
  const size_t end = text.find("\r\n", from);
  return text.substr(from, end == npos ? npos : end - from);
}

// A Location target relative to the URL that answered becomes absolute, so
// the next probe asks the same server; absolute targets stay as they are.
std::string resolveLocation(const std::string& base, const std::string& target) {
  CURLU* url = curl_url();
  if (url == nullptr) return target;
  std::string resolved = target;
  if (curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, target.c_str(), 0) == CURLUE_OK) {
    char* text = nullptr;
    if (curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK && text != nullptr) resolved = text;
    curl_free(text);
  }
  curl_url_cleanup(url);
  return resolved;
}

void addNumber(tinyxml2::XMLDocument* doc, tinyxml2::XMLElement* parent, const char* name,
               int64_t value) {
  parent->InsertEndChild(doc->NewElement(name))->ToElement()->SetText(value);
}

void addText(tinyxml2::XMLDocument* doc, tinyxml2::XMLElement* parent, const char* name,
             const std::string& value) {
  parent->InsertEndChild(doc->NewElement(name))->ToElement()->SetText(value.c_str());
}

void raiseFlowError(const char* code) { common::Events().Event("Other", "FlowError", code, false); }

bool startsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (at + i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// The value of header `name` (given with its colon) in the response block
// text[from, to), whatever its capitalisation; empty when absent.
std::string headerIn(const std::string& text, size_t from, size_t to, const char* name) {
  for (size_t line = from; line < to;) {
    const size_t end = std::min(text.find("\r\n", line), to);
    if (startsWithNoCase(text, line, name)) {
      std::string value = text.substr(line + std::strlen(name), end - line - std::strlen(name));
      const size_t first = value.find_first_not_of(" \t");
      const size_t last = value.find_last_not_of(" \t");
      return first == npos ? std::string() : value.substr(first, last - first + 1);
    }
    if (end == npos || end >= to) break;
    line = end + 2;
  }
  return std::string();
}

// Only the last response of a redirect chain describes the file.
std::string validatorOf(const std::string& h) {
  size_t block = 0;
  for (size_t at = h.find("\r\nHTTP/"); at != npos; at = h.find("\r\nHTTP/", at + 2)) block = at + 2;
  const std::string etag = headerIn(h, block, h.size(), "ETag:");
  if (!etag.empty() && etag.front() == '"') return etag;
  return headerIn(h, block, h.size(), "Last-Modified:");
}

}  // namespace

std::vector<SegmentBounds> segmentLayout(int64_t contentLength) {
  // 64-bit arithmetic throughout: for files under 2 GiB this is the same
  // layout 32-bit positions give, and larger files get one too.
  const int64_t n = std::max<int64_t>(1, contentLength / kSegmentSize);
  std::vector<SegmentBounds> out;
  out.reserve(static_cast<size_t>(n));
  for (int64_t i = 1; i <= n; ++i) {
    out.push_back({(i - 1) * kSegmentSize, i == n ? contentLength : i * kSegmentSize - 1});
  }
  return out;
}

ProbeAnswer readProbeAnswer(const std::string& h) {
  ProbeAnswer a;
  const size_t cache = h.find("CF-Cache-Status:");
  const size_t ray = h.find("CF-RAY:");
  const size_t dash = ray == npos ? npos : h.find('-', ray + 7);
  const size_t xcache = h.find("X-Cache: ");
  if (cache != npos && ray != npos && dash != npos) {
    a.cloudflare = true;
    a.cfCacheStatus = lineFrom(h, cache + 16);
    a.cfDataCentre = lineFrom(h, dash + 1);
  } else if (xcache != npos) {
    a.xCache = true;
    a.xCacheText = lineFrom(h, xcache + 9);
  }
  const size_t location = h.find("Location:");
  if (location != npos) {
    a.hasLocation = true;
    a.location = lineFrom(h, location + 10);
  }
  const size_t range = h.find("Content-Range:");
  const size_t length = h.find("Content-Length:");
  if (range != npos) {
    a.hasLength = true;
    const size_t server = h.find("Server:");
    const size_t spanEnd = (server == npos || server < range) ? h.size() : server;
    const size_t slash = h.find('/', range);
    if (slash != npos && slash < spanEnd) a.length = common::parseLeadingDigits(std::string_view(h).substr(slash + 1));
  } else if (length != npos) {
    a.hasLength = true;
    a.length = common::parseLeadingDigits(std::string_view(h).substr(length + 15));
  }
  a.validator = validatorOf(h);
  return a;
}

CDownloadTaskManager::CDownloadTaskManager(const std::string& remotePath,
                                           const std::string& localPath,
                                           const std::string& taskFilePath)
    : taskFilePath_(taskFilePath), remotePath_(remotePath), localPath_(localPath) {}

bool CDownloadTaskManager::taskFileExists() const { return platform::fileReadable(taskFilePath_); }

void CDownloadTaskManager::discardTaskFile() {
  LOG(INFO) << " taskinfo file error";
  clearTasks();
  // Either file may stay behind harmlessly: without its task file the
  // download file is written again from zero, and a task file whose
  // download file is gone fails the size check of the next load.
  (void)platform::deleteFile(localPath_);
  (void)platform::deleteFile(taskFilePath_);
  contentLength_ = 0;
  downloadTime_ = 0;
  validator_.clear();
}

int CDownloadTaskManager::loadDownloadTask(int flag, const std::string& label, int logFlag) {
  if (taskFileExists()) {
    const bool noStatus = loadTaskFromFile(logFlag);
    const int check = checkLoadedTasks(logFlag);
    if (check == kErrNoContentLength || check == kErrTooManyRedirects) {
      LOG(INFO) << " [Error]: " << "no size from the server; the task file is kept";
      clearTasks();
      return check;
    }
    if (check == kErrSuccess) {
      if (localFileHoldsTasks()) {
        LOG(INFO) << " Load tasks from file success!";
        if (!noStatus) common::Events().FunnelPair("Download", "ResumUpload", "", "");
        return kErrSuccess;
      }
      LOG(INFO) << " local file holds fewer bytes than its task file records";
    }
    discardTaskFile();
  }
  return generateDownloadTask(flag, label, logFlag);
}

bool CDownloadTaskManager::localFileHoldsTasks() const {
  int64_t needed = 0;
  for (const auto& t : all_) {
    int64_t extent = t->downloaded() > t->start() ? t->downloaded() : 0;
    if (t->status.load() == kTaskComplete) extent = t->writeLimit();
    needed = std::max(needed, extent);
  }
  return needed == 0 || platform::fileSize(localPath_) >= needed;
}

int CDownloadTaskManager::generateDownloadTask(int /*flag*/, const std::string& label, int logFlag) {
  std::string cdn;
  std::vector<std::string> results;
  int64_t length = 0;
  int code = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    length = getContentLength(&code, &cdn, logFlag);
    if (length > kMaxContentLength) length = 0;  // the layout would not fit in memory
    if (length > 0) {
      results.push_back("Success");
      break;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "error:%d", code);
    results.push_back(text);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  while (results.size() < 10) results.push_back("Null");
  if (!label.empty()) {
    std::string joined;
    for (size_t i = 0; i < results.size(); ++i) joined += (i ? "/" : "") + results[i];
    common::Events().Event("Other", "Download", joined, false);
    LOG(INFO) << " GetSize: " << label << ", " << joined;
  }
  if (length <= 0) {
    LOG(INFO) << " [Error]: " << "Get ContentLength Fail, tried 5 times";
    return code == CURLE_TOO_MANY_REDIRECTS ? kErrTooManyRedirects : kErrNoContentLength;
  }
  contentLength_ = length;
  const std::vector<SegmentBounds> layout = segmentLayout(length);
  tasksCount_ = static_cast<int32_t>(layout.size());
  for (size_t i = 0; i < layout.size(); ++i) {
    auto task = std::make_unique<CTask>();
    task->id = static_cast<int32_t>(i + 1);
    task->startPos = layout[i].start;
    task->endPos = layout[i].end;
    task->downloadedPos = layout[i].start;
    task->contentLength = length;
    task->remotePath = remotePath_;
    task->localPath = localPath_;
    task->probeCdn = cdn;
    task->validator = validator_;
    task->logFlag = logFlag;
    addTask(std::move(task));
  }
  if (logFlag) {
    LOG(INFO) << " Tasks info, generate ok, total " << all_.size() << ", todo " << waitingCount()
              << ", complete " << handed_.size();
  }
  return kErrSuccess;
}

int64_t CDownloadTaskManager::getContentLength(int* code, std::string* cdn, int logFlag) {
  const int64_t cached = LookupContentLength(remotePath_);
  if (cached != 0) {
    cdn->clear();
    return cached;
  }
  *code = 0;
  CLibcurlTool tool;
  for (int step = 0;; ++step) {
    if (step >= CLibcurlTool::kMaxProbeSteps) {
      // An answer that keeps pointing somewhere (even at itself) with a
      // 200 would otherwise be probed forever.
      LOG(INFO) << " [Error]: " << "probe gave up after " << step << " Location answers";
      *code = CURLE_TOO_MANY_REDIRECTS;
      cdn->clear();
      return 0;
    }
    std::string text;
    long status = 0;
    LOG(INFO) << " before getContentLength GetHeader";
    *code = tool.httpGet(remotePath_.c_str(), &text, &status);
    LOG(INFO) << " after getContentLength GetHeader";
    const ProbeAnswer a = readProbeAnswer(text);
    if (a.cloudflare) {
      LOG(INFO) << " Cdn result: " << a.cfCacheStatus << ", " << a.cfDataCentre;
      common::Events().Event("Download", "3.CDNStatus", a.cfDataCentre + "/" + a.cfCacheStatus, false);
    } else if (a.xCache) {
      *cdn = a.xCacheText;
      LOG(INFO) << " Cdn result: " << *cdn;
      common::Events().Event("Download", "3.CDNStatus", *cdn, false);
    }
    if (status != 200) {
      cdn->clear();
      return 0;
    }
    if (a.hasLocation) {
      remotePath_ = resolveLocation(remotePath_, a.location);
      continue;
    }
    if (!a.hasLength) return 0;
    if (a.length > kMaxContentLength) {
      LOG(INFO) << " [Error]: " << "server claims " << a.length << " bytes, more than any installer";
      return 0;
    }
    if (logFlag) LOG(INFO) << " Get Contentlength = " << a.length;
    validator_ = a.validator;
    RememberContentLength(remotePath_, a.length);
    return a.length;
  }
}

bool CDownloadTaskManager::loadTaskFromFile(int logFlag) {
  tinyxml2::XMLDocument doc;
  if (taskFileExists()) doc.LoadFile(taskFilePath_.c_str());
  bool noStatus = true;
  loadedInBounds_ = true;
  // Every number is bounded here, before anything sizes memory or requests
  // by it: the file is outside input, and its positions and length reach
  // the layout check only as plain int64 values.
  const auto bounded = [this](int64_t v, int64_t max) {
    if (v < 0 || v > max) loadedInBounds_ = false;
    return loadedInBounds_;
  };
  // A number that does not parse (too many digits, not a number) is as
  // unsound as one out of bounds.
  const auto read64 = [this](const tinyxml2::XMLElement* e, int64_t* out) {
    if (e->QueryInt64Text(out) != tinyxml2::XML_SUCCESS) loadedInBounds_ = false;
  };
  const tinyxml2::XMLElement* root = doc.FirstChildElement();
  for (const tinyxml2::XMLElement* e = root ? root->FirstChildElement() : nullptr;
       e && loadedInBounds_; e = e->NextSiblingElement()) {
    const std::string name = e->Name();
    if (name == "TasksCount") {
      int64_t count = 0;
      read64(e, &count);
      if (bounded(count, kMaxSegments)) tasksCount_ = static_cast<int32_t>(count);
    } else if (name == "ContentLength") {
      read64(e, &contentLength_);
      bounded(contentLength_, kMaxContentLength);
    } else if (name == "DownloadTime") {
      read64(e, &downloadTime_);
      bounded(downloadTime_, std::numeric_limits<int64_t>::max() / 2);
    } else if (name == "Validator") {
      validator_ = e->GetText() ? e->GetText() : "";
    } else if (name == "Task") {
      if (!bounded(int64_t(all_.size()) + 1, kMaxSegments)) break;
      auto task = std::make_unique<CTask>();
      for (const tinyxml2::XMLElement* f = e->FirstChildElement(); f; f = f->NextSiblingElement()) {
        const std::string field = f->Name();
        int64_t v64 = 0;
        int v32 = 0;
        if (field == "StartPos") {
          read64(f, &v64);
          task->startPos = v64;
        } else if (field == "EndPos") {
          read64(f, &v64);
          task->endPos = v64;
        } else if (field == "DownloadedPos") {
          read64(f, &v64);
          task->downloadedPos = v64;
        } else if (field == "RemotePath") {
          // The file's ContentLength is not remembered for this URL: only
          // a server's answer in this process may vouch for a size.
          task->remotePath = f->GetText() ? f->GetText() : "";
        } else if (field == "LocalPath") {
          task->localPath = f->GetText() ? f->GetText() : "";
        } else if (field == "TaskStatus") {
          noStatus = false;
          if (f->QueryIntText(&v32) == tinyxml2::XML_SUCCESS) task->status = v32;
        } else if (field == "TaskId" && f->QueryIntText(&v32) == tinyxml2::XML_SUCCESS) {
          task->id = v32;
        } else if (field == "RequestTimes") {
          task->requestTimes = 0;
        }
      }
      bounded(task->start(), kMaxContentLength);
      bounded(task->end(), kMaxContentLength);
      bounded(task->downloaded(), kMaxContentLength);
      bounded(task->id.load(), kMaxSegments);
      if (task->length() == 0 && contentLength_ != 0) task->contentLength = contentLength_;
      // "Complete" is believed only together with a full downloaded
      // position; anything else is fetched again from where it stands.
      if (task->status.load() == kTaskComplete && task->downloaded() != task->end()) {
        task->status = kTaskWaiting;
      }
      task->logFlag = logFlag;
      addTask(std::move(task));
    }
  }
  if (!loadedInBounds_) LOG(INFO) << " task file holds a number out of bounds";
  // Task files written before validators were kept have none: their
  // requests go without If-Range, as they did.
  for (const auto& t : all_) t->validator = validator_;
  if (logFlag) {
    LOG(INFO) << " Tasks info, load ok, total " << all_.size() << ", todo " << waitingCount()
              << ", complete " << handed_.size();
  }
  return noStatus;
}

int CDownloadTaskManager::checkLoadedTasks(int logFlag) {
  // Out-of-bounds numbers are refused before any request is made for them.
  if (!loadedInBounds_) {
    raiseFlowError("DL026");
    return kErrTaskLayout;
  }
  std::string cdn;
  int code = 0;
  const std::string recorded = validator_;
  const int64_t length = getContentLength(&code, &cdn, logFlag);
  // A real probe (the size was not known in this run) also tells whether
  // the file is still the one the task file was written for.
  const bool otherVersion = !recorded.empty() && !validator_.empty() && validator_ != recorded;
  validator_ = recorded;
  // No answer says nothing about the file: the bytes on disk are kept for a
  // run that reaches the server.
  if (length <= 0) return code == CURLE_TOO_MANY_REDIRECTS ? kErrTooManyRedirects : kErrNoContentLength;
  if (length != contentLength_ || otherVersion) {
    raiseFlowError("DL025");
    return kErrContentLengthChanged;
  }
  int64_t expected = 0;
  for (const auto& t : all_) {
    const int64_t start = t->start();
    // Besides the layout walk, a downloaded position outside its segment
    // or a segment whose size disagrees with the file would make the
    // workers write out of place.
    const bool placed = start == (int64_t(t->id.load()) - 1) * kSegmentSize && start == expected;
    const bool sane = t->end() >= start && t->downloaded() >= start &&
                      t->downloaded() <= t->end() && t->length() == contentLength_;
    if (!placed || !sane) {
      raiseFlowError("DL026");
      return kErrTaskLayout;
    }
    expected = t->end() + 1;
  }
  if (expected != contentLength_ + 1) {
    raiseFlowError("DL026");
    return kErrTaskLayout;
  }
  return kErrSuccess;
}

std::string CDownloadTaskManager::taskFileText() const {
  tinyxml2::XMLDocument doc;
  tinyxml2::XMLElement* root = doc.NewElement("TaskInfo");
  doc.InsertEndChild(root);
  addNumber(&doc, root, "TasksCount", tasksCount_);
  addNumber(&doc, root, "ContentLength", contentLength_);
  addNumber(&doc, root, "DownloadTime", downloadTime_);
  if (!validator_.empty()) addText(&doc, root, "Validator", validator_);
  for (const auto& t : all_) {
    tinyxml2::XMLElement* e = doc.NewElement("Task");
    root->InsertEndChild(e);
    addNumber(&doc, e, "StartPos", t->start());
    addNumber(&doc, e, "EndPos", t->end());
    addNumber(&doc, e, "DownloadedPos", t->downloaded());
    addText(&doc, e, "RemotePath", t->remotePath);
    addText(&doc, e, "LocalPath", t->localPath);
    addNumber(&doc, e, "TaskStatus", t->status.load());
    addNumber(&doc, e, "TaskId", t->id.load());
    addNumber(&doc, e, "RequestTimes", t->requestTimes);
  }
  tinyxml2::XMLPrinter printer;
  doc.Print(&printer);
  return std::string(printer.CStr());
}

int CDownloadTaskManager::saveTaskToFile() {
  // Written beside and renamed over the old file, so a run killed while
  // saving leaves the previous task file, never half of one. A failed save
  // (a full disk) keeps that previous file too; it never claims more than
  // the download file holds, and the next save tries again.
  (void)platform::replaceFileAtomically(taskFilePath_, taskFileText());
  return 1;
}

}  // namespace engine
