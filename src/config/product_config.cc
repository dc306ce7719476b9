#include "config/product_config.h"

#include <tinyxml2.h>

#include "common/text.h"
#include "config/skin_archive.h"

namespace config {

namespace {

// The entry layout: the first child element of the root.
const tinyxml2::XMLElement* entryLayout(const tinyxml2::XMLDocument& doc) {
  const tinyxml2::XMLElement* root = doc.RootElement();
  return root == nullptr ? nullptr : root->FirstChildElement();
}

void applyEntry(const std::wstring& key, const std::wstring& value, ProductConfig* out) {
  if (key == L"Downloader_id") {
    out->downloaderIdText = value;
    out->downloaderId = common::parseLeadingInt32(value);
  } else if (key == L"Site_id") {
    out->siteId = common::parseLeadingInt32(value);
  } else if (key == L"MainPid") {
    out->mainPid = common::parseLeadingInt32(value);
  } else if (key == L"Software_name") {
    out->softwareName = value;
  } else if (key == L"Software_version") {
    out->softwareVersion = value;
  } else if (key == L"Support32System") {
    out->support32System = value;
  } else if (key == L"Download_url" || key == L"Extra_download_url") {
    if (out->downloadUrl.empty() && !isCdnUrl(value)) out->downloadUrl = value;
  }
}

}  // namespace

bool isCdnUrl(const std::wstring& url) {
  return url.find(L"//cdn.") != std::wstring::npos || url.find(L"//dl.") != std::wstring::npos;
}

bool parseProductConfig(const std::string& xml, ProductConfig* out) {
  *out = ProductConfig{};
  tinyxml2::XMLDocument doc;
  if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return false;
  const tinyxml2::XMLElement* layout = entryLayout(doc);
  if (layout == nullptr) return false;
  for (const auto* e = layout->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
    const tinyxml2::XMLAttribute* first = e->FirstAttribute();
    const tinyxml2::XMLAttribute* second = first == nullptr ? nullptr : first->Next();
    if (second == nullptr) continue;
    applyEntry(common::utf8ToWide(first->Value()), common::utf8ToWide(second->Value()), out);
  }
  return true;
}

bool loadProductConfig(ProductConfig* out) {
  std::string xml;
  if (!readSkinFile(kProductConfigFile, &xml)) {
    *out = ProductConfig{};
    return false;
  }
  return parseProductConfig(xml, out);
}

ProductLabels ProductLabels::fromXml(const std::string& xml) {
  ProductLabels labels;
  tinyxml2::XMLDocument doc;
  if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return labels;
  const tinyxml2::XMLElement* layout = entryLayout(doc);
  if (layout == nullptr) return labels;
  for (const auto* e = layout->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
    const char* name = e->Attribute("name");
    if (name == nullptr) continue;
    const char* text = e->Attribute("text");
    labels.texts_[common::utf8ToWide(name)] = common::utf8ToWide(text == nullptr ? "" : text);
  }
  return labels;
}

ProductLabels ProductLabels::fromSkinArchive() {
  std::string xml;
  // Without the file the labels are empty: every lookup gives its default.
  (void)readSkinFile(kProductConfigFile, &xml);
  return fromXml(xml);
}

std::wstring ProductLabels::getText(const std::wstring& name) const {
  auto it = texts_.find(name);
  return it == texts_.end() ? std::wstring() : it->second;
}

bool ProductLabels::has(const std::wstring& name) const { return texts_.count(name) != 0; }

}  // namespace config
