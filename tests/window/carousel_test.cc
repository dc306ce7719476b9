// The banner carousel: the banner service's answers as the setup reads
// them, the signed query checked by the service, the banner thread against
// a real maker-services, and the slides on the running page.

#include <cairo.h>

#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "engine/download_impl.h"
#include "engine/libcurl_tool.h"
#include "install/window_messages.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "uiframework/image_decode.h"
#include "uiframework/paint_manager.h"
#include "window/anima.h"
#include "window/banner.h"
#include "window_test_support.h"

namespace window_test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using window::BannerAnswer;
using window::BannerRecord;
using window::CAnima;

TEST(BannerAnswerTest, ListsErrorsAndObjects) {
  std::vector<BannerRecord> banners;
  // A prompt that mentions "code" does not make the list an error.
  EXPECT_EQ(
      window::ParseBannerAnswer(
          R"([{"banner_url":"http://h/a/x.jpg","jump_url":"http://h/j","prompt":"use \"code\" SAVE10","sort":2},)"
          R"( 7, {"banner_url":"http://h/b.png","sort":1}])",
          &banners),
      BannerAnswer::kList);
  ASSERT_EQ(banners.size(), 3u);
  EXPECT_EQ(banners[0].sort, 2);
  EXPECT_EQ(banners[0].prompt, L"use \"code\" SAVE10");
  EXPECT_TRUE(banners[1].bannerUrl.empty());  // not an object: no picture
  EXPECT_EQ(banners[2].bannerUrl, L"http://h/b.png");
  banners.clear();
  EXPECT_EQ(window::ParseBannerAnswer(R"({"code":500,"msg":"x"})", &banners), BannerAnswer::kError);
  EXPECT_EQ(window::ParseBannerAnswer(R"({"code":"200"})", &banners), BannerAnswer::kError);
  EXPECT_EQ(window::ParseBannerAnswer(R"({"code":200,"data":[]})", &banners),
            BannerAnswer::kNoList);
  EXPECT_EQ(window::ParseBannerAnswer("<html>", &banners), BannerAnswer::kUnparsed);
  // Found by the fuzzer: nesting past jsoncpp's limit threw out of the parser.
  EXPECT_EQ(window::ParseBannerAnswer(std::string(1001, '['), &banners), BannerAnswer::kUnparsed);
  EXPECT_EQ(window::ParseBannerAnswer("[]", &banners), BannerAnswer::kList);
  EXPECT_TRUE(banners.empty());
  EXPECT_EQ(window::DurationBucketLabel(4000), "[3~6]s");
  EXPECT_EQ(window::DurationBucketLabel(2999), "[0~3]s");
  EXPECT_EQ(window::DurationBucketLabel(9000), "[9~12]s");
}

// A picture of one colour, as PNG bytes in `path`.
void writePicture(const std::string& path, uint32_t rgb) {
  fs::create_directories(fs::path(path).parent_path());
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 650, 300);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  ASSERT_EQ(cairo_surface_write_to_png(s, path.c_str()), CAIRO_STATUS_SUCCESS);
  cairo_surface_destroy(s);
}

uint32_t pixelAt(cairo_surface_t* image, int x, int y) {
  cairo_surface_flush(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  return *reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(image) +
                                            x * 4) &
         0xFFFFFF;
}

class CarouselTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    const std::string served = dir_.file("served/banners/en");
    writePicture(served + "/1.png", 0xD02020);
    writePicture(served + "/2.png", 0x20D020);
    writePicture(served + "/3.png", 0x2020D0);
  }
  ui::CPaintManagerUI& images() { return window_->GetPaintManager(); }
  std::string shown() { return window_->FindControl(L"image_play")->GetBkImage(); }
  void tick(uint32_t timer) { window_->SendUiMessage(ui::kWmTimer, timer); }
  void finishSlide() {
    for (int i = 0; i < CAnima::kSteps + 1; ++i) tick(window::kTimerSlide);
  }
  // The carousel area as the window draws it now, one row of pixels at
  // height `y` of the area.
  std::vector<uint32_t> areaRow(int y) {
    window_->FindControl<ui::CTabLayoutUI>(L"main_tablayout")->SelectItem(1);
    const ui::UiRect area = window_->FindControl(L"image_play")->GetPos();
    cairo_surface_t* shot = window_->RenderSnapshot();
    std::vector<uint32_t> row;
    for (int x = area.left; x < area.right; ++x) row.push_back(pixelAt(shot, x, area.top + y));
    cairo_surface_destroy(shot);
    return row;
  }
  // Whether the area's image is drawn from `strip`.
  bool slidesOver(const std::string& strip) { return shown().starts_with("file='" + strip + "'"); }
  // The window's banner fetch, run here, against this server.
  window::BannerFetch fetchFor(const std::string& url) {
    window::BannerFetch fetch;
    fetch.queryUrl = url;
    fetch.cacheFolder = common::utf8ToWide(dir_.file("cache"));
    fetch.events = events_.get();
    fetch.get = [](const std::string& u, std::string* body) {
      engine::CLibcurlTool curl;
      return curl.httpGet(u.c_str(), *body, false);
    };
    fetch.download = [](const std::wstring& u, const std::wstring& path) {
      std::string cdn;
      return engine::CDownLoadImpl::SuperDownloadFile(u, path, &cdn);
    };
    fetch.isPicture = [](const std::wstring& path) {
      cairo_surface_t* p = ui::DecodeImageFile(common::wideToUtf8(path));
      if (p != nullptr) cairo_surface_destroy(p);
      return p != nullptr;
    };
    return fetch;
  }
  std::vector<std::string> bannerChecks() {
    std::vector<std::string> checks;
    for (const auto& line : server_->journal()) {
      if (line.isMember("banner_check")) checks.push_back(line["banner_check"].asString());
    }
    return checks;
  }
};

// The automatic order is 1 -> 2 -> 3 -> 1; each slide is 25 steps over
// the pair's strip, the way back over the same strip, and a slide ends on
// exactly the picture the frame shows whole.
TEST_F(CarouselTest, SlidesRunThroughTheFramesAndBackOverTheirStrips) {
  openWindow();
  window_->PrepareForInstall();
  EXPECT_EQ(shown(), "FirstFrame");
  for (const char* strip : {"Merge0102.png", "Merge0103.png", "Merge0203.png"}) {
    EXPECT_NE(images().GetImage(strip), nullptr) << strip;
  }
  // The frames are the strips' halves, not pictures of their own.
  auto pixels = [](cairo_surface_t* s) { return cairo_image_surface_get_data(s); };
  EXPECT_EQ(pixels(images().GetImage("FirstFrame")), pixels(images().GetImage("Merge0102.png")));
  EXPECT_EQ(pixels(images().GetImage("Frame03")),
            pixels(images().GetImage("Merge0103.png")) + 650 * 4);
  const std::vector<uint32_t> frame1 = areaRow(150);
  const size_t pictures = images().ImageCount();
  tick(window::kTimerCarousel);
  EXPECT_TRUE(slidesOver("Merge0102.png")) << shown();
  EXPECT_TRUE(window_->FindControl<ui::COptionUI>(L"image_play_option2")->IsSelected());
  // The window answers between the pictures: a timer tick is one picture,
  // and each moves the picture on.
  const std::string first = shown();
  tick(window::kTimerSlide);
  EXPECT_NE(shown(), first);
  EXPECT_NE(areaRow(150), frame1);
  for (int i = 2; i < CAnima::kSteps; ++i) tick(window::kTimerSlide);
  const std::vector<uint32_t> lastForward = areaRow(150);
  tick(window::kTimerSlide);
  EXPECT_EQ(shown(), "Frame02");
  EXPECT_EQ(areaRow(150), lastForward);
  tick(window::kTimerCarousel);
  finishSlide();
  EXPECT_EQ(shown(), "Frame03");
  tick(window::kTimerCarousel);
  EXPECT_TRUE(slidesOver("Merge0103.png")) << shown();
  for (int i = 1; i < CAnima::kSteps; ++i) tick(window::kTimerSlide);
  EXPECT_EQ(areaRow(150), frame1);  // the last picture back
  tick(window::kTimerSlide);
  EXPECT_EQ(shown(), "FirstFrame");
  EXPECT_TRUE(window_->FindControl<ui::COptionUI>(L"image_play_option1")->IsSelected());
  // Three slides later the window keeps no more pictures than before.
  EXPECT_EQ(images().ImageCount(), pictures);

  // Choosing the dot that shows already restarts the interval, no slide.
  window_->FindControl<ui::COptionUI>(L"image_play_option1")->Selected(true);
  ui::TNotifyUI again;
  again.sType = L"selectchanged";
  again.pSender = window_->FindControl(L"image_play_option1");
  window_->GetPaintManager().SendNotify(again.pSender, L"selectchanged", 0);
  EXPECT_EQ(shown(), "FirstFrame");
  // A click on a dot slides there at once.
  window_->FindControl<ui::CTabLayoutUI>(L"main_tablayout")->SelectItem(1);
  ASSERT_TRUE(click(L"image_play_option3"));
  EXPECT_TRUE(slidesOver("Merge0103.png")) << shown();
  screenshot("carousel_sliding.png");
}

