// Draws every picture of the skin archive with Cairo: backgrounds, buttons,
// icons, carousel frames and splash frames. The output is committed, so the
// look can be changed here and regenerated in one run.
//
//   skin-art OUTPUT_FOLDER

#include <cairo.h>
#include <pango/pangocairo.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

namespace {

std::string g_out;

struct Rgb {
  double r, g, b;
};

constexpr Rgb kGreen{0x28 / 255.0, 0xBF / 255.0, 0x74 / 255.0};
constexpr Rgb kTeal{0x0E / 255.0, 0x8F / 255.0, 0x8C / 255.0};
constexpr Rgb kDeep{0x0B / 255.0, 0x3D / 255.0, 0x4F / 255.0};
constexpr Rgb kBlue{0x2F / 255.0, 0x80 / 255.0, 0xED / 255.0};
constexpr Rgb kInk{0x1F / 255.0, 0x29 / 255.0, 0x37 / 255.0};
constexpr Rgb kAmber{0xF5 / 255.0, 0x9E / 255.0, 0x0B / 255.0};

void source(cairo_t* cr, Rgb c, double a = 1) { cairo_set_source_rgba(cr, c.r, c.g, c.b, a); }

Rgb mix(Rgb a, Rgb b, double t) {
  return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void roundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::min(r, std::min(w, h) / 2);
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void linear(cairo_t* cr, double x0, double y0, double x1, double y1, Rgb a, Rgb b,
            double alpha = 1) {
  cairo_pattern_t* p = cairo_pattern_create_linear(x0, y0, x1, y1);
  cairo_pattern_add_color_stop_rgba(p, 0, a.r, a.g, a.b, alpha);
  cairo_pattern_add_color_stop_rgba(p, 1, b.r, b.g, b.b, alpha);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
}

// A soft glow: a radial gradient from `c` at `alpha` to transparent.
void glow(cairo_t* cr, double x, double y, double radius, Rgb c, double alpha) {
  cairo_pattern_t* p = cairo_pattern_create_radial(x, y, 0, x, y, radius);
  cairo_pattern_add_color_stop_rgba(p, 0, c.r, c.g, c.b, alpha);
  cairo_pattern_add_color_stop_rgba(p, 1, c.r, c.g, c.b, 0);
  cairo_set_source(cr, p);
  cairo_arc(cr, x, y, radius, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_pattern_destroy(p);
}

void save(const std::string& name, int w, int h, const std::function<void(cairo_t*)>& draw) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);
  draw(cr);
  cairo_destroy(cr);
  std::string path = g_out + "/" + name;
  if (cairo_surface_write_to_png(s, path.c_str()) != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
  }
  cairo_surface_destroy(s);
}

// The product mark: a ring with a bright spark on it.
void mark(cairo_t* cr, double cx, double cy, double r, Rgb ring, Rgb spark) {
  cairo_set_line_width(cr, r * 0.28);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  source(cr, ring);
  cairo_arc(cr, cx, cy, r * 0.62, M_PI * 0.75, M_PI * 2.45);
  cairo_stroke(cr);
  source(cr, spark);
  cairo_arc(cr, cx + r * 0.62 * std::cos(M_PI * 0.62), cy + r * 0.62 * std::sin(M_PI * 0.62),
            r * 0.17, 0, 2 * M_PI);
  cairo_fill(cr);
}

void hero(cairo_t* cr, int w, Rgb a, Rgb b) {
  const double band = 196;
  // The lower part is white; the hero band ends in a gentle curve.
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_save(cr);
  cairo_move_to(cr, 0, 0);
  cairo_line_to(cr, w, 0);
  cairo_line_to(cr, w, band - 18);
  cairo_curve_to(cr, w * 0.7, band + 8, w * 0.3, band - 26, 0, band - 4);
  cairo_close_path(cr);
  cairo_clip_preserve(cr);
  linear(cr, 0, 0, w, band, a, b);
  cairo_fill(cr);
  glow(cr, w * 0.12, 20, 170, Rgb{1, 1, 1}, 0.16);
  glow(cr, w * 0.92, band, 200, mix(b, kDeep, 0.5), 0.35);
  glow(cr, w * 0.5, 70, 120, Rgb{1, 1, 1}, 0.10);
  // Fine concentric arcs give the band texture without noise.
  cairo_set_line_width(cr, 1);
  for (int i = 0; i < 9; ++i) {
    cairo_set_source_rgba(cr, 1, 1, 1, 0.06);
    cairo_arc(cr, w * 0.86, -30, 90 + i * 26, 0, 2 * M_PI);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
  // A hairline under the curve separates the band from the page.
  cairo_set_source_rgba(cr, 0, 0, 0, 0.04);
  cairo_rectangle(cr, 0, 359, w, 1);
  cairo_fill(cr);
}

void pill(cairo_t* cr, int w, int h, Rgb a, Rgb b, double shadow, double lift) {
  double pad = 6;
  if (shadow > 0) {
    for (int i = 0; i < 6; ++i) {
      cairo_set_source_rgba(cr, a.r * 0.6, a.g * 0.6, a.b * 0.6, shadow / (i + 1));
      roundRect(cr, pad - i * 0.5, pad + 3 - lift + i * 0.4, w - 2 * pad + i, h - 2 * pad, h);
      cairo_fill(cr);
    }
  }
  linear(cr, 0, 0, w, h, a, b);
  roundRect(cr, pad, pad - lift, w - 2 * pad, h - 2 * pad, h);
  cairo_fill(cr);
  // A faint top highlight.
  cairo_pattern_t* p = cairo_pattern_create_linear(0, pad, 0, h / 2.0);
  cairo_pattern_add_color_stop_rgba(p, 0, 1, 1, 1, 0.22);
  cairo_pattern_add_color_stop_rgba(p, 1, 1, 1, 1, 0);
  cairo_set_source(cr, p);
  roundRect(cr, pad, pad - lift, w - 2 * pad, h - 2 * pad, h);
  cairo_fill(cr);
  cairo_pattern_destroy(p);
}

void glyphMin(cairo_t* cr, double s, double r, double g, double b, double a) {
  cairo_set_source_rgba(cr, r, g, b, a);
  cairo_set_line_width(cr, 1.6);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, s * 0.32, s * 0.52);
  cairo_line_to(cr, s * 0.68, s * 0.52);
  cairo_stroke(cr);
}

void glyphClose(cairo_t* cr, double s, double r, double g, double b, double a) {
  cairo_set_source_rgba(cr, r, g, b, a);
  cairo_set_line_width(cr, 1.6);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, s * 0.34, s * 0.34);
  cairo_line_to(cr, s * 0.66, s * 0.66);
  cairo_move_to(cr, s * 0.66, s * 0.34);
  cairo_line_to(cr, s * 0.34, s * 0.66);
  cairo_stroke(cr);
}

