#include "window/carousel.h"

#include <cairo.h>

#include <ctime>

#include "common/log.h"
#include "common/text.h"
#include "uiframework/controls.h"
#include "uiframework/image_decode.h"
#include "uiframework/paint_manager.h"

namespace window {
namespace {

// How long the banner thread is waited for when the carousel goes: it
// stops within a second of being told to.
constexpr uint32_t kBannerWaitMs = 10000;

}  // namespace

Carousel::Carousel(Setup setup)
    : setup_(std::move(setup)), dots_(setup_.dots), frameCount_(CountAnimaFrames(setup_.images)) {}

Carousel::~Carousel() {
  bannerStop_ = true;
  while (!bannerThread_.waitFor(kBannerWaitMs)) LOG(INFO) << " Waiting for the banner thread";
  bannerThread_.close();
}

void Carousel::Start(int32_t softwareId, const std::string& fontFamily) {
  CAnima::Setup setup;
  setup.images = setup_.images;
  setup.area = setup_.area;
  setup.frameCount = frameCount_;
  setup.findControl = setup_.findControl;
  setup.softwareId = softwareId;
  setup.fontFamily = fontFamily;
  setup_.killTimer(kTimerSlide);
  anima_ = std::make_unique<CAnima>(std::move(setup));
  anima_->Init(L"", L"");
  currentFrame_ = 1;
  SelectDot(0);
  anima_->ShowFrame(1);
  if (frameCount_ >= 2) setup_.setTimer(kTimerCarousel, kCarouselIntervalMs);
}

void Carousel::Stop() { setup_.killTimer(kTimerCarousel); }

void Carousel::SelectDot(size_t index) {
  auto* dot = dynamic_cast<ui::COptionUI*>(index < dots_.size() ? dots_[index] : nullptr);
  if (dot == nullptr) return;
  if (!dot->IsSelected()) {
    dot->Selected(true);  // notifies "selectchanged", which comes back here
    return;
  }
  // Already chosen: the option sends nothing, but the interval restarts.
  OnDotChanged(dot);
}

void Carousel::OnDotChanged(ui::CControlUI* sender) {
  size_t position = 0;
  for (size_t i = 0; i < dots_.size() && i < 10; ++i) {
    if (dots_[i] == sender) position = i + 1;
  }
  if (position == 0 || anima_ == nullptr) return;
  auto* dot = dynamic_cast<ui::COptionUI*>(sender);
  if (dot != nullptr && !dot->IsSelected()) return;  // the dot that was left
  setup_.setTimer(kTimerCarousel, kCarouselIntervalMs);
  const int to = static_cast<int>(position);
  if (anima_->Play(currentFrame_, to)) setup_.setTimer(kTimerSlide, CAnima::kStepMs);
  currentFrame_ = to;
}

void Carousel::OnIntervalTimer() {
  const int k = currentFrame_;
  const size_t next = k >= 1 && k <= 9 && dots_.size() > static_cast<size_t>(k) ? k : 0;
  SelectDot(next);
}

void Carousel::OnSlideTimer() {
  if (anima_ == nullptr || !anima_->Step()) setup_.killTimer(kTimerSlide);
}

void Carousel::OnBannersReady() {
  bannersReady_ = true;
  BannerFrames frames;
  {
    common::MutexLock lock(&bannerMu_);
    frames = std::move(frames_);
  }
  if (anima_ == nullptr) return;
  // The banners were decoded and scaled on the banner thread: what is left
  // here is joining the strips, a few copies of pixels.
  anima_->Adopt(frames);
  if (!anima_->Sliding()) anima_->ShowFrame(currentFrame_);
}

BannerFrames Carousel::BuildFrames(const std::map<int32_t, BannerRecord>& banners,
                                   const std::shared_ptr<ui::SkinArchive>& archive) const {
  std::wstring extension;
  auto first = banners.find(1);
  if (first != banners.end() && !dots_.empty()) {
    // The file's own extension: a folder of the path may hold dots too.
    const std::wstring& file = first->second.localFile;
    const size_t slash = file.find_last_of(L"/\\");
    const size_t dot = file.find(L'.', slash == std::wstring::npos ? 0 : slash + 1);
    if (dot != std::wstring::npos) extension = file.substr(dot);
  }
  const CAnima::Setup frame;
  return BuildBannerFrames(setup_.cacheFolder + L"/", extension, frameCount_, frame.width,
                           frame.height, archive);
}

void Carousel::FetchBannersIfNeeded(const std::string& webCode, int32_t mainPid) {
  if (bannersReady_ || bannersFetched_.load() || setup_.bannerBase.empty()) return;
  if (!setup_.transport.get || !setup_.transport.download) {
    LOG(INFO) << " banner thread not started: no transport";
    return;
  }
  if (bannerThread_.started()) {
    // A fetch still under way is left to finish; one that ended without
    // banners is tried again with this run.
    if (!bannerThread_.waitFor(0)) return;
    bannerThread_.close();
    // The flag is read again now the thread has ended: it may have found
    // the banners, and ended, since the first look.
    if (bannersFetched_.load()) return;
  }
  BannerFetch fetch;
  fetch.queryUrl = GetBannerPicUrl(setup_.bannerBase, webCode, mainPid,
                                   static_cast<int64_t>(std::time(nullptr)));
  fetch.cacheFolder = setup_.cacheFolder;
  fetch.events = setup_.events;
  fetch.get = setup_.transport.get;
  // A picture download ends within a second of the window closing.
  fetch.download = [download = setup_.transport.download, stop = &bannerStop_](
                       const std::wstring& url, const std::wstring& path) {
    return download(url, path, stop);
  };
  fetch.isPicture = [](const std::wstring& path) {
    cairo_surface_t* picture = ui::DecodeImageFile(common::wideToUtf8(path));
    if (picture == nullptr) return false;
    cairo_surface_destroy(picture);
    return true;
  };
  fetch.stopping = [this] { return bannerStop_.load(); };
  bannerStop_ = false;
  if (!bannerThread_.start([this, fetch, archive = setup_.images->GetArchive()] {
        std::map<int32_t, BannerRecord> banners;
        if (!GetCbsBanner(fetch, &banners)) return;
        BannerFrames frames = BuildFrames(banners, archive);
        {
          common::MutexLock lock(&bannerMu_);
          frames_ = std::move(frames);
        }
        // Before the thread ends: a fetch asked for between its end and the
        // message's arrival must find the banners in, or it would fetch
        // again into the files just decoded.
        bannersFetched_ = true;
        if (setup_.bannersReady) setup_.bannersReady();
      })) {
    LOG(INFO) << " banner thread not started";
  }
}

bool Carousel::WaitForBannerThread(uint32_t ms) { return bannerThread_.waitFor(ms); }

}  // namespace window
