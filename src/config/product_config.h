#ifndef WEBSETUP_CONFIG_PRODUCT_CONFIG_H_
#define WEBSETUP_CONFIG_PRODUCT_CONFIG_H_

// The product configuration: configure/configure.xml of the skin archive,
// which binds a build to one product.

#include <cstdint>
#include <map>
#include <string>

namespace config {

constexpr char kProductConfigFile[] = "configure/configure.xml";

// What start-up takes from the product configuration. Every value starts
// empty or 0 and stays so when the file cannot be read.
struct ProductConfig {
  std::wstring downloaderIdText;
  int32_t downloaderId = 0;
  int32_t siteId = 0;
  int32_t mainPid = 0;
  std::wstring softwareName;
  std::wstring softwareVersion;
  std::wstring support32System;
  // The first of Download_url and Extra_download_url, in document order,
  // that is neither a CDN nor a mirror address; empty when none is.
  std::wstring downloadUrl;
};

// True when `url` is a CDN or mirror address (contains "//cdn." or "//dl.").
bool isCdnUrl(const std::wstring& url);

// Parses the start-up values out of the text of configure.xml. The first
// attribute of each entry is its key and the second its value, whatever
// their names, so a file with `text` before `name` reads swapped. Returns
// false (and leaves *out at its start values) when the text is not XML or
// lacks the entry layout.
[[nodiscard]] bool parseProductConfig(const std::string& xml, ProductConfig* out);

// Reads the start-up values out of the linked-in skin archive. Returns false
// when the archive or the file is missing or unparsable; *out then holds the
// start values.
[[nodiscard]] bool loadProductConfig(ProductConfig* out);

// The entries of configure.xml as controls see them: the text of every
// element under the entry layout, by its `name` attribute.
class ProductLabels {
 public:
  // Parses the entries out of the text of configure.xml. An unparsable text
  // gives no entries.
  static ProductLabels fromXml(const std::string& xml);
  // Reads configure.xml out of the linked-in skin archive.
  static ProductLabels fromSkinArchive();

  // The text of entry `name`, or an empty text when there is none.
  std::wstring getText(const std::wstring& name) const;
  // True when entry `name` exists (its text may be empty).
  bool has(const std::wstring& name) const;
  size_t size() const { return texts_.size(); }

 private:
  std::map<std::wstring, std::wstring> texts_;
};

}  // namespace config

#endif  // WEBSETUP_CONFIG_PRODUCT_CONFIG_H_