void captionButtons() {
  const int s = 28;
  for (int light = 0; light < 2; ++light) {
    const char* suffix = light ? "" : "_dark";
    double c = light ? 1 : 0.42;
    for (int state = 0; state < 3; ++state) {
      const char* names[] = {"normal", "hot", "pushed"};
      auto bg = [&](cairo_t* cr, bool close) {
        if (state == 0) return;
        if (close && state > 0) {
          cairo_set_source_rgba(cr, 0.94, 0.27, 0.27, state == 1 ? 0.95 : 0.8);
        } else {
          cairo_set_source_rgba(cr, c, c, c, light ? (state == 1 ? 0.18 : 0.28) : (state == 1 ? 0.10 : 0.18));
        }
        cairo_arc(cr, s / 2.0, s / 2.0, s / 2.0 - 1, 0, 2 * M_PI);
        cairo_fill(cr);
      };
      save(std::string("btn_min") + suffix + "_" + names[state] + ".png", s, s, [&](cairo_t* cr) {
        bg(cr, false);
        glyphMin(cr, s, c, c, c, 0.95);
      });
      save(std::string("btn_close") + suffix + "_" + names[state] + ".png", s, s, [&](cairo_t* cr) {
        bg(cr, true);
        double g = state > 0 ? 1 : c;
        glyphClose(cr, s, g, g, g, 0.95);
      });
    }
  }
}

