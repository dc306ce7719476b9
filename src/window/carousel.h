#ifndef WEBSETUP_WINDOW_CAROUSEL_H_
#define WEBSETUP_WINDOW_CAROUSEL_H_

// The running page's carousel: its frames and dots, the slide between two
// frames, and the banner thread that fetches the service's pictures to
// replace the built-in frames. The window owns it and hands it its
// controls, its timers and a way to post to itself; the carousel knows
// nothing else of the window, and reaches the banner service only through
// the transport it is given.
//
// Threads: everything but StopBannerThread and DotCount runs on the
// window's thread. The banner thread fetches, decodes and scales the
// pictures, leaves them in frames_ and calls `bannersReady`; the window
// thread then only joins the strips.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/mutex.h"
#include "common/thread_tools.h"
#include "window/anima.h"
#include "window/banner.h"

namespace common {
class EventSink;
}
namespace ui {
class CControlUI;
class CPaintManagerUI;
class SkinArchive;
}  // namespace ui

namespace window {

// The carousel's timers on its window.
inline constexpr uint32_t kTimerCarousel = 2000;
inline constexpr uint32_t kTimerSlide = 2001;  // the 25 pictures of a slide
inline constexpr uint32_t kCarouselIntervalMs = 7000;

class Carousel {
 public:
  struct Setup {
    ui::CPaintManagerUI* images = nullptr;  // the window's image cache
    ui::CControlUI* area = nullptr;         // image_play
    std::vector<ui::CControlUI*> dots;      // image_play_option1, 2, ...
    // A control of the window by name (the frame texts).
    std::function<ui::CControlUI*(const std::wstring&)> findControl;
    // The window's timers (kTimerCarousel, kTimerSlide).
    std::function<void(uint32_t id, uint32_t periodMs)> setTimer;
    std::function<void(uint32_t id)> killTimer;
    // Called on the banner thread once the banners are in: the window posts
    // itself MSG_BANNERS_READY and calls OnBannersReady from there.
    std::function<void()> bannersReady;
    BannerTransport transport;
    std::string bannerBase;    // the banner service; empty: no banners
    std::wstring cacheFolder;  // where the pictures go
    common::EventSink* events = nullptr;
  };

  // Counts the built-in frames (their pictures decode in the background).
  explicit Carousel(Setup setup);
  // Stops the banner thread and waits for it: it writes into this object.
  ~Carousel();
  Carousel(const Carousel&) = delete;
  Carousel& operator=(const Carousel&) = delete;

  // (Re)starts on frame 1 with the frames' texts in the language's font,
  // white for `softwareId` 10; the interval runs when there are two frames.
  void Start(int32_t softwareId, const std::string& fontFamily);
  // Ends the interval (a slide under way runs out).
  void Stop();
  // A dot's "selectchanged": slides to its frame and restarts the interval.
  // Other controls are not the carousel's and are ignored.
  void OnDotChanged(ui::CControlUI* sender);
  // kTimerCarousel: the next dot, or the first after the last.
  void OnIntervalTimer();
  // kTimerSlide: the next picture of the slide.
  void OnSlideTimer();

  // Starts the banner thread for the language with web code `webCode`,
  // unless the banners are in or a fetch is still under way; a fetch that
  // ended without banners is tried again.
  void FetchBannersIfNeeded(const std::string& webCode, int32_t mainPid);
  // MSG_BANNERS_READY: the frames become the banners, which the banner
  // thread has decoded and scaled already.
  void OnBannersReady();
  // Tells the banner thread to stop (any thread): its downloads end within
  // a second, its query within its limit.
  void StopBannerThread() { bannerStop_ = true; }
  // Waits at most `ms` for the banner thread. True when it has ended.
  bool WaitForBannerThread(uint32_t ms);

  // Any thread: the dots never change after construction.
  size_t DotCount() const { return dots_.size(); }
  int FrameCount() const { return frameCount_; }

 private:
  void SelectDot(size_t index);  // 0-based
  // The banner thread's part of the banners' arrival: the frames of
  // `banners`, decoded and scaled.
  BannerFrames BuildFrames(const std::map<int32_t, BannerRecord>& banners,
                           const std::shared_ptr<ui::SkinArchive>& archive) const;

  Setup setup_;
  const std::vector<ui::CControlUI*> dots_;
  const int frameCount_;
  std::unique_ptr<CAnima> anima_;
  int currentFrame_ = 1;
  bool bannersReady_ = false;

  common::CThreadHandle bannerThread_;
  std::atomic<bool> bannerStop_{false};
  // Set by the banner thread before it ends, with the frames ready: a
  // fetch that ended with banners is never started again, even before
  // the window has taken them.
  std::atomic<bool> bannersFetched_{false};
  common::Mutex bannerMu_;
  BannerFrames frames_ GUARDED_BY(bannerMu_);
};

}  // namespace window

#endif  // WEBSETUP_WINDOW_CAROUSEL_H_
