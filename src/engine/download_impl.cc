#include "engine/download_impl.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "common/events.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"
#include "engine/content_length_cache.h"
#include "engine/downloader.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/system_info.h"

namespace engine {
namespace {

constexpr uint32_t kDriverWaitMs = 180000;
constexpr int kWatchPauseMs = 10;
// A run that met another version of the file starts again from zero this
// many times per call at most: a server whose validator changes on every
// answer would otherwise be downloaded for ever.
constexpr int kMaxRestarts = 3;
// Internal result of one run: start again from zero.
constexpr int32_t kRestartFromZero = -1;

std::string format1(const char* fmt, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), fmt, value);
  return text;
}

// Stops the driver and collects the CDN summary. When the driver outlives
// the wait, the downloader is abandoned rather than freed under it.
void stopAndRelease(std::unique_ptr<CDownloader>* d, std::string* cdnInfo) {
  // A request runs for as long as bytes flow, so the workers are told to
  // end theirs rather than waited for.
  (*d)->abortTransfers();
  (*d)->setRunState(kRunStop);
  if (!(*d)->waitDriver(kDriverWaitMs)) {
    LOG(INFO) << " download driver did not stop; leaving it";
    (void)d->release();
    return;
  }
  if (cdnInfo != nullptr) *cdnInfo = (*d)->getCdnInfo();
  (*d)->reset();
}

// The file on the server is not the one the download file holds parts of:
// both files go, as for a task file whose size no longer matches, and the
// sizes known for its addresses are forgotten so the next run probes anew.
void discardChangedDownload(const std::string& local, const std::vector<std::string>& urls) {
  common::Events().Event("Other", "FlowError", "DL025", false);
  LOG(INFO) << " taskinfo file error";
  // Either may stay behind harmlessly, as in the task manager's discard:
  // the next run's checks throw it away.
  (void)platform::deleteFile(local);
  (void)platform::deleteFile(local + ".xml");
  for (const std::string& url : urls) ForgetContentLength(url);
}

// The fastest and slowest speeds between two progress samples, in MB/s,
// and whether the count has stood still too long.
class SpeedWatch {
 public:
  SpeedWatch(int64_t alreadyHad, uint32_t now) : lastCount_(alreadyHad), lastChange_(now) {}

  // Takes sample `p`. False when nothing came for `stallLimitMs`.
  bool Sample(const CProgress& p, int64_t stallLimitMs) {
    if (p.downloaded > lastCount_) {
      const int64_t dBytes = p.downloaded - lastCount_;
      const int64_t dMs = static_cast<int32_t>(p.tick - lastChange_);
      if (dMs > 0) {
        const double speed = (double(dBytes) / 1024 / 1024) / (double(dMs) / 1000);
        fastest_ = std::max(fastest_, speed);
        slowest_ = std::min(slowest_, speed);
      }
      lastCount_ = p.downloaded;
      lastChange_ = p.tick;
      return true;
    }
    return static_cast<int32_t>(p.tick - lastChange_) < stallLimitMs;
  }
  double fastest() const { return fastest_; }
  double slowest() const { return slowest_; }

 private:
  int64_t lastCount_;
  uint32_t lastChange_;
  double fastest_ = 0.0;
  double slowest_ = 102400.0;
};

// The end of a download whose driver stopped by itself: every segment is
// complete, or the file is shorter than the server's.
int32_t concludeDownload(std::unique_ptr<CDownloader> d, const std::string& local,
                         std::string* cdnInfo, const DownloadOptions& options,
                         const SpeedWatch& speeds, DownloadStats* stats) {
  const bool reportProgress = static_cast<bool>(options.onProgress);
  if (!d->waitDriver(kDriverWaitMs)) {
    LOG(INFO) << " download driver did not stop; leaving it";
    (void)d.release();
    return kErrNoProgress;
  }
  d->updateDownloadInfo();
  const std::string cdn = d->getCdnInfo();
  const CProgress record = d->progress();
  const int64_t contentLength = d->taskManager().contentLength();
  const bool fetched = d->started();
  d->reset();
  d.reset();

  if (stats != nullptr) {
    stats->contentLength = contentLength;
    stats->downloaded = record.downloaded;
    stats->elapsedMs = record.elapsed;
    stats->fastestMBps = speeds.fastest();
    stats->slowestMBps = speeds.slowest();
    stats->fetchedSegments = fetched;
  }
  if (record.downloaded < contentLength) {
    LOG(INFO) << " lenth is error, less than remote file.";
    if (cdnInfo != nullptr) *cdnInfo = cdn;
    return kErrLengthShort;
  }
  const int64_t size = std::max<int64_t>(0, platform::fileSize(local));
  if (reportProgress && size < 1048576) return kErrFileTooSmall;
  if (!fetched) {
    if (reportProgress) options.onProgress(contentLength, contentLength);
    if (cdnInfo != nullptr) *cdnInfo = cdn;
    return kErrSuccess;
  }
  const double average = std::trunc(double(record.averageSpeed()) / 1048576.0 * 100) / 100;
  if (stats != nullptr) stats->averageMBps = average;
  LOG(INFO) << " Average speed: " << format1("%.1fMB/s", average);
  LOG(INFO) << " Download speed range " << format1("%.1f MB/s", speeds.slowest()) << " - "
            << format1("%.1f MB/s", speeds.fastest());
  if (cdnInfo != nullptr) *cdnInfo = cdn;
  return kErrSuccess;
}