void checkboxes() {
  const int s = 18;
  save("checkbox_normal.png", s, s, [&](cairo_t* cr) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    roundRect(cr, 1, 1, s - 2, s - 2, 4);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.74, 0.77, 0.81);
    cairo_set_line_width(cr, 1.3);
    cairo_stroke(cr);
  });
  save("checkbox_hot.png", s, s, [&](cairo_t* cr) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    roundRect(cr, 1, 1, s - 2, s - 2, 4);
    cairo_fill_preserve(cr);
    source(cr, kGreen);
    cairo_set_line_width(cr, 1.3);
    cairo_stroke(cr);
  });
  save("checkbox_selected.png", s, s, [&](cairo_t* cr) {
    linear(cr, 0, 0, s, s, kGreen, mix(kGreen, kTeal, 0.6));
    roundRect(cr, 0.5, 0.5, s - 1, s - 1, 4);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, 4.5, 9.3);
    cairo_line_to(cr, 7.6, 12.3);
    cairo_line_to(cr, 13.5, 5.8);
    cairo_stroke(cr);
  });
}

void gear(cairo_t* cr, double cx, double cy, double r, double red, double g, double b) {
  cairo_set_source_rgb(cr, red, g, b);
  for (int i = 0; i < 8; ++i) {
    double a = i * M_PI / 4;
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, a);
    cairo_rectangle(cr, -r * 0.16, -r, r * 0.32, r * 0.4);
    cairo_fill(cr);
    cairo_restore(cr);
  }
  cairo_arc(cr, cx, cy, r * 0.72, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_arc(cr, cx, cy, r * 0.3, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
}

void icons() {
  save("icon_settings.png", 16, 16, [](cairo_t* cr) { gear(cr, 8, 8, 7, 0.42, 0.45, 0.5); });
  save("icon_settings_hot.png", 16, 16, [](cairo_t* cr) { gear(cr, 8, 8, 7, kGreen.r, kGreen.g, kGreen.b); });
  auto badge = [](const char* name, int s, Rgb c, const char* text) {
    save(name, s, s, [&](cairo_t* cr) {
      glow(cr, s / 2.0, s / 2.0, s / 2.0, c, 0.25);
      linear(cr, 0, 0, s, s, mix(c, Rgb{1, 1, 1}, 0.15), c);
      cairo_arc(cr, s / 2.0, s / 2.0, s * 0.40, 0, 2 * M_PI);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_select_font_face(cr, "Noto Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
      cairo_set_font_size(cr, s * 0.5);
      cairo_text_extents_t e;
      cairo_text_extents(cr, text, &e);
      cairo_move_to(cr, s / 2.0 - e.width / 2 - e.x_bearing, s / 2.0 - e.height / 2 - e.y_bearing);
      cairo_show_text(cr, text);
    });
  };
  badge("message_help.png", 40, kBlue, "?");
  badge("message_exclamation.png", 40, kAmber, "!");
  save("warning.png", 20, 20, [](cairo_t* cr) {
    source(cr, kAmber);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_width(cr, 2.5);
    cairo_move_to(cr, 10, 2.5);
    cairo_line_to(cr, 18, 17);
    cairo_line_to(cr, 2, 17);
    cairo_close_path(cr);
    cairo_fill_preserve(cr);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, 9.1, 7, 1.8, 5.5);
    cairo_fill(cr);
    cairo_arc(cr, 10, 14.6, 1.1, 0, 2 * M_PI);
    cairo_fill(cr);
  });
  auto logo = [](const char* name, bool filled) {
    save(name, 64, 64, [&](cairo_t* cr) {
      if (filled) {
        linear(cr, 0, 0, 64, 64, kGreen, kTeal);
      } else {
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
      }
      roundRect(cr, 4, 4, 56, 56, 16);
      cairo_fill(cr);
      if (filled) {
        mark(cr, 32, 32, 26, Rgb{1, 1, 1}, Rgb{1, 0.86, 0.45});
      } else {
        mark(cr, 32, 32, 26, kGreen, kAmber);
      }
    });
  };
  logo("logo.png", false);
  logo("logo_running.png", true);
  logo("icon.png", true);
  // Carousel dots sit on the banner pictures.
  save("dot_normal.png", 10, 10, [](cairo_t* cr) {
    cairo_set_source_rgba(cr, 1, 1, 1, 0.5);
    cairo_arc(cr, 5, 5, 4, 0, 2 * M_PI);
    cairo_fill(cr);
  });
  save("dot_hot.png", 10, 10, [](cairo_t* cr) {
    cairo_set_source_rgba(cr, 1, 1, 1, 0.8);
    cairo_arc(cr, 5, 5, 4, 0, 2 * M_PI);
    cairo_fill(cr);
  });
  save("dot_selected.png", 10, 10, [](cairo_t* cr) {
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_arc(cr, 5, 5, 4.5, 0, 2 * M_PI);
    cairo_fill(cr);
  });
}

void buttons() {
  save("btn_install_normal.png", 260, 52, [](cairo_t* cr) { pill(cr, 260, 52, kGreen, mix(kGreen, kTeal, 0.7), 0.10, 0); });
  save("btn_install_hot.png", 260, 52, [](cairo_t* cr) { pill(cr, 260, 52, mix(kGreen, Rgb{1, 1, 1}, 0.1), kGreen, 0.16, 1); });
  save("btn_install_pushed.png", 260, 52, [](cairo_t* cr) { pill(cr, 260, 52, mix(kGreen, kDeep, 0.2), mix(kTeal, kDeep, 0.2), 0.04, -1); });
  save("btn_install_disabled.png", 260, 52, [](cairo_t* cr) { pill(cr, 260, 52, Rgb{0.78, 0.81, 0.84}, Rgb{0.72, 0.75, 0.79}, 0, 0); });
  auto small = [](const char* name, bool primary, int state) {
    save(name, 160, 28, [&](cairo_t* cr) {
      if (primary) {
        Rgb a = state == 2 ? mix(kGreen, kDeep, 0.2) : state == 1 ? mix(kGreen, Rgb{1, 1, 1}, 0.1) : kGreen;
        linear(cr, 0, 0, 160, 28, a, mix(a, kTeal, 0.5));
        roundRect(cr, 0.5, 0.5, 159, 27, 14);
        cairo_fill(cr);
      } else {
        cairo_set_source_rgb(cr, 1, 1, 1);
        if (state == 2) cairo_set_source_rgb(cr, 0.95, 0.96, 0.97);
        roundRect(cr, 0.75, 0.75, 158.5, 26.5, 14);
        cairo_fill_preserve(cr);
        if (state == 1) {
          source(cr, kGreen);
        } else {
          cairo_set_source_rgb(cr, 0.82, 0.84, 0.87);
        }
        cairo_set_line_width(cr, 1.2);
        cairo_stroke(cr);
      }
    });
  };
  small("btn_msg_yes_normal.png", true, 0);
  small("btn_msg_yes_hot.png", true, 1);
  small("btn_msg_yes_pushed.png", true, 2);
  small("btn_msg_no_normal.png", false, 0);
  small("btn_msg_no_hot.png", false, 1);
  small("btn_msg_no_pushed.png", false, 2);
}

void backgrounds() {
  save("backgroud.png", 650, 360, [](cairo_t* cr) { hero(cr, 650, kGreen, kTeal); });
  save("backgroud_complete.png", 650, 360, [](cairo_t* cr) { hero(cr, 650, kTeal, kBlue); });
  save("bg_message.png", 500, 190, [](cairo_t* cr) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    linear(cr, 0, 0, 500, 0, kGreen, kTeal);
    cairo_rectangle(cr, 0, 0, 500, 4);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.08);
    cairo_rectangle(cr, 0.5, 0.5, 499, 189);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
  });
  save("waiting.png", 320, 320, [](cairo_t* cr) {
    // A soft, even shadow: rings of falling opacity around the card.
    for (int i = 10; i >= 1; --i) {
      cairo_set_source_rgba(cr, 0, 0, 0, 0.006 * (11 - i));
      roundRect(cr, 14 - i, 16 - i, 292 + 2 * i, 292 + 2 * i, 28 + i);
      cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 1, 1, 1);
    roundRect(cr, 14, 14, 292, 292, 28);
    cairo_fill(cr);
  });
}

