// Links every library of a Windows sysroot statically and uses each once:
// prints their versions, round-trips a zip, and draws a PNG with cairo and
// pango's Win32 font map. Not part of the product; scripts/windows/smoke.sh
// builds it against a sysroot and runs it under Wine.
#include <cairo.h>
#include <curl/curl.h>
#include <fribidi.h>
#include <glib.h>
#include <hb.h>
#include <json/json.h>
#include <pango/pangocairo.h>
#include <pixman.h>
#include <png.h>
#include <tinyxml2.h>
#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (!ok) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

void smoke_curl() {
  check(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK, "curl_global_init");
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  std::printf("curl      %s\n", curl_version());
  check(info->ssl_version && std::strstr(info->ssl_version, "Schannel"), "curl uses Schannel");
  CURL* easy = curl_easy_init();
  check(easy != nullptr, "curl_easy_init");
  curl_easy_cleanup(easy);
  curl_global_cleanup();
}

void smoke_tinyxml2() {
  tinyxml2::XMLDocument doc;
  doc.Parse("<setup><product name=\"Orlastra\"/></setup>");
  const tinyxml2::XMLElement* product =
      doc.FirstChildElement("setup") ? doc.FirstChildElement("setup")->FirstChildElement("product")
                                     : nullptr;
  std::printf("tinyxml2  %d.%d.%d (parsed product %s)\n", TIXML2_MAJOR_VERSION,
              TIXML2_MINOR_VERSION, TIXML2_PATCH_VERSION,
              product ? product->Attribute("name") : "?");
  check(product != nullptr, "tinyxml2 parse");
}

void smoke_jsoncpp() {
  const std::string text = R"({"segments": [1, 2, 3], "resume": true})";
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  bool ok = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
  std::printf("jsoncpp   %s (%u segments)\n", JSONCPP_VERSION_STRING,
              ok ? root["segments"].size() : 0u);
  check(ok && root["resume"].asBool(), "jsoncpp parse");
}

void smoke_libzip(const std::string& path) {
  static const char payload[] = "websetup smoke payload";
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  check(archive != nullptr, "zip_open for writing");
  if (!archive) return;
  zip_source_t* source = zip_source_buffer(archive, payload, sizeof payload - 1, 0);
  check(zip_file_add(archive, "payload.txt", source, ZIP_FL_ENC_UTF_8) >= 0, "zip_file_add");
  check(zip_close(archive) == 0, "zip_close");

  archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
  check(archive != nullptr, "zip_open for reading");
  if (!archive) return;
  char back[64] = {};
  zip_file_t* file = zip_fopen(archive, "payload.txt", 0);
  zip_int64_t n = file ? zip_fread(file, back, sizeof back - 1) : -1;
  if (file) zip_fclose(file);
  zip_close(archive);
  std::printf("libzip    %s (read back %lld bytes)\n", zip_libzip_version(), (long long)n);
  check(n == (zip_int64_t)(sizeof payload - 1) && std::strcmp(back, payload) == 0,
        "libzip round trip");
}

void smoke_graphics(const std::string& png_path) {
  std::printf("cairo     %s\n", cairo_version_string());
  std::printf("pixman    %s\n", pixman_version_string());
  std::printf("libpng    %s\n", png_get_libpng_ver(nullptr));
  std::printf("zlib      %s\n", zlibVersion());
  std::printf("glib      %u.%u.%u\n", glib_major_version, glib_minor_version, glib_micro_version);
  // fribidi's version text is a whole banner; its first line names it.
  const std::string fribidi = fribidi_version_info;
  std::printf("fribidi   %s\n", fribidi.substr(0, fribidi.find('\n')).c_str());
  std::printf("harfbuzz  %s\n", hb_version_string());
  std::printf("pango     %s\n", pango_version_string());

  const int width = 520, height = 150;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);

  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, width, height);
  cairo_pattern_add_color_stop_rgb(sky, 0, 0.10, 0.32, 0.70);
  cairo_pattern_add_color_stop_rgb(sky, 1, 0.05, 0.65, 0.55);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);

  cairo_set_source_rgba(cr, 1, 1, 1, 0.25);
  cairo_arc(cr, width - 70, 75, 50, 0, 2 * G_PI);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 0.8, 0.2);
  cairo_rectangle(cr, 20, 112, (width - 40) * 0.62, 16);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 2);
  cairo_rectangle(cr, 20, 112, width - 40, 16);
  cairo_stroke(cr);

  // The Win32 font map: the fonts come from GDI, not fontconfig.
  PangoFontMap* font_map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_WIN32);
  check(font_map != nullptr, "pango Win32 font map");
  if (font_map) {
    PangoContext* context = pango_font_map_create_context(font_map);
    pango_cairo_update_context(cr, context);
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* desc = pango_font_description_from_string("Sans Bold 17");
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_text(layout, "websetup on Windows: cairo + pango", -1);
    int text_w = 0, text_h = 0;
    pango_layout_get_pixel_size(layout, &text_w, &text_h);
    cairo_move_to(cr, 20, 30);
    pango_cairo_show_layout(cr, layout);

    PangoFont* font = pango_font_map_load_font(font_map, context, desc);
    char* used = font ? pango_font_description_to_string(pango_font_describe(font)) : nullptr;
    std::printf("layout    %s: %dx%d px, font %s\n", G_OBJECT_TYPE_NAME(font_map), text_w, text_h,
                used ? used : "?");
    check(text_w > 100 && text_h > 10, "pango layout has a size");
    g_free(used);
    if (font) g_object_unref(font);
    pango_font_description_free(desc);
    g_object_unref(layout);
    g_object_unref(context);
    g_object_unref(font_map);
  }

  cairo_destroy(cr);
  cairo_surface_flush(surface);
  check(cairo_surface_write_to_png(surface, png_path.c_str()) == CAIRO_STATUS_SUCCESS,
        "cairo_surface_write_to_png");
  cairo_surface_destroy(surface);
  std::printf("wrote     %s\n", png_path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "smoke";
  smoke_curl();
  smoke_tinyxml2();
  smoke_jsoncpp();
  smoke_libzip(out + ".zip");
  smoke_graphics(out + ".png");
  std::printf("%s\n", failures == 0 ? "smoke: all libraries work" : "smoke: FAILED");
  return failures == 0 ? 0 : 1;
}