// The banner thread fetches every picture into the cache and the window
// then shows the service's pictures under the same frame names.
TEST_F(CarouselTest, BannersFromTheServiceReplaceTheFrames) {
  openWindow();
  window_->PrepareForInstall();
  const uint32_t builtIn = pixelAt(images().GetImage("FirstFrame"), 600, 20);
  window_->StartBannerThreadIfNeeded();
  ASSERT_TRUE(runUntil(
      [&] {
        return window_->FindControl(L"image_play")->GetBkImage() == "FirstFrame" &&
               pixelAt(images().GetImage("FirstFrame"), 600, 20) == 0xD02020;
      },
      seconds(20)));
  EXPECT_NE(builtIn, 0xD02020u);
  EXPECT_EQ(bannerChecks(), std::vector<std::string>{"ok"});
  for (const char* name : {"1.png", "2.png", "3.png"}) {
    EXPECT_TRUE(fs::exists(dir_.file("cache/") + name)) << name;
  }
  EXPECT_EQ(pixelAt(images().GetImage("Merge0203.png"), 700, 150), 0x2020D0u);
  EXPECT_FALSE(events_->labels("ObtainCarouselMapTime").empty() &&
               events_->ofKind("funnelEx").empty());
  tick(window::kTimerCarousel);
  finishSlide();
  EXPECT_EQ(pixelAt(images().GetImage("Frame02"), 300, 150), 0x20D020u);
  window_->FindControl<ui::CTabLayoutUI>(L"main_tablayout")->SelectItem(1);
  screenshot("carousel_banner.png");
  // Once ready, a second start asks no more.
  window_->StartBannerThreadIfNeeded();
  runUntil([] { return false; }, milliseconds(200));
  EXPECT_EQ(bannerChecks().size(), 1u);
}

// The banners arrive as pictures the banner thread has laid out: the
// window thread swaps the carousel's own pictures and strips, but every
// other picture of the window stays
// decoded, so the next paint does not decode the skin again.
TEST_F(CarouselTest, BannersReplaceOnlyTheCarouselsPictures) {
  openWindow();
  window_->PrepareForInstall();
  runUntil([] { return false; }, milliseconds(50));
  cairo_surface_t* button = images().GetImage("skin/btn_install_normal.png");
  ASSERT_NE(button, nullptr);
  cairo_surface_reference(button);  // its address stays its own
  tick(window::kTimerCarousel);
  finishSlide();
  cairo_surface_t* oldStrip = images().GetImage("Merge0102.png");
  cairo_surface_reference(oldStrip);

  window_->StartBannerThreadIfNeeded();
  ASSERT_TRUE(runUntil([&] { return pixelAt(images().GetImage("Frame02"), 300, 150) == 0x20D020; },
                       seconds(20)));
  EXPECT_EQ(images().GetImage("skin/btn_install_normal.png"), button);
  EXPECT_NE(images().GetImage("Merge0102.png"), oldStrip);
  EXPECT_EQ(window_->FindControl(L"image_play")->GetBkImage(), "Frame02");
  // The next slide runs over the banners' strip, not the old one: its
  // first step is 624 pixels of banner 2 and 26 of banner 3.
  tick(window::kTimerCarousel);
  EXPECT_TRUE(slidesOver("Merge0203.png")) << shown();
  const std::vector<uint32_t> row = areaRow(150);
  ASSERT_GT(row.size(), 600u);
  EXPECT_EQ(row[10], 0x20D020u);
  EXPECT_EQ(row[row.size() - 5], 0x2020D0u);
  cairo_surface_destroy(button);
  cairo_surface_destroy(oldStrip);
}

