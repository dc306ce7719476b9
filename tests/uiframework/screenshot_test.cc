#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "test_archive.h"
#include "test_window.h"
#include "uiframework/automation.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "uiframework/layout_builder.h"

namespace ui {
namespace {

using testing_window::RecordingWindow;

// Pixels of `rect` that differ between two renders of the same size.
int differingPixels(cairo_surface_t* a, cairo_surface_t* b, const UiRect& rect) {
  int stride = cairo_image_surface_get_stride(a);
  const unsigned char* pa = cairo_image_surface_get_data(a);
  const unsigned char* pb = cairo_image_surface_get_data(b);
  int n = 0;
  int w = cairo_image_surface_get_width(a), h = cairo_image_surface_get_height(a);
  for (int y = std::max(0, rect.top); y < std::min(h, rect.bottom); ++y) {
    for (int x = std::max(0, rect.left); x < std::min(w, rect.right); ++x) {
      auto* qa = reinterpret_cast<const uint32_t*>(pa + y * stride) + x;
      auto* qb = reinterpret_cast<const uint32_t*>(pb + y * stride) + x;
      n += *qa != *qb;
    }
  }
  return n;
}

class ScreenshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    SetSkinArchiveOverride(nullptr);
    window_ = std::make_unique<RecordingWindow>("InstallMainWnd.xml");
    ASSERT_TRUE(window_->Create(0, L"setup", 0, 0, 650, 560));
    ASSERT_EQ(window_->GetLoadError(), "");
    window_->ShowWindow(true);
  }

  // Copies the texts of a language file onto the window, as the setup does.
  void applyLanguage(const std::string& file, const std::wstring& licence) {
    CDialogBuilder builder;
    EnumUiResult result;
    auto root = builder.Create("language/" + file, *window_->GetPaintManager().GetArchive(),
                               nullptr, &result);
    ASSERT_NE(root, nullptr);
    auto* page = dynamic_cast<CContainerUI*>(
        CPaintManagerUI::FindSubControlByName(root.get(), L"install_page"));
    ASSERT_NE(page, nullptr);
    for (int i = 0; i < page->GetCount(); ++i) {
      CControlUI* target = window_->FindControl(page->GetItemAt(i)->GetName());
      if (target != nullptr) target->SetText(page->GetItemAt(i)->GetText());
    }
    window_->FindControl(L"license_text")->SetText(window_->FindControl(licence)->GetText());
  }

  std::string artifact(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(WEBSETUP_BUILD_DIR) / "test-artifacts";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }

  // Renders once with `name`'s text and once without it; returns how many
  // pixels of the control the text changed.
  int inkOf(const std::wstring& name) {
    CControlUI* c = window_->FindControl(name);
    std::wstring text = c->GetText();
    cairo_surface_t* with = window_->RenderSnapshot();
    c->SetText(L"");
    cairo_surface_t* without = window_->RenderSnapshot();
    c->SetText(text);
    int n = differingPixels(with, without, c->GetPos());
    cairo_surface_destroy(with);
    cairo_surface_destroy(without);
    return n;
  }

  std::unique_ptr<RecordingWindow> window_;
};

// The main window in English and in Simplified Chinese: the texts are
// really drawn (the fonts exist and the glyphs land where the controls
// are), and the two languages differ where their texts do.
TEST_F(ScreenshotTest, MainWindowDrawsTextsInEnglishAndChinese) {
  applyLanguage("language_english.xml", L"license_english");
  ASSERT_TRUE(automation::Screenshot(window_.get(), artifact("main_english.png")));
  int install_en = inkOf(L"install_btn");
  int link_en = inkOf(L"license_link");
  int licence_en = inkOf(L"license_text");
  EXPECT_GT(install_en, 60);
  EXPECT_GT(link_en, 300);
  EXPECT_GT(licence_en, 3000);
  cairo_surface_t* english = window_->RenderSnapshot();

  applyLanguage("language_chinese.xml", L"license_chinese");
  ASSERT_TRUE(automation::Screenshot(window_.get(), artifact("main_chinese.png")));
  EXPECT_EQ(automation::Text(window_.get(), L"install_btn"), L"安装");
  EXPECT_GT(inkOf(L"install_btn"), 60);
  EXPECT_GT(inkOf(L"license_link"), 300);
  EXPECT_GT(inkOf(L"license_text"), 3000);
  cairo_surface_t* chinese = window_->RenderSnapshot();
  UiRect button = window_->FindControl(L"install_btn")->GetPos();
  EXPECT_GT(differingPixels(english, chinese, button), 60);
  cairo_surface_destroy(english);
  cairo_surface_destroy(chinese);
}

// The running page and the closed lower area, as the install shows them.
TEST_F(ScreenshotTest, RunningPageShowsProgress) {
  applyLanguage("language_english.xml", L"license_english");
  window_->FindControl<CTabLayoutUI>(L"main_tablayout")->SelectItem(1);
  window_->ResizeClient(650, 360);
  window_->FindControl(L"install_label")
      ->SetText(L"{f 4}{c #000000}Installing, please wait...{/c} {/f}{f 0}{c #28BF74}42%{/c}{/f}");
  auto* bar = window_->FindControl<CProgressUI>(L"install_progress");
  cairo_surface_t* empty = window_->RenderSnapshot();
  bar->SetValue(42);
  cairo_surface_t* filled = window_->RenderSnapshot();
  UiRect r = bar->GetPos();
  int changed = differingPixels(empty, filled, r);
  // About 42 % of the bar changes colour, none of it past the value.
  EXPECT_GT(changed, r.width() * r.height() * 35 / 100);
  EXPECT_EQ(differingPixels(empty, filled,
                            UiRect{r.left + r.width() / 2, r.top, r.right, r.bottom}),
            0);
  cairo_surface_destroy(empty);
  cairo_surface_destroy(filled);
  EXPECT_TRUE(automation::IsVisible(window_.get(), L"image_play_option1"));
  EXPECT_FALSE(automation::IsVisible(window_.get(), L"install_btn"));
  EXPECT_TRUE(automation::Screenshot(window_.get(), artifact("running_english.png")));
}