// One run of SuperDownloadFile; kRestartFromZero when the file changed on
// the server and `mayRestart`.
int32_t downloadOnce(const std::string& remote, const std::string& local, std::string* cdnInfo,
                     const DownloadOptions& options, DownloadStats* stats, bool mayRestart) {
  const bool reportProgress = static_cast<bool>(options.onProgress);
  auto stopped = [&options] { return options.stop != nullptr && options.stop->load(); };
  const int threads = options.threadCount > 0 ? options.threadCount : CDownLoadImpl::defaultThreadCount();
  auto d = std::make_unique<CDownloader>(remote, local, local + ".xml", threads, options.file);

  const int init = d->downloadInit(0, "Download", reportProgress ? 1 : 0);
  if (init == kErrSuccess && stopped()) {
    stopAndRelease(&d, cdnInfo);
    return kErrStopped;
  }
  if (init != kErrSuccess) {
    stopAndRelease(&d, cdnInfo);
    return init;
  }
  d->setRunState(kRunRunning);
  common::Events().FunnelPair("Download", "SliceDownloading", "", "");

  // Bytes a resumed download already had are not speed: the first sample
  // would otherwise credit them all to its few milliseconds.
  int64_t alreadyHad = 0;
  for (const auto& t : d->taskManager().allTasks()) alreadyHad += t->downloaded() - t->start() + 1;
  SpeedWatch speeds(alreadyHad, platform::tickCount());
  bool networkDown = !platform::isNetworkAlive();
  while (!networkDown) {
    const CProgress p = d->progress();
    if (!speeds.Sample(p, options.stallLimit.count())) {
      LOG(INFO) << "too long no speed:";
      stopAndRelease(&d, cdnInfo);
      return kErrNoProgress;
    }
    if (mayRestart && d->remoteChanged()) {
      LOG(INFO) << " remote file changed, download restarts";
      std::vector<std::string> urls = {remote, d->taskManager().remotePath()};
      for (const auto& t : d->taskManager().allTasks()) urls.push_back(t->remotePath);
      stopAndRelease(&d, nullptr);
      discardChangedDownload(local, urls);
      return kRestartFromZero;
    }
    if (d->runState() == kRunStop) break;
    if (stopped()) {
      LOG(INFO) << " download stopped by its caller";
      d->abortTransfers();
      stopAndRelease(&d, cdnInfo);
      return kErrStopped;
    }
    if (reportProgress) options.onProgress(p.downloaded, d->taskManager().contentLength());
    networkDown = !platform::isNetworkAlive();
    // A short pause keeps the watch from taking a core of its own; a
    // hundred progress updates a second are more than a window can show.
    if (!networkDown) std::this_thread::sleep_for(std::chrono::milliseconds(kWatchPauseMs));
  }
  if (networkDown) {
    LOG(INFO) << "network is  no  alive";
    stopAndRelease(&d, cdnInfo);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    return kErrNetworkNotAlive;
  }
  return concludeDownload(std::move(d), local, cdnInfo, options, speeds, stats);
}

}  // namespace

int CDownLoadImpl::defaultThreadCount() {
  return std::max(4, platform::processorCount() * 8 / 5);
}

int32_t CDownLoadImpl::SuperDownloadFile(const std::wstring& url, const std::wstring& localPath,
                                         std::string* cdnInfo, const DownloadOptions& options,
                                         DownloadStats* stats) {
  const std::string remote = common::wideToUtf8(url);
  const std::string local = common::wideToUtf8(localPath);
  for (int restarts = 0;; ++restarts) {
    const int32_t r = downloadOnce(remote, local, cdnInfo, options, stats, restarts < kMaxRestarts);
    if (r != kRestartFromZero) return r;
  }
}

std::string CDownLoadImpl::fileMd5(const std::string& path) {
  common::Md5 md5;
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::vector<char> piece(1048576);
    while (in) {
      in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
      if (in.gcount() > 0) md5.update(piece.data(), static_cast<size_t>(in.gcount()));
    }
  }
  return common::md5Hex(md5.finish());
}

int CDownLoadImpl::checkMD5(const std::wstring& filePath, const std::wstring& md5,
                            const std::wstring& md5Extra, const std::wstring& label,
                            const std::string& readPath) {
  const std::string path = common::wideToUtf8(filePath);
  const std::string digest = fileMd5(readPath.empty() ? path : readPath);
  LOG(INFO) << " MD5 of file " << path << " is " << digest;
  if (FILE* record = std::fopen((path + ".db").c_str(), "wb+")) {
    const std::string text = common::wideToUtf8(label) + "###" + digest;
    std::fwrite(text.data(), 1, text.size(), record);
    std::fflush(record);
    std::fclose(record);
  }
  const std::wstring wide = common::utf8ToWide(digest);
  return (wide == md5 || wide == md5Extra) ? 1 : 0;
}

}  // namespace engine
