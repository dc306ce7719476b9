#ifndef WEBSETUP_CONFIG_CONFIGURE_H_
#define WEBSETUP_CONFIG_CONFIGURE_H_

// CConfigure: the download configuration record. It tells the install flow
// what to download, how to check it and how long to wait for the installer.
// Filled in layers: from the embedded product configuration, then from the
// update server's <Downloader> answer, or, when none arrives, again from the
// embedded configuration and marked as such.
//
// One instance per process, created by the setup window. The fields are
// plain data read by the window and the install flow. Writers (the window's
// first fill, the asynchronous configuration fetch, the install thread) hold
// fetchMutex() while they write, so two of them never write at once; the
// install-side fetch sequences take it for their callers.
//
// Readers on other threads follow the phases of the run instead of the lock:
//   - the install thread reads the record after CompleteConfiguration; from
//     then on it is the only writer (the asynchronous fetch sees the abandon
//     flag under the lock and writes nothing more);
//   - the window thread reads the record before Install is pressed only
//     through the embedded fill it made itself, and afterwards only once the
//     install thread has posted the message that ends its run (the post is
//     the release, the message's handling the acquire).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/mutex.h"
#include "config/label_source.h"

namespace config {

// The record's values, copyable (see CConfigure::copy).
struct ConfigureFields {
  enum State : int32_t { kNotFilled = 1, kFilled = 2 };
  enum Source : int32_t { kSourceNone = 0, kSourceServer = 1, kSourceEmbedded = 2 };

  ConfigureFields(int32_t downloaderId, int32_t languageId, int32_t siteId)
      : downloaderId(downloaderId), siteId(siteId), languageId(languageId) {}

  int32_t state = kNotFilled;
  int32_t source = kSourceNone;
  int64_t fileSize = 0;
  int32_t downloaderId;
  int32_t softwareId = 0;
  int32_t siteId;
  int32_t languageId;
  int32_t downloaderType = 3;
  int32_t downloaderConfig = 0;
  int32_t additionalTime = 0;
  int32_t installTimeout = 240;
  std::wstring softwareName;
  std::wstring softwareVersion;
  std::wstring downloadUrl;
  std::wstring md5;
  std::wstring processName;
  std::wstring installUrl;
  std::wstring bannerUrl;
  std::wstring licensefileUrl;
  std::wstring extraDownloadUrl;
  std::vector<std::wstring> urlList;
  std::wstring md5Extra;
  std::wstring cnetDownloadUrl;
  std::string queryUrl;
  // The <Downloader> block as received; empty until one was stored. Written
  // once and never cleared.
  std::string rawAnswer;
};

class CConfigure : public ConfigureFields {
 public:
  // The longest software name kept from the server answer, in characters.
  static constexpr size_t kMaxSoftwareName = 259;

  CConfigure(int32_t downloaderId, int32_t languageId, int32_t siteId);
  CConfigure(const CConfigure&) = delete;
  CConfigure& operator=(const CConfigure&) = delete;

  // State 1, source 0, file size 0, software id 0, the texts from software
  // name to licence file URL emptied and the URL list cleared; every other
  // field keeps its value.
  void reset();

  // Fills the record from the embedded configuration, read label by label
  // through `labels`. With `mark` the record becomes filled (state 2,
  // source 2) and the URL list is built; without it the record holds the
  // embedded values but stays unfilled.
  void fillFromLabels(const ILabelSource& labels, bool mark);

  // Parses the raw answer into the fields. Returns true (state 2, source 1)
  // when it was parsed; false (state 1, fields unchanged) when there is no
  // raw answer, it is not XML, or it has no root element.
  [[nodiscard]] bool parseRawAnswer();

  // Writes the record to the log, one line per field. Returns 1.
  int printContent() const;

  // A copy of the last download-configuration query URL.
  std::string getQueryUrl() const { return queryUrl; }

  // Appends `url` to the URL list when it is a direct address: not empty and
  // neither a CDN nor a mirror address.
  void appendDirectUrl(const std::wstring& url);

  // Serialises every writer of the record (see the class comment).
  common::Mutex* fetchMutex() { return &fetchMutex_; }

  // A copy of the fields taken under the lock, for a reader that may wait.
  ConfigureFields copy() LOCKS_EXCLUDED(fetchMutex_);
  // The same without waiting, for the window's thread: nullopt while a
  // writer holds the lock (a fetch in flight), when the caller goes on
  // with the embedded configuration's values.
  [[nodiscard]] std::optional<ConfigureFields> tryCopy() LOCKS_EXCLUDED(fetchMutex_);

 private:
  common::Mutex fetchMutex_;
};

}  // namespace config

#endif  // WEBSETUP_CONFIG_CONFIGURE_H_
