#ifndef WEBSETUP_WINDOW_ANIMA_H_
#define WEBSETUP_WINDOW_ANIMA_H_

// CAnima: the carousel's pictures and its horizontal slide. It draws every
// frame with its language text once into a strip per pair of frames
// ("Merge0102.png" holds frames 1 and 2 side by side) and keeps the strips
// in the window's image cache; the frames there ("FirstFrame", "Frame02",
// ...) share the strips' pixels. Each of the 25 pictures of a slide is the
// strip seen through a frame-sized window, so a slide allocates nothing.
// The window drives a slide with a 50 ms timer calling Step(), so it keeps
// painting and answering during it. Window thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

namespace ui {
class CControlUI;
class CPaintManagerUI;
class SkinArchive;
}  // namespace ui

namespace window {

// The banners as the carousel's frames, decoded and scaled on the banner
// thread so the window thread only lays them out. Owns its pictures.
class BannerFrames {
 public:
  BannerFrames() = default;
  ~BannerFrames();
  BannerFrames(BannerFrames&& other) noexcept;
  BannerFrames& operator=(BannerFrames&& other) noexcept;
  BannerFrames(const BannerFrames&) = delete;
  BannerFrames& operator=(const BannerFrames&) = delete;

  // Takes `picture` (one reference) as frame `frame` (from 1).
  void Set(int frame, cairo_surface_t* picture);
  // Frame `frame`, or null when it has none; the reference stays here.
  cairo_surface_t* Get(int frame) const;

 private:
  void Clear();
  std::vector<cairo_surface_t*> frames_;  // [0] unused
};

// The frames for the banners folder + N + extension, each missing one
// replaced by the built-in frame of `archive`, scaled to width x height.
// Reads files and decodes; any thread.
BannerFrames BuildBannerFrames(const std::wstring& folder, const std::wstring& extension,
                               int frameCount, int width, int height,
                               const std::shared_ptr<ui::SkinArchive>& archive);

class CAnima {
 public:
  static constexpr int kSteps = 25;
  static constexpr int kStepMs = 50;

  struct Setup {
    ui::CPaintManagerUI* images = nullptr;  // the window's image cache
    ui::CControlUI* area = nullptr;         // image_play: shows the pictures
    int frameCount = 0;
    int width = 650, height = 300;
    // A control of the window by name (null when it has none): the frame
    // texts come from anima_text_N and anima_text_extra_N.
    std::function<ui::CControlUI*(const std::wstring&)> findControl;
    int32_t softwareId = 0;        // 10 draws white text
    std::string fontFamily;        // the language's carousel font
  };

  explicit CAnima(Setup setup);

  // (Re)builds the strips: the built-in frames skin/anima/N.png with the
  // language texts when `folder` is empty, else folder + N + extension
  // (each missing one replaced by the built-in frame, without texts).
  void Init(const std::wstring& folder, const std::wstring& extension);
  // Shows `frames` (built off the window thread) in place of the frames so
  // far: the old frames and strips go first, then the new strips are
  // joined from the new frames.
  void Adopt(const BannerFrames& frames);
  // Starts the slide from frame `from` to frame `to`. Returns false when
  // there is nothing to slide (one frame, the same frame); a slide still
  // running ends at its last picture first.
  bool Play(int from, int to);
  // The next picture of the running slide; false when it has ended (the
  // target frame shows).
  bool Step();
  bool Sliding() const { return step_ > 0; }
  // Shows frame `frame` whole.
  void ShowFrame(int frame);

  int StripCount() const { return strips_; }
  // The cache names, for the log and the tests.
  static std::string StripName(int i, int j);
  static std::string FrameName(int frame);
  // The area's image at step `step` (1..25) of a slide over `strip`: the
  // strip's part at 26 pixels a step (for width 650), from the left frame
  // forward and from the right one backward.
  std::string SlideImage(const std::string& strip, bool forward, int step) const;

 private:
  void HorizontalMoveAnimaInit(const std::wstring& folder, const std::wstring& extension);
  // Makes the frames and strips the cache lacks: frame n from pictures[n]
  // (scaled; with its texts when `withTexts`), the strips from the frames.
  void LayOut(const std::vector<cairo_surface_t*>& pictures, bool withTexts);
  void LoadAnimaTexts();
  void DrawFrameText(void* surface, size_t index);

  Setup setup_;
  std::vector<std::wstring> texts_, extraTexts_;
  int strips_ = 0;
  // The running slide.
  std::string strip_;
  bool forward_ = true;
  int step_ = 0;  // 0: none; 1..25 the next picture
  int target_ = 1;
};

// How many frames skin/anima/1.png, 2.png, ... the archive has, counted
// from 1 until one is missing.
int CountAnimaFrames(ui::CPaintManagerUI* images);

}  // namespace window

#endif  // WEBSETUP_WINDOW_ANIMA_H_