// Carousel frame `n`: an abstract scene per frame; the carousel writes the
// language's line of text over the left part.
void carousel(int n) {
  const Rgb from[] = {kTeal, Rgb{0.36, 0.29, 0.85}, Rgb{0.95, 0.45, 0.33}};
  const Rgb to[] = {kGreen, kBlue, Rgb{0.96, 0.66, 0.20}};
  Rgb a = from[n - 1], b = to[n - 1];
  save("anima/" + std::to_string(n) + ".png", 650, 300, [&](cairo_t* cr) {
    linear(cr, 0, 0, 650, 300, mix(a, kDeep, 0.25), b);
    cairo_paint(cr);
    glow(cr, 520, 60, 220, Rgb{1, 1, 1}, 0.18);
    glow(cr, 80, 300, 200, mix(a, kDeep, 0.5), 0.5);
    // A stack of floating cards on the right suggests the product's windows.
    for (int i = 0; i < 3; ++i) {
      double x = 380 + i * 34, y = 58 + i * 30, w = 210 - i * 20, h = 140 - i * 16;
      cairo_save(cr);
      cairo_translate(cr, x + w / 2, y + h / 2);
      cairo_rotate(cr, (-6 + i * 6 + n * 2) * M_PI / 180);
      cairo_set_source_rgba(cr, 0, 0, 0, 0.12);
      roundRect(cr, -w / 2 + 4, -h / 2 + 8, w, h, 14);
      cairo_fill(cr);
      cairo_set_source_rgba(cr, 1, 1, 1, 0.22 + i * 0.25);
      roundRect(cr, -w / 2, -h / 2, w, h, 14);
      cairo_fill(cr);
      if (i == 2) {
        linear(cr, -w / 2, 0, w / 2, 0, a, b);
        roundRect(cr, -w / 2 + 14, -h / 2 + 14, w * 0.45, 10, 5);
        cairo_fill(cr);
        cairo_set_source_rgba(cr, kInk.r, kInk.g, kInk.b, 0.12);
        for (int l = 0; l < 3; ++l) {
          roundRect(cr, -w / 2 + 14, -h / 2 + 36 + l * 16, w - 28 - l * 24, 7, 3.5);
          cairo_fill(cr);
        }
        mark(cr, w / 2 - 30, h / 2 - 28, 22, b, kAmber);
      }
      cairo_restore(cr);
    }
    // Small dots drift across the scene.
    for (int i = 0; i < 24; ++i) {
      double x = std::fmod(i * 97.0 + n * 41, 650), y = std::fmod(i * 53.0 + n * 29, 300);
      cairo_set_source_rgba(cr, 1, 1, 1, 0.08 + (i % 4) * 0.04);
      cairo_arc(cr, x, y, 1.5 + (i % 3), 0, 2 * M_PI);
      cairo_fill(cr);
    }
  });
}

