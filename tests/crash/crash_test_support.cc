#include "crash_test_support.h"

#include <curl/curl.h>
#include <zip.h>

#include <filesystem>

#include "common/md5.h"
#include "support/subprocess.h"

namespace crash_test {

namespace fs = std::filesystem;

ReportRun::ReportRun(const testing_support::TempDir& tmp, const std::string& servicesBase)
    : program_(tmp.file(fs::path(testing_support::binPath("websetup")).filename().string())),
      root_(tmp.path()) {
  fs::copy_file(testing_support::binPath("websetup"), program_);
  fs::permissions(program_, fs::perms::owner_all);
  env_ = {{"APPDATA", tmp.file("appdata")},
          {"XDG_RUNTIME_DIR", tmp.path()},
          {"TMPDIR", tmp.path()},
          {"TMP", tmp.path()},
          {"TEMP", tmp.path()},
          {"WEBSETUP_CACHE_ROOT", tmp.file("cache")},
          {"WEBSETUP_REGISTRY", tmp.file("registry")},
          {"ProgramFiles", tmp.file("programs")},
          {"WEBSETUP_SERVICES_BASE", servicesBase},
          {"WEBSETUP_UI_HOST", "headless"}};
  fs::create_directories(logDir());
}

std::string ReportRun::logDir() const {
  return root_ + "/appdata/RUDarodiridu/logs/setup_orlastra";
}

std::vector<std::string> ReportRun::logsContaining(const std::string& text) const {
  std::vector<std::string> names;
  for (const std::string& name : filesEndingWith(".log")) {
    if (name.find("_copy.log") != std::string::npos) continue;
    if (testing_support::readFile(logDir() + "/" + name).find(text) != std::string::npos) {
      names.push_back(name);
    }
  }
  return names;
}

std::vector<std::string> ReportRun::filesEndingWith(const std::string& suffix) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(logDir(), ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name);
    }
  }
  return names;
}

int ReportRun::run(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {program_};
  argv.insert(argv.end(), args.begin(), args.end());
  testing_support::Subprocess child(argv, env_);
  return child.wait(std::chrono::seconds(60));
}

std::vector<std::pair<std::string, std::string>> ZipEntries(const std::string& path) {
  std::vector<std::pair<std::string, std::string>> entries;
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (archive == nullptr) return entries;
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
    std::string content(st.size, '\0');
    if (zip_file_t* f = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0)) {
      zip_fread(f, content.data(), st.size);
      zip_fclose(f);
    }
    entries.emplace_back(st.name, content);
  }
  zip_close(archive);
  return entries;
}

std::string FileMd5(const std::string& path) {
  return common::md5OfText(testing_support::readFile(path));
}

Upload ReadUpload(const Json::Value& line) {
  Upload upload;
  for (const Json::Value& part : line["form"]) {
    const std::string name = part["name"].asString();
    upload.fieldOrder.push_back(name);
    if (part.isMember("filename")) {
      upload.fileName = part["filename"].asString();
      upload.md5 = part["md5"].asString();
      upload.savedPath = LocalPath(part["saved"].asString());
    } else {
      upload.fields[name] = part["value"].asString();
    }
  }
  if (!upload.savedPath.empty()) upload.entries = ZipEntries(upload.savedPath);
  return upload;
}

bool SetMode(const std::string& base, const std::string& key, const std::string& value) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return false;
  const std::string url = base + "/control/mode?key=" + key + "&value=" + value;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
  const CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  return rc == CURLE_OK && status == 200;
}

}  // namespace crash_test