// A fetch that failed is no reason never to show banners: the next run
// (Try again starts the thread as Install did) asks the service again.
TEST_F(CarouselTest, AFailedFetchIsTriedAgainWithTheNextRun) {
  setMode("banners.mode", "error");
  openWindow();
  window_->PrepareForInstall();
  window_->StartBannerThreadIfNeeded();
  ASSERT_TRUE(runUntil([&] { return bannerChecks().size() == 1; }, seconds(10)));
  setMode("banners.mode", "");
  // The next run, once the failed thread has ended.
  ASSERT_TRUE(runUntil(
      [&] {
        window_->StartBannerThreadIfNeeded();
        return pixelAt(images().GetImage("FirstFrame"), 600, 20) == 0xD02020;
      },
      seconds(20)));
  EXPECT_EQ(bannerChecks(), (std::vector<std::string>{"ok", "ok"}));
}

// A picture that is not one, a missing picture, an error object, an empty
// list or a wrongly signed query leave the built-in frames; the service
// saw and judged every query.
TEST_F(CarouselTest, IncompleteOrRefusedBannersKeepTheBuiltInFrames) {
  const std::string url = window::GetBannerPicUrl(server_->baseUrl(), "en", 7,
                                                  static_cast<int64_t>(std::time(nullptr)));
  for (const char* mode : {"notimage", "missing", "error", "empty", "object"}) {
    setMode("banners.mode", mode);
    std::map<int32_t, BannerRecord> banners;
    EXPECT_FALSE(window::GetCbsBanner(fetchFor(url), &banners)) << mode;
  }
  setMode("banners.mode", "");
  std::map<int32_t, BannerRecord> banners;
  ASSERT_TRUE(window::GetCbsBanner(fetchFor(url), &banners));
  ASSERT_EQ(banners.size(), 3u);
  EXPECT_EQ(banners[2].localFile, common::utf8ToWide(dir_.file("cache")) + L"/2.png");

  std::string forged = url;
  forged.replace(forged.find("parent_pid=7"), 12, "parent_pid=8");
  std::string stale = window::GetBannerPicUrl(server_->baseUrl(), "en", 7,
                                              static_cast<int64_t>(std::time(nullptr)) - 3600);
  EXPECT_FALSE(window::GetCbsBanner(fetchFor(forged), &banners));
  EXPECT_FALSE(window::GetCbsBanner(fetchFor(stale), &banners));
  // The journal line follows the end of the response.
  std::vector<std::string> checks;
  runUntil([&] { return (checks = bannerChecks()).size() >= 8; }, seconds(5));
  ASSERT_EQ(checks.size(), 8u);
  EXPECT_EQ(checks[checks.size() - 2], "bad verify");
  EXPECT_EQ(checks.back(), "stale timestamp");
}

// With one frame there is nothing to slide, but the dots still advance.
TEST_F(CarouselTest, OneFrameNeverSlides) {
  VariantArchive variant({{"skin/anima/2.png", ""}, {"skin/anima/3.png", ""}});
  openWindow();
  window_->PrepareForInstall();
  EXPECT_EQ(shown(), "FirstFrame");
  EXPECT_EQ(images().GetImage("Merge0102.png"), nullptr);
  tick(window::kTimerCarousel);
  EXPECT_TRUE(window_->FindControl<ui::COptionUI>(L"image_play_option2")->IsSelected());
  EXPECT_EQ(shown(), "FirstFrame");
}

}  // namespace
}  // namespace window_test
