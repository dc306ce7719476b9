#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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

}  // namespace
}  // namespace ui