// Splash frame `i` of 21: a ring turning around the logo.
void splash(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "gif/bg%02d.png", i);
  save(name, 320, 320, [&](cairo_t* cr) {
    double cx = 160, cy = 128, r = 50;
    cairo_set_line_width(cr, 5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_source_rgba(cr, kGreen.r, kGreen.g, kGreen.b, 0.12);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    cairo_stroke(cr);
    double start = i * 2 * M_PI / 21 - M_PI / 2;
    double sweep = M_PI * (0.55 + 0.35 * std::sin(i * 2 * M_PI / 21));
    const int segments = 24;
    for (int s = 0; s < segments; ++s) {
      double t = static_cast<double>(s) / segments;
      Rgb c = mix(kTeal, kGreen, t);
      cairo_set_source_rgba(cr, c.r, c.g, c.b, 0.25 + 0.75 * t);
      cairo_arc(cr, cx, cy, r, start + sweep * t, start + sweep * (t + 1.0 / segments));
      cairo_stroke(cr);
    }
    // Three dots under the name pulse in turn.
    for (int d = 0; d < 3; ++d) {
      double phase = std::fmod(i / 7.0 + d / 3.0, 1.0);
      double a = 0.25 + 0.75 * std::max(0.0, std::sin(phase * M_PI));
      cairo_set_source_rgba(cr, kGreen.r, kGreen.g, kGreen.b, a);
      cairo_arc(cr, 148 + d * 12, 252, 3, 0, 2 * M_PI);
      cairo_fill(cr);
    }
  });
}

