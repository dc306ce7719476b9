#include "crash/report_upload.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "config/run_locations.h"
#include "config/services.h"
#include "net/transport_policy.h"
#include "platform/paths.h"
#include "system/file_trust.h"
#include "zip/zip_writer.h"

namespace crash {

namespace {

namespace fs = std::filesystem;

// A hidden report process must never linger: it gives up on a host that
// does not answer, on a stalled transfer, and after two minutes in all.
constexpr long kConnectSeconds = 10;
constexpr long kTransferSeconds = 120;
constexpr long kLowSpeedBytesPerSecond = 1024;
constexpr long kLowSpeedSeconds = 30;

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

std::string stamp(const platform::LocalTime& t) { return narrow(config::formatRunTimestamp(t)); }

size_t appendReply(char* data, size_t size, size_t count, void* reply) {
  static_cast<std::string*>(reply)->append(data, size * count);
  return size * count;
}

void addEntry(websetup_zip::ZipWriter* zip, const std::wstring& name, const std::wstring& source) {
  const websetup_zip::EnumZipResult rc = zip->addFile(name, narrow(source));
  if (rc != websetup_zip::EnumZipResult::kOk) {
    LOG(INFO) << " Report archive: " << narrow(source) << " not added, result "
              << static_cast<int>(rc);
  }
}

// Every *.dmp file of `folder`, by name, so the archive's order does not
// depend on the file system's.
std::vector<std::wstring> dumpFilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(narrow(folder)), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const std::wstring name = common::utf8ToWide(it->path().filename().string());
    if (name.size() > 4 && name.compare(name.size() - 4, 4, L".dmp") == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool exists(const std::wstring& path) { return platform::pathExists(narrow(path)); }

}  // namespace

ReportEnvironment ReportEnvironment::FromProcess() {
  ReportEnvironment env;
  env.logDirectory = config::processRunLocations().getLogDirectory();
  env.version = FuntionImpl::GetFileVersion(common::utf8ToWide(platform::modulePath()));
  env.uploadUrl = config::processServices().url(config::service::kLogCollection) + kLogUploadPath;
  return env;
}

std::string ArchivePartName(const std::wstring& argument, const platform::LocalTime& packingTime) {
  const size_t underscore = argument.rfind(L'_');
  if (underscore == std::wstring::npos) return std::string();
  return narrow(argument.substr(0, underscore)) + "_" + stamp(packingTime) + ".zip";
}

std::string NoNamePartName(const std::string& filePath, const platform::LocalTime& now) {
  const size_t dot = filePath.rfind('.');
  const size_t slash = filePath.rfind('/');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return "NoName_" + stamp(now) + (hasExtension ? filePath.substr(dot) : std::string(".tmp"));
}

EnumUploadResult UploadLogFile(const std::string& url, const std::string& filePath,
                               const std::string& partFileName, const std::string& productId,
                               const std::string& version, const std::string& catalogue) {
  if (filePath.size() <= 4) return EnumUploadResult::kPathTooShort;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    std::printf("Failed to initialize cURL\n");
    return EnumUploadResult::kNoHandle;
  }
  const std::string fileName =
      partFileName.empty() ? NoNamePartName(filePath, platform::localTime()) : partFileName;
  curl_mime* form = curl_mime_init(curl);
  curl_mimepart* part = curl_mime_addpart(form);
  curl_mime_name(part, "file");
  curl_mime_filedata(part, filePath.c_str());
  curl_mime_filename(part, fileName.c_str());
  const std::pair<const char*, const std::string*> fields[] = {
      {"product_id", &productId}, {"version", &version}, {"catalogue", &catalogue}};
  for (const auto& [name, value] : fields) {
    if (value == &catalogue && catalogue.empty()) continue;
    part = curl_mime_addpart(form);
    curl_mime_name(part, name);
    curl_mime_data(part, value->c_str(), CURL_ZERO_TERMINATED);
  }
  curl_slist* headers = curl_slist_append(nullptr, "content-type:multipart/form-data");
  headers = curl_slist_append(headers, "Accept:*/*");

