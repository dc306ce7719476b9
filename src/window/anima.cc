#include "window/anima.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdio>

#include "common/log.h"
#include "common/text.h"
#include "uiframework/control.h"
#include "uiframework/image_decode.h"
#include "uiframework/markup.h"
#include "uiframework/paint_manager.h"
#include "uiframework/skin_archive.h"

namespace window {
namespace {

std::string builtInFrame(int n) { return "skin/anima/" + std::to_string(n) + ".png"; }

// Paints `picture` scaled to width x height at the origin of `cr`.
void paintScaled(cairo_t* cr, cairo_surface_t* picture, int width, int height) {
  cairo_save(cr);
  cairo_scale(cr, double(width) / cairo_image_surface_get_width(picture),
              double(height) / cairo_image_surface_get_height(picture));
  cairo_set_source_surface(cr, picture, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
}

// A copy of `picture` scaled to width x height.
cairo_surface_t* frameCopy(cairo_surface_t* picture, int width, int height) {
  cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(copy);
  paintScaled(cr, picture, width, height);
  cairo_destroy(cr);
  return copy;
}

// A white picture: the running page is white, so a slide cut from a strip
// and a frame shown whole look alike even where a picture is clear.
cairo_surface_t* whitePicture(int width, int height) {
  cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(picture);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_destroy(cr);
  return picture;
}

const cairo_user_data_key_t kStripOfView{};

// Half `half` (0 left, 1 right) of `strip` as a picture of its own that
// shares the strip's pixels and keeps the strip alive: a frame costs no
// memory beside the strips it is part of.
cairo_surface_t* halfOf(cairo_surface_t* strip, int half, int width, int height) {
  cairo_surface_flush(strip);
  unsigned char* pixels =
      cairo_image_surface_get_data(strip) + static_cast<size_t>(half) * width * 4;
  cairo_surface_t* view = cairo_image_surface_create_for_data(
      pixels, CAIRO_FORMAT_ARGB32, width, height, cairo_image_surface_get_stride(strip));
  cairo_surface_set_user_data(view, &kStripOfView, cairo_surface_reference(strip), [](void* owner) {
    cairo_surface_destroy(static_cast<cairo_surface_t*>(owner));
  });
  return view;
}

void drawCentred(cairo_t* cr, const std::wstring& text, const ui::FontSpec& font, double x,
                 double y, double w, double h, bool centreVertically) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* desc =
      pango_font_description_from_string(ui::pangoFontDescription(font).c_str());
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  const std::string utf8 = common::wideToUtf8(text);
  pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
  pango_layout_set_width(layout, static_cast<int>(w * PANGO_SCALE));
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
  int pw = 0, ph = 0;
  pango_layout_get_pixel_size(layout, &pw, &ph);
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  cairo_move_to(cr, x, centreVertically ? y + (h - ph) / 2 : y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
}

}  // namespace

int CountAnimaFrames(ui::CPaintManagerUI* images) {
  int n = 0;
  // Counted at start-up without decoding; the pictures are decoded off the
  // window thread once the first frame is out, ready for the running page.
  std::vector<std::string> frames;
  while (images != nullptr && images->HasImage(builtInFrame(n + 1))) {
    frames.push_back(builtInFrame(++n));
  }
  if (images != nullptr) images->LoadImagesInBackground(std::move(frames));
  return n;
}

CAnima::CAnima(Setup setup) : setup_(std::move(setup)) {}

std::string CAnima::StripName(int i, int j) {
  char name[32];
  std::snprintf(name, sizeof name, "Merge%02d%02d.png", i, j);
  return name;
}

std::string CAnima::FrameName(int frame) {
  if (frame == 1) return "FirstFrame";
  char name[16];
  std::snprintf(name, sizeof name, "Frame%02d", frame);
  return name;
}

void CAnima::Init(const std::wstring& folder, const std::wstring& extension) {
  HorizontalMoveAnimaInit(folder, extension);
}

void CAnima::LoadAnimaTexts() {
  texts_.clear();
  extraTexts_.clear();
  if (!setup_.findControl) return;
  for (int a = 1;; ++a) {
    ui::CControlUI* text = setup_.findControl(L"anima_text_" + std::to_wstring(a));
    ui::CControlUI* extra = setup_.findControl(L"anima_text_extra_" + std::to_wstring(a));
    if (text == nullptr && extra == nullptr) break;
    if (text != nullptr) texts_.push_back(text->GetText());
    if (extra != nullptr) extraTexts_.push_back(extra->GetText());
  }
}

void CAnima::DrawFrameText(void* surface, size_t index) {
  cairo_t* cr = cairo_create(static_cast<cairo_surface_t*>(surface));
  const uint32_t colour = setup_.softwareId == 10 ? 0xFFFFFFFF : 0xFF4A4A4A;
  cairo_set_source_rgba(cr, ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                        (colour & 0xFF) / 255.0, 1.0);
  ui::FontSpec font;
  font.family = setup_.fontFamily.empty() ? "sans-serif" : setup_.fontFamily;
  font.size_px = 15;  // 11 points
  if (index < texts_.size() && !texts_[index].empty()) {
    std::wstring text = texts_[index];
    const size_t n = text.find(L"{n}");
    if (n != std::wstring::npos) text.replace(n, 3, L"\n");
    ui::FontSpec bold = font;
    bold.bold = true;
    drawCentred(cr, text, bold, 30, 40, setup_.width - 60, 100, false);
  }
  if (index < extraTexts_.size() && !extraTexts_[index].empty()) {
    drawCentred(cr, extraTexts_[index], font, 194, 40, 178, 65, true);
  }
  cairo_destroy(cr);
}

void CAnima::HorizontalMoveAnimaInit(const std::wstring& folder, const std::wstring& extension) {
  LOG(INFO) << " AnimaInit: " << common::wideToUtf8(folder) << ", " << common::wideToUtf8(extension);
  if (!folder.empty()) {
    texts_.clear();
    extraTexts_.clear();
  } else {
    LoadAnimaTexts();
  }
  ui::CPaintManagerUI* images = setup_.images;
  // A frame already cached keeps its picture (the banners', after Try
  // again): only the missing ones are looked up, so a second run decodes
  // nothing.
  std::vector<cairo_surface_t*> pictures(static_cast<size_t>(setup_.frameCount) + 1, nullptr);
  for (int n = 1; n <= setup_.frameCount; ++n) {
    if (images->GetImage(FrameName(n)) != nullptr) continue;
    cairo_surface_t* picture = nullptr;
    if (!folder.empty()) {
      picture = images->GetImage(common::wideToUtf8(folder + std::to_wstring(n) + extension));
      if (picture == nullptr) LOG(INFO) << " AnimaInit, use default: " << n;
    }
    if (picture == nullptr) picture = images->GetImage(builtInFrame(n));
    pictures[n] = picture;
  }
  LayOut(pictures, true);
  // The skin's own pictures were only the source of the frames (0.8 MB
  // each, decoded); the area shows the frames from now on, and a later
  // init decodes them again from the archive.
  for (int n = 1; n <= setup_.frameCount; ++n) images->RemoveImage(builtInFrame(n));
  LOG(INFO) << " AnimaInit ok: " << setup_.frameCount << ", " << strips_;
}

void CAnima::LayOut(const std::vector<cairo_surface_t*>& pictures, bool withTexts) {
  ui::CPaintManagerUI* images = setup_.images;
  const int w = setup_.width, h = setup_.height, count = setup_.frameCount;
  std::vector<cairo_surface_t*> frames(static_cast<size_t>(count) + 1, nullptr);
  auto hasFrame = [&](int n) {
    return images->GetImage(FrameName(n)) != nullptr ||
           (static_cast<size_t>(n) < pictures.size() && pictures[n] != nullptr);
  };
  // The strips still missing, white, and where each new frame is drawn:
  // the first of them that holds it.
  struct NewStrip {
    int left, right;
    cairo_surface_t* picture;
  };
  std::vector<NewStrip> strips;
  std::vector<std::pair<cairo_surface_t*, int>> home(static_cast<size_t>(count) + 1, {nullptr, 0});
  strips_ = 0;
  for (int i = 1; i <= count; ++i) {
    for (int j = i + 1; j <= count; ++j) {
      if (!hasFrame(i) || !hasFrame(j)) continue;
      ++strips_;
      if (images->GetImage(StripName(i, j)) != nullptr) continue;
      strips.push_back({i, j, whitePicture(2 * w, h)});
      if (home[i].first == nullptr) home[i] = {strips.back().picture, 0};
      if (home[j].first == nullptr) home[j] = {strips.back().picture, 1};
    }
  }
  // Each new frame once, with its texts, into its home.
  for (int n = 1; n <= count; ++n) {
    frames[n] = images->GetImage(FrameName(n));
    if (frames[n] != nullptr || static_cast<size_t>(n) >= pictures.size() ||
        pictures[n] == nullptr) {
      continue;
    }
    cairo_surface_t* frame = home[n].first != nullptr ? halfOf(home[n].first, home[n].second, w, h)
                                                      : whitePicture(w, h);
    cairo_t* cr = cairo_create(frame);
    paintScaled(cr, pictures[n], w, h);
    cairo_destroy(cr);
    if (withTexts) DrawFrameText(frame, static_cast<size_t>(n - 1));
    cairo_surface_flush(frame);
    if (home[n].first != nullptr) cairo_surface_mark_dirty(home[n].first);
    images->AddImage(FrameName(n), frame);
    frames[n] = frame;  // the cache holds it now
    cairo_surface_destroy(frame);
  }
  // The other halves are copies of frames drawn above or cached before.
  for (const NewStrip& strip : strips) {
    cairo_t* cr = cairo_create(strip.picture);
    for (int side = 0; side < 2; ++side) {
      const int n = side == 0 ? strip.left : strip.right;
      if (home[n].first == strip.picture && home[n].second == side) continue;
      cairo_set_source_surface(cr, frames[n], side * w, 0);
      cairo_paint(cr);
    }
    cairo_destroy(cr);
    images->AddImage(StripName(strip.left, strip.right), strip.picture);
    cairo_surface_destroy(strip.picture);
  }
}

BannerFrames::~BannerFrames() { Clear(); }

BannerFrames::BannerFrames(BannerFrames&& other) noexcept : frames_(std::move(other.frames_)) {
  other.frames_.clear();
}

BannerFrames& BannerFrames::operator=(BannerFrames&& other) noexcept {
  if (this != &other) {
    Clear();
    frames_ = std::move(other.frames_);
    other.frames_.clear();
  }
  return *this;
}

void BannerFrames::Set(int frame, cairo_surface_t* picture) {
  if (frame < 1) return;
  if (frames_.size() <= static_cast<size_t>(frame)) frames_.resize(static_cast<size_t>(frame) + 1);
  if (frames_[frame] != nullptr) cairo_surface_destroy(frames_[frame]);
  frames_[frame] = picture;
}

cairo_surface_t* BannerFrames::Get(int frame) const {
  return frame >= 1 && static_cast<size_t>(frame) < frames_.size() ? frames_[frame] : nullptr;
}

void BannerFrames::Clear() {
  for (cairo_surface_t* frame : frames_) {
    if (frame != nullptr) cairo_surface_destroy(frame);
  }
  frames_.clear();
}

BannerFrames BuildBannerFrames(const std::wstring& folder, const std::wstring& extension,
                               int frameCount, int width, int height,
                               const std::shared_ptr<ui::SkinArchive>& archive) {
  LOG(INFO) << " AnimaInit: " << common::wideToUtf8(folder) << ", "
            << common::wideToUtf8(extension);
  BannerFrames frames;
  for (int n = 1; n <= frameCount; ++n) {
    cairo_surface_t* picture =
        ui::DecodeImageFile(common::wideToUtf8(folder + std::to_wstring(n) + extension));
    if (picture == nullptr) {
      LOG(INFO) << " AnimaInit, use default: " << n;
      std::string bytes;
      if (archive != nullptr && archive->Read(builtInFrame(n), &bytes)) {
        picture = ui::DecodeImage(bytes);
      }
    }
    if (picture == nullptr) continue;
    // The banners carry their own words: no frame texts on them.
    frames.Set(n, frameCopy(picture, width, height));
    cairo_surface_destroy(picture);
  }
  return frames;
}

void CAnima::Adopt(const BannerFrames& frames) {
  ui::CPaintManagerUI* images = setup_.images;
  // The old frames and strips go before the new ones are made, so the two
  // sets never take memory together.
  std::vector<cairo_surface_t*> pictures(static_cast<size_t>(setup_.frameCount) + 1, nullptr);
  for (int n = 1; n <= setup_.frameCount; ++n) {
    pictures[n] = frames.Get(n);
    if (pictures[n] != nullptr) images->RemoveImage(FrameName(n));
    for (int j = n + 1; j <= setup_.frameCount; ++j) images->RemoveImage(StripName(n, j));
  }
  LayOut(pictures, false);
  LOG(INFO) << " AnimaInit ok: " << setup_.frameCount << ", " << strips_;
}

void CAnima::ShowFrame(int frame) {
  if (setup_.area != nullptr) setup_.area->SetBkImage(FrameName(frame));
}

bool CAnima::Play(int from, int to) {
  if (setup_.frameCount == 1 || from == to) return false;
  if (Sliding()) {
    step_ = 0;
    ShowFrame(target_);
  }
  const int low = std::min(from, to), high = std::max(from, to);
  if (low < 1 || high > setup_.frameCount) return false;
  strip_ = StripName(low, high);
  forward_ = from < to;
  target_ = to;
  step_ = 1;
  return Step();
}

bool CAnima::Step() {
  if (step_ <= 0) return false;
  if (step_ > kSteps || setup_.images->GetImage(strip_) == nullptr) {
    step_ = 0;
    ShowFrame(target_);
    return false;
  }
  if (setup_.area != nullptr) setup_.area->SetBkImage(SlideImage(strip_, forward_, step_));
  ++step_;
  return true;
}

std::string CAnima::SlideImage(const std::string& strip, bool forward, int step) const {
  // The picture is the strip's window at the step's offset, drawn straight
  // from the strip: a slide costs no memory, where 25 cut pictures would
  // take 19 MB per strip and direction.
  const int w = setup_.width, h = setup_.height;
  const int start = forward ? 0 : w, end = forward ? w : 0;
  const int offset = start + (end - start) / kSteps * step;
  char desc[96];
  std::snprintf(desc, sizeof desc, "file='%s' source='%d,0,%d,%d'", strip.c_str(), offset,
                offset + w, h);
  return desc;
}

}  // namespace window