// The demo's banners as the banner service hands them out: three per
// language, each a scene with a headline in that language, under
// banners/<web code>/N.png of the output folder.
struct BannerSet {
  const char* code;
  const char* lines[3];
};

void banners() {
  static const BannerSet kSets[] = {
      {"en", {"Orlastra 2 is here", "Your projects, in sync everywhere", "Loved by two million creators"}},
      {"zh-cn", {"Orlastra 2 全新登场", "你的项目，随时随地同步", "两百万创作者的选择"}},
      {"zh-tw", {"Orlastra 2 全新登場", "你的專案，隨時隨地同步", "兩百萬創作者的選擇"}},
      {"ja", {"Orlastra 2 登場", "プロジェクトをどこでも同期", "200万人のクリエイターが愛用"}},
      {"ko", {"Orlastra 2 출시", "어디서나 동기화되는 프로젝트", "200만 크리에이터의 선택"}},
      {"de", {"Orlastra 2 ist da", "Ihre Projekte, überall synchron", "Von zwei Millionen Kreativen geschätzt"}},
      {"fr", {"Orlastra 2 est arrivé", "Vos projets synchronisés partout", "Adopté par deux millions de créateurs"}},
      {"es", {"Llega Orlastra 2", "Tus proyectos, sincronizados en todas partes", "Dos millones de creadores lo eligen"}},
      {"ru", {"Встречайте Orlastra 2", "Ваши проекты синхронизированы везде", "Выбор двух миллионов авторов"}},
      {"ar", {"Orlastra 2 وصل", "مشاريعك متزامنة في كل مكان", "يحبه مليونا مبدع"}},
  };
  const Rgb from[] = {kDeep, Rgb{0.22, 0.18, 0.55}, Rgb{0.55, 0.20, 0.22}};
  const Rgb to[] = {kTeal, kBlue, kAmber};
  mkdir((g_out + "/banners").c_str(), 0755);
  for (const BannerSet& set : kSets) {
    mkdir((g_out + "/banners/" + set.code).c_str(), 0755);
    for (int n = 1; n <= 3; ++n) {
      save(std::string("banners/") + set.code + "/" + std::to_string(n) + ".png", 650, 300, [&](cairo_t* cr) {
        linear(cr, 0, 0, 650, 300, from[n - 1], to[n - 1]);
        cairo_paint(cr);
        glow(cr, 560, 40, 260, Rgb{1, 1, 1}, 0.20);
        for (int i = 0; i < 5; ++i) {
          cairo_set_source_rgba(cr, 1, 1, 1, 0.06 + i * 0.02);
          cairo_arc(cr, 520 + i * 18 - n * 10, 170 - i * 6, 120 - i * 18, 0, 2 * M_PI);
          cairo_fill(cr);
        }
        mark(cr, 540, 200, 40, kGreen, kAmber);
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* font = pango_font_description_from_string("Noto Sans Bold 30px");
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        pango_layout_set_width(layout, 460 * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_context_set_language(pango_layout_get_context(layout),
                                   pango_language_from_string(set.code));
        pango_layout_context_changed(layout);
        pango_layout_set_text(layout, set.lines[n - 1], -1);
        int w = 0, h = 0;
        pango_layout_get_pixel_size(layout, &w, &h);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.96);
        cairo_move_to(cr, 44, (300 - h) / 2.0 - 10);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
        roundRect(cr, 44, (300 + h) / 2.0 + 8, 64, 6, 3);
        cairo_fill(cr);
      });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--banners") {
    g_out = argv[2];
    mkdir(g_out.c_str(), 0755);
    banners();
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: skin-art OUTPUT_FOLDER (skin_archive/skin)\n"
                 "       skin-art --banners FOLDER (the demo's banner pictures)\n");
    return 2;
  }
  g_out = argv[1];
  mkdir(g_out.c_str(), 0755);
  mkdir((g_out + "/anima").c_str(), 0755);
  mkdir((g_out + "/gif").c_str(), 0755);
  backgrounds();
  captionButtons();
  checkboxes();
  icons();
  buttons();
  for (int n = 1; n <= 3; ++n) carousel(n);
  for (int i = 0; i <= 20; ++i) splash(i);
  return 0;
}