  std::string reply;
  curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendReply);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTransferSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  // Verified TLS and the system's proxy, as every request of the program.
  CURLcode rc = net::ApplyTransportPolicy(curl, url);
  if (rc == CURLE_OK) rc = curl_easy_perform(curl);
  net::LogTransportFailure(curl, rc, url);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  std::printf("Response from server:\n%s\n", reply.c_str());
  LOG(INFO) << " Log upload of " << fileName << ": curl " << static_cast<int>(rc) << " ("
            << curl_easy_strerror(rc) << "), status " << status << ", reply " << reply;
  curl_easy_cleanup(curl);
  curl_mime_free(form);
  curl_slist_free_all(headers);
  return rc == CURLE_OK && status == 200 ? EnumUploadResult::kOk
                                         : EnumUploadResult::kTransferFailed;
}

EnumPackResult PackAndUpload(const std::wstring& argument, const std::string& label,
                             const std::wstring& extraFile, bool withDump,
                             const ReportEnvironment& env) {
  LOG(INFO) << " Report upload: label " << label << ", dump " << (withDump ? 1 : 0) << ", files "
            << narrow(argument);
  // Without a log folder every path below would land at the root.
  if (env.logDirectory.empty()) {
    LOG(INFO) << " Report upload: no log folder, nothing packed";
    return EnumPackResult::kArchiveNotCreated;
  }
  // The name comes from a command line anyone can write: it names a file
  // of the log folder, never one elsewhere.
  if (argument.empty() || argument.find_first_of(L"/\\") != std::wstring::npos ||
      argument.find(L"..") != std::wstring::npos) {
    LOG(INFO) << " Report upload: refused file name " << narrow(argument);
    return EnumPackResult::kArchiveNotCreated;
  }
  const std::wstring folder = env.logDirectory + L"/";
  const std::wstring logFile = folder + argument;
  const std::wstring logCopy = logFile + L"_copy.log";
  std::error_code ec;
  fs::copy_file(narrow(logFile), narrow(logCopy), fs::copy_options::overwrite_existing, ec);
  if (ec) LOG(INFO) << " Report upload: log copy failed: " << ec.message();

  const platform::LocalTime packingTime = platform::localTime();
  const std::wstring archive = folder + config::formatRunTimestamp(packingTime) + L".zip";
  auto zip = websetup_zip::ZipWriter::create(narrow(archive));
  if (!zip) return EnumPackResult::kArchiveNotCreated;
  addEntry(zip.get(), argument, logCopy);
  if (withDump) {
    const std::wstring dump = logFile + L".dmp";
    if (exists(dump)) {
      addEntry(zip.get(), argument + L".dmp", dump);
    } else {
      for (const std::wstring& name : dumpFilesIn(folder)) addEntry(zip.get(), name, folder + name);
    }
  }
  if (!extraFile.empty() && exists(extraFile)) {
    addEntry(zip.get(), common::utf8ToWide(fs::path(narrow(extraFile)).filename().string()),
             extraFile);
  }
  const websetup_zip::EnumZipResult closed = zip->close();
  if (closed != websetup_zip::EnumZipResult::kOk) {
    LOG(INFO) << " Report archive not written, result " << static_cast<int>(closed);
  }

  if (exists(archive)) {
    const EnumUploadResult rc =
        UploadLogFile(env.uploadUrl, narrow(archive), ArchivePartName(argument, packingTime),
                      kProductId, env.version, label.empty() ? "default" : label);
    LOG(INFO) << " Report upload result " << static_cast<int>(rc) << ", archive "
              << narrow(archive);
    if (rc == EnumUploadResult::kOk) {
      // The copy goes first: a watcher that sees the archive gone may take
      // the report as cleaned up.
      fs::remove(narrow(logCopy), ec);
      fs::remove(narrow(archive), ec);
    }
  }
  return EnumPackResult::kOk;
}

}  // namespace crash
