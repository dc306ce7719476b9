// orlastra-product: the demo product that the sample installer installs as
// its main executable and a web setup then starts.
//
// With a display (DISPLAY or WAYLAND_DISPLAY set and SDL able to open a
// window) it shows a small window saying "Orlastra is running"; otherwise it
// runs headless. It ends, with exit code 0, on SIGTERM or SIGINT, once the
// file named by ORLASTRA_STOP_FILE exists, or when its window is closed.
// When ORLASTRA_STARTED_FILE is set it writes there, once it runs:
//   pid=<pid>
//   mode=window|headless
//   arg=<argument>        one line per argument
// (whole, through a rename, so a reader never sees half of it).

#include <SDL.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#ifndef ORLASTRA_VERSION
#define ORLASTRA_VERSION "1.0.0.0"
#endif

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 150;
constexpr long kPollNanoseconds = 100L * 1000 * 1000;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : v;
}

bool stopFileExists() {
  const std::string path = env("ORLASTRA_STOP_FILE");
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

void reportStarted(const char* mode, int argc, char** argv) {
  const std::string path = env("ORLASTRA_STARTED_FILE");
  if (path.empty()) return;
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << "pid=" << getpid() << "\nmode=" << mode << "\n";
    for (int i = 1; i < argc; ++i) out << "arg=" << argv[i] << "\n";
  }
  std::rename(tmp.c_str(), path.c_str());
}

// SIGTERM and SIGINT stay blocked in every thread (SDL's included) and are
// taken with sigtimedwait, so a signal is never lost between two polls and
// no handler has to be async-signal-safe.
sigset_t blockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return set;
}

// True when a stop signal is pending; waits up to `nanoseconds` for one.
bool stopSignal(const sigset_t& set, long nanoseconds) {
  const timespec limit{0, nanoseconds};
  return sigtimedwait(&set, nullptr, &limit) > 0;
}

int runHeadless(const sigset_t& signals, int argc, char** argv) {
  reportStarted("headless", argc, argv);
  while (!stopSignal(signals, kPollNanoseconds) && !stopFileExists()) {
  }
  return 0;
}

void drawText(cairo_t* cr, const char* font, const std::string& text, double y) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* desc = pango_font_description_from_string(font);
  pango_layout_set_font_description(layout, desc);
  pango_layout_set_text(layout, text.c_str(), -1);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  cairo_move_to(cr, (kWidth - w) / 2.0, y);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(desc);
  g_object_unref(layout);
}

// Draws the window's one picture with Cairo and Pango, then copies it onto
// the window's surface.
void paint(SDL_Window* window) {
  SDL_Surface* target = SDL_GetWindowSurface(window);
  if (target == nullptr) return;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
  cairo_t* cr = cairo_create(surface);
  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, kHeight);
  cairo_pattern_add_color_stop_rgb(sky, 0, 0.13, 0.29, 0.53);
  cairo_pattern_add_color_stop_rgb(sky, 1, 0.05, 0.12, 0.25);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);
  cairo_set_source_rgb(cr, 1, 1, 1);
  drawText(cr, "Sans Bold 20", "Orlastra is running", 40);
  cairo_set_source_rgb(cr, 0.75, 0.83, 0.95);
  drawText(cr, "Sans 11", std::string("version ") + ORLASTRA_VERSION + "  \u00b7  pid " +
                              std::to_string(getpid()), 88);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  // Cairo's ARGB32 is SDL's ARGB8888 on every machine: both are native
  // 32-bit words.
  SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormatFrom(
      cairo_image_surface_get_data(surface), kWidth, kHeight, 32,
      cairo_image_surface_get_stride(surface), SDL_PIXELFORMAT_ARGB8888);
  if (picture != nullptr) {
    SDL_BlitSurface(picture, nullptr, target, nullptr);
    SDL_FreeSurface(picture);
    SDL_UpdateWindowSurface(window);
  }
  cairo_surface_destroy(surface);
}

bool windowEnded(const SDL_Event& ev, SDL_Window* window) {
  if (ev.type == SDL_QUIT) return true;
  if (ev.type != SDL_WINDOWEVENT) return false;
  if (ev.window.event == SDL_WINDOWEVENT_CLOSE) return true;
  if (ev.window.event == SDL_WINDOWEVENT_EXPOSED || ev.window.event == SDL_WINDOWEVENT_SHOWN ||
      ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
    paint(window);
  }
  return false;
}

// Returns false without a window when SDL cannot open one.
bool runWindow(const sigset_t& signals, int argc, char** argv) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  SDL_Window* window = SDL_CreateWindow("Orlastra", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                        kWidth, kHeight, SDL_WINDOW_SHOWN);
  if (window == nullptr) {
    SDL_Quit();
    return false;
  }
  paint(window);
  reportStarted("window", argc, argv);
  bool done = false;
  while (!done) {
    SDL_Event ev;
    if (SDL_WaitEventTimeout(&ev, static_cast<int>(kPollNanoseconds / 1000000)) == 1) {
      done = windowEnded(ev, window);
    }
    done = done || stopSignal(signals, 0) || stopFileExists();
  }
  SDL_DestroyWindow(window);
  SDL_Quit();
  return true;
}

bool hasDisplay() { return !env("DISPLAY").empty() || !env("WAYLAND_DISPLAY").empty(); }

}  // namespace

int main(int argc, char** argv) {
  const sigset_t signals = blockStopSignals();
  if (hasDisplay() && runWindow(signals, argc, argv)) return 0;
  return runHeadless(signals, argc, argv);
}