const char kFormLayout[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<Window size="320,150">
  <Font id="0" name="Tahoma" size="13" default="true"/>
  <VerticalLayout bkcolor="#FFF5F7FA" inset="16,16,16,16" childpadding="12">
    <Edit name="path" height="32" bkcolor="#FFFFFFFF" bordercolor="#FFD5DAE1" bordersize="1"
          borderround="6" text="/opt/Orlastra/Program Files"/>
    <HorizontalLayout height="34" childpadding="10">
      <Control/>
      <Button name="cancel" width="90" text="Cancel" bkcolor="#FFFFFFFF" bordercolor="#FFD5DAE1"
              bordersize="1" borderround="6"/>
      <Button name="install" width="90" text="Install" bkcolor="#FF2F7BFF" textcolor="#FFFFFFFF"
              borderround="6"/>
    </HorizontalLayout>
    <Control name="swatch" float="true" pos="0,0,10,10" bkcolor="#FFFF0000"/>
  </VerticalLayout>
</Window>)";

// A small form at a chosen scale, for what a person sees of the keyboard
// and of high-density displays.
class ScaledScreenshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    archive_ = testing_archive::make({{"form.xml", kFormLayout}});
    ASSERT_NE(archive_, nullptr);
    SetSkinArchiveOverride(archive_);
  }
  void TearDown() override {
    SetUiScale(0);
    SetSkinArchiveOverride(nullptr);
  }
  std::unique_ptr<RecordingWindow> open() {
    auto w = std::make_unique<RecordingWindow>("form.xml");
    EXPECT_TRUE(w->Create(0, L"form", 0, 0, 10, 10));
    w->ShowWindow(true);
    return w;
  }
  std::string artifact(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(WEBSETUP_BUILD_DIR) / "test-artifacts";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }
  static uint32_t pixel(cairo_surface_t* s, int x, int y) {
    auto* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<uint32_t*>(row)[x];
  }
  std::shared_ptr<SkinArchive> archive_;
};

// At scale 2 the screenshot has twice the pixels each way and a control
// covers twice its layout rectangle, while layout and mouse stay in layout
// pixels; the environment variable sets the scale when the program does
// not, and a bad value falls back to 1.
TEST_F(ScaledScreenshotTest, ScaledWindowsRenderMorePixels) {
  SetUiScale(2);
  auto window = open();
  EXPECT_EQ(window->GetScale(), 2.0);
  std::string path = artifact("form_2x.png");
  ASSERT_TRUE(automation::Screenshot(window.get(), path));
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), 640);
  EXPECT_EQ(cairo_image_surface_get_height(png), 300);
  EXPECT_EQ(pixel(png, 19, 19), 0xFFFF0000u);  // the 10 x 10 swatch, doubled
  EXPECT_NE(pixel(png, 21, 21), 0xFFFF0000u);
  cairo_surface_destroy(png);
  EXPECT_EQ(window->FindControl(L"install")->GetPos().right, 304);
  ASSERT_TRUE(automation::Click(window.get(), L"install"));
  EXPECT_EQ(window->events.back(), "click:install");

  SetUiScale(0);
  setenv("WEBSETUP_UI_SCALE", "1.5", 1);
  EXPECT_EQ(open()->GetScale(), 1.5);
  setenv("WEBSETUP_UI_SCALE", "abc", 1);
  EXPECT_EQ(open()->GetScale(), 1.0);
  unsetenv("WEBSETUP_UI_SCALE");
}

// Pictures to look at: a field holding a selection beside the focused
// Install button (ring), the field focused with its caret, and a
// composition in progress, at scales 1 and 2.
TEST_F(ScaledScreenshotTest, SelectionCaretAndFocusRingPictures) {
  for (double scale : {1.0, 2.0}) {
    SetUiScale(scale);
    auto window = open();
    std::string suffix = scale == 1.0 ? ".png" : "_2x.png";
    ASSERT_TRUE(automation::Click(window.get(), L"path"));
    auto* edit = window->FindControl<CEditUI>(L"path");
    edit->SetSel(5, 13);  // "Orlastra"
    ASSERT_TRUE(automation::Screenshot(window.get(), artifact("edit_focused" + suffix)));
    EXPECT_FALSE(edit->GetCaretRect().empty());
    automation::PressKey(window.get(), kKeyTab);
    automation::PressKey(window.get(), kKeyTab);
    EXPECT_EQ(automation::FocusedName(window.get()), L"install");
    ASSERT_TRUE(automation::Screenshot(window.get(), artifact("button_focused" + suffix)));
    EXPECT_EQ(edit->GetSelText(), L"Orlastra");
    // A composition in progress, its cursor after the second character.
    ASSERT_TRUE(automation::Click(window.get(), L"path"));
    automation::PressKey(window.get(), kKeyEnd);
    automation::Compose(window.get(), "にほん", 2);
    ASSERT_TRUE(automation::Screenshot(window.get(), artifact("edit_composing" + suffix)));
  }
}

}  // namespace
}  // namespace ui
