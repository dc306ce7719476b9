#include "config/configure.h"

#include <tinyxml2.h>

#include <mutex>
#include <utility>

#include "common/events.h"
#include "common/log.h"
#include "common/text.h"

namespace config {

namespace {

void passServerInteger(const std::string& tag, int32_t value) {
  common::Events().ServerInteger(tag, value);
}

std::wstring withoutCrLf(std::wstring text) {
  std::erase(text, L'\r');
  std::erase(text, L'\n');
  return text;
}

std::wstring elementText(const tinyxml2::XMLElement& e) {
  const char* text = e.GetText();
  return text == nullptr ? std::wstring() : common::utf8ToWide(text);
}

// The server's name goes into a buffer of 260 characters elsewhere; a
// longer one is cut rather than allowed to overflow it.
std::wstring boundedSoftwareName(const tinyxml2::XMLElement& e) {
  std::wstring name = elementText(e);
  if (name.size() > CConfigure::kMaxSoftwareName) {
    LOG(INFO) << " Software_name of " << name.size() << " characters cut to "
              << CConfigure::kMaxSoftwareName;
    name.resize(CConfigure::kMaxSoftwareName);
  }
  return name;
}

void readInt32(const tinyxml2::XMLElement& e, int32_t* field) {
  int value = 0;
  if (e.QueryIntText(&value) == tinyxml2::XML_SUCCESS) *field = value;
}

// Applies one child of the answer. Returns false for a name outside the
// tag table.
bool applyTag(const tinyxml2::XMLElement& e, CConfigure* c) {
  const std::string name = e.Name();
  if (name == "Downloader_id") {
    readInt32(e, &c->downloaderId);
  } else if (name == "Software_id") {
    readInt32(e, &c->softwareId);
  } else if (name == "Site_id") {
    readInt32(e, &c->siteId);
  } else if (name == "Software_name") {
    c->softwareName = boundedSoftwareName(e);
  } else if (name == "Software_version") {
    c->softwareVersion = elementText(e);
  } else if (name == "Process_name") {
    c->processName = withoutCrLf(elementText(e));
  } else if (name == "Install_url") {
    c->installUrl = elementText(e);
  } else if (name == "Download_url") {
    c->downloadUrl = withoutCrLf(elementText(e));
  } else if (name == "Banner_url") {
    c->bannerUrl = elementText(e);
  } else if (name == "Licensefile_url") {
    c->licensefileUrl = elementText(e);
  } else if (name == "Md5") {
    c->md5 = elementText(e);
  } else if (name == "Filesize") {
    int64_t value = 0;
    if (e.QueryInt64Text(&value) == tinyxml2::XML_SUCCESS) c->fileSize = value;
  } else if (name == "Extra_download_url") {
    c->extraDownloadUrl = withoutCrLf(elementText(e));
  } else if (name == "Cnet_download_url") {
    c->cnetDownloadUrl = elementText(e);
  } else if (name == "Md5_extra") {
    c->md5Extra = elementText(e);
  } else if (name == "Downloader_type") {
    readInt32(e, &c->downloaderType);
  } else if (name == "Downloader_config") {
    readInt32(e, &c->downloaderConfig);
    passServerInteger(name, c->downloaderConfig);
  } else if (name == "Additional_time") {
    readInt32(e, &c->additionalTime);
    passServerInteger(name, c->additionalTime);
  } else {
    return false;
  }
  return true;
}

std::string narrow(const std::wstring& text) { return common::wideToUtf8(text); }

}  // namespace

CConfigure::CConfigure(int32_t downloaderId, int32_t languageId, int32_t siteId)
    : ConfigureFields(downloaderId, languageId, siteId) {}

ConfigureFields CConfigure::copy() {
  common::MutexLock lock(&fetchMutex_);
  return *this;
}

std::optional<ConfigureFields> CConfigure::tryCopy() {
  if (!fetchMutex_.tryLock()) return std::nullopt;
  ConfigureFields fields = *this;
  fetchMutex_.unlock();
  return fields;
}

void CConfigure::reset() {
  state = kNotFilled;
  source = kSourceNone;
  fileSize = 0;
  softwareId = 0;
  softwareName.clear();
  softwareVersion.clear();
  downloadUrl.clear();
  md5.clear();
  processName.clear();
  installUrl.clear();
  bannerUrl.clear();
  licensefileUrl.clear();
  urlList.clear();
}

void CConfigure::appendDirectUrl(const std::wstring& url) {
  if (!url.empty() && !isCdnUrl(url)) urlList.push_back(url);
}

void CConfigure::fillFromLabels(const ILabelSource& labels, bool mark) {
  reset();
  auto text = [&labels](const wchar_t* name) { return labels.getLabelText(name); };
  auto int32 = [&labels](const wchar_t* name) {
    return common::parseLeadingInt32(labels.getLabelText(name));
  };
  downloaderId = int32(L"Downloader_id");
  softwareId = int32(L"Software_id");
  siteId = int32(L"Site_id");
  languageId = int32(L"Language_id");
  softwareName = text(L"Software_name");
  softwareVersion = text(L"Software_version");
  processName = text(L"Process_name");
  installUrl = text(L"Install_url");
  downloadUrl = text(L"Download_url");
  extraDownloadUrl = text(L"Extra_download_url");
  bannerUrl = text(L"Banner_url");
  licensefileUrl = text(L"Licensefile_url");
  md5 = text(L"Md5");
  fileSize = common::parseLeadingInt64(text(L"Filesize"));
  md5Extra = text(L"Md5_extra");
  // Read in 64 bits and kept in 32, as the installer wait takes it.
  installTimeout = static_cast<int32_t>(common::parseLeadingInt64(text(L"InstallTimeout")));
  if (installTimeout == 0) installTimeout = 242;
  cnetDownloadUrl = text(L"Cnet_download_url");
  downloaderType = 1;
  downloaderConfig = 0;
  additionalTime = 0;
  if (mark) {
    state = kFilled;
    source = kSourceEmbedded;
    appendDirectUrl(downloadUrl);
    appendDirectUrl(extraDownloadUrl);
  }
}

bool CConfigure::parseRawAnswer() {
  tinyxml2::XMLDocument doc;
  if (rawAnswer.empty() ||
      doc.Parse(rawAnswer.data(), rawAnswer.size()) != tinyxml2::XML_SUCCESS) {
    state = kNotFilled;
    return false;
  }
  const tinyxml2::XMLElement* root = doc.FirstChildElement();
  if (root == nullptr) {
    state = kNotFilled;
    return false;
  }
  for (const tinyxml2::XMLNode* node = root->FirstChild(); node != nullptr;
       node = node->NextSibling()) {
    if (const tinyxml2::XMLElement* e = node->ToElement()) applyTag(*e, this);
  }
  state = kFilled;
  source = kSourceServer;
  appendDirectUrl(downloadUrl);
  appendDirectUrl(extraDownloadUrl);
  return true;
}

int CConfigure::printContent() const {
  if (source == kSourceEmbedded) {
    LOG(INFO) << " Configure Load From File! ";
  } else if (source == kSourceServer) {
    LOG(INFO) << " Configure Load From XML! ";
  } else {
    LOG(INFO) << " Configure Load From Nothing! ";
  }
  LOG(INFO) << " [File ContentLength]: " << fileSize;
  LOG(INFO) << " [Downloader Id]: " << downloaderId;
  LOG(INFO) << " [SoftWare Id]: " << softwareId;
  LOG(INFO) << " [Site Id]: " << siteId;
  LOG(INFO) << " [Language Id]: " << languageId;
  LOG(INFO) << " [Software Name]: " << narrow(softwareName);
  LOG(INFO) << " [Software Version]: " << narrow(softwareVersion);
  LOG(INFO) << " [Remote Path]: " << narrow(downloadUrl);
  LOG(INFO) << " [MD5 String]: " << narrow(md5);
  LOG(INFO) << " [Process Name]: " << narrow(processName);
  LOG(INFO) << " [Install Url]: " << narrow(installUrl);
  LOG(INFO) << " [Banner Url]: " << narrow(bannerUrl);
  LOG(INFO) << " [Licensefile Url]: " << narrow(licensefileUrl);
  LOG(INFO) << " [Extra Download Url]: " << narrow(extraDownloadUrl);
  LOG(INFO) << " [Cnet Download Url]: " << narrow(cnetDownloadUrl);
  LOG(INFO) << " [MD5 Extra String]: " << narrow(md5Extra);
  LOG(INFO) << " [Downloader config]: " << downloaderConfig;
  LOG(INFO) << " [Additional Time]: " << additionalTime;
  return 1;
}

}  // namespace config
