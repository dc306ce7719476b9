// The twenty languages as the window and its boxes show them: the files of
// the archive against the English one, the start language, live switching
// with each licence, right-to-left Arabic, fonts for every script, the
// message boxes' texts, buttons and owner effects, and a set of pictures
// per language kept as artifacts for the eye.

#include <cairo.h>
#include <pango/pangocairo.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "common/text.h"
#include "install/window_messages.h"
#include "platform/os_info.h"
#include "platform/registry.h"
#include "uiframework/automation.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "uiframework/markup.h"
#include "uiframework/render.h"
#include "uiframework/window.h"
#include "window/languages.h"
#include "window/message_box_wnd.h"
#include "window_test_support.h"
#include "zip/zip_writer.h"

namespace window_test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::map<std::wstring, std::wstring> textsOf(const std::wstring& page, int language) {
  std::map<std::wstring, std::wstring> texts;
  window::VisitLanguageTexts(page, language, [&](const std::wstring& key, const std::wstring& text) {
    texts[key] = text;
  });
  return texts;
}

// The markup tags and the printf conversions of a text, in order.
std::vector<std::string> tokensOf(const std::wstring& text) {
  static const std::regex kToken(R"(\{/?[a-z][^}]*\}|%[-+ 0#]*[0-9]*(\.[0-9]*)?[a-zA-Z%])");
  const std::string utf8 = common::wideToUtf8(text);
  std::vector<std::string> tokens;
  for (auto it = std::sregex_iterator(utf8.begin(), utf8.end(), kToken); it != std::sregex_iterator();
       ++it) {
    tokens.push_back(it->str());
  }
  return tokens;
}

TEST(LanguageFilesTest, EveryFileHasTheEnglishKeysFormatsAndMarkup) {
  for (const wchar_t* page : {L"install_page", L"message_page"}) {
    const auto english = textsOf(page, window::kEnglish);
    ASSERT_GT(english.size(), 25u) << common::wideToUtf8(page);
    for (int language = 0; language < window::kLanguageCount; ++language) {
      SCOPED_TRACE(window::Language(language).file);
      const auto texts = textsOf(page, language);
      for (const auto& [key, englishText] : english) {
        SCOPED_TRACE(common::wideToUtf8(key));
        auto it = texts.find(key);
        ASSERT_NE(it, texts.end());
        const std::wstring& text = it->second;
        // The vendor's binding replaced every placeholder.
        EXPECT_EQ(text.find(L"#@!"), std::wstring::npos);
        // The Simplified Chinese texts are the ones the product shipped
        // with; one of them is left empty there on purpose.
        if (language == window::kChineseSimplified) continue;
        EXPECT_EQ(text.empty(), englishText.empty());
        EXPECT_EQ(tokensOf(text), tokensOf(englishText));
        if (language != window::kEnglish && englishText.size() > 12) {
          EXPECT_NE(text, englishText) << "left in English";
        }
      }
      EXPECT_EQ(texts.size(), english.size());
    }
  }
}

TEST(LanguageFilesTest, EveryScriptHasItsGlyphs) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 16, 16);
  cairo_t* cr = cairo_create(surface);
  ui::FontSpec font;
  font.family = "Microsoft YaHei";
  font.size_px = 14;
  std::vector<ui::FontSpec> fonts{font};
  ui::MarkupStyle style;
  style.fonts = &fonts;
  for (int language = 0; language < window::kLanguageCount; ++language) {
    ui::SetTextLanguage(window::Language(language).textTag);
    for (const wchar_t* page : {L"install_page", L"message_page"}) {
      for (const auto& [key, text] : textsOf(page, language)) {
        const ui::MarkupResult markup = ui::convertMarkup(text, style);
        double y = 0;
        PangoLayout* layout = ui::CreateTextLayout(cr, markup, ui::UiRect{0, 0, 400, 100}, 0, &y);
        EXPECT_EQ(pango_layout_get_unknown_glyphs_count(layout), 0)
            << window::Language(language).file << " " << common::wideToUtf8(key);
        g_object_unref(layout);
      }
    }
  }
  ui::SetTextLanguage(nullptr);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

TEST(LanguageTest, TablesAndSystemLanguages) {
  EXPECT_EQ(window::LanguageOfLanguageId(1041), window::kJapanese);
  EXPECT_EQ(window::LanguageOfLanguageId(2049), window::kEnglish);  // only 1025 is Arabic
  EXPECT_EQ(window::LanguageOfLanguageId(20490), window::kSpanish);
  EXPECT_EQ(window::LanguageOfLanguageId(5127), window::kGerman);
  EXPECT_EQ(window::LicenceAreaHeight(window::kChineseSimplified, 521), 1470);
  EXPECT_EQ(window::LicenceAreaHeight(window::kChineseSimplified, 290), 2070);
  EXPECT_EQ(window::LicenceAreaHeight(window::kChineseSimplified, 7), 1095 + 170);
  EXPECT_EQ(window::LicenceAreaHeight(window::kChineseTraditional, 1), 1095 + 170);
  EXPECT_EQ(window::LicenceAreaHeight(42, 1), 1765 + 170);
  EXPECT_STREQ(window::Language(-1).webCode, "en");
  EXPECT_EQ(window::GetLanguageText(L"install_page", L"retry_btn", window::kEnglish), L"Try again");
  EXPECT_EQ(window::GetLanguageText(L"message_page", L"YesText", window::kChineseSimplified), L"是");
  EXPECT_EQ(window::GetLanguageText(L"install_page", L"no_such_key", window::kEnglish), L"");
  EXPECT_EQ(window::GetLanguageText(L"no_such_page", L"YesText", window::kEnglish), L"");
  // Locales as systems write them, odd ones included, reach a language.
  const std::pair<const char*, int> kLocales[] = {
      {"ja_JP.UTF-8", window::kJapanese},     {"zh_TW.Big5", window::kChineseTraditional},
      {"ar_SA.UTF-8", window::kArabic},       {"ar_IQ.UTF-8", window::kEnglish},
      {"pt_BR", window::kPortuguese},         {"es_MX.UTF-8", window::kSpanish},
      {"de_AT@euro", window::kGerman},        {"C", window::kEnglish},
      {"POSIX", window::kEnglish},            {"C.UTF-8", window::kEnglish},
      {"en_US.ISO-8859-1@euro", window::kEnglish}, {"", window::kEnglish},
      {"xx_YY", window::kEnglish},            {"ms_MY.UTF-8", window::kMalay},
  };
  for (const auto& [locale, language] : kLocales) {
    EXPECT_EQ(window::LanguageOfLanguageId(platform::languageIdOfLocale(locale)), language) << locale;
  }
  EXPECT_EQ(platform::territoryOfLocale("en_US.ISO-8859-1@euro"), "US");
  EXPECT_EQ(platform::territoryOfLocale("C.UTF-8"), "");
  EXPECT_EQ(platform::territoryOfLocale(""), "");
}

// Formats come from translations: a wrong one is shown, never obeyed.
TEST(LanguageTest, FormatsTakeOnlyTheirOwnConversion) {
  using window::FormatLanguageNumber;
  using window::FormatLanguageString;
  EXPECT_EQ(FormatLanguageNumber(L"{c #000000}%0.f%%{/c} fertig", 42.4), L"{c #000000}42%{/c} fertig");
  EXPECT_EQ(FormatLanguageNumber(L"Space available : %.1fGB", 3.26), L"Space available : 3.3GB");
  EXPECT_EQ(FormatLanguageNumber(L"%s %n %d %.1f", 1.0), L"%s %n %d 1.0");
  EXPECT_EQ(FormatLanguageNumber(L"%.1f and %.1f", 2.0), L"2.0 and %.1f");
  EXPECT_EQ(FormatLanguageNumber(L"100%", 5.0), L"100%");
  EXPECT_EQ(FormatLanguageNumber(L"%999999999.99999999f", 5.0), L"%999999999.99999999f");
  EXPECT_EQ(FormatLanguageString(L"Space required : %s", L"500MB"), L"Space required : 500MB");
  EXPECT_EQ(FormatLanguageString(L"%ls / %f", L"x"), L"x / %f");
  EXPECT_EQ(FormatLanguageString(L"Space required : 500MB", L"ignored"), L"Space required : 500MB");
}

class LanguageWindowTest : public WindowFixture {
 protected:
  void TearDown() override {
    WindowFixture::TearDown();
    unsetenv("LC_ALL");
  }
  ui::CComboUI* combo() { return window_->FindControl<ui::CComboUI>(L"language_combox"); }
  bool choose(int language) {
    if (!visible(L"language_combox")) click(L"install_setting");
    return ui::automation::ChooseComboItem(window_.get(), L"language_combox", language);
  }
  void showPage(int main, int inner) {
    window_->FindControl<ui::CTabLayoutUI>(L"main_tablayout")->SelectItem(main);
    window_->FindControl<ui::CTabLayoutUI>(L"page_layout")->SelectItem(inner);
  }
  // Leftmost and rightmost columns with dark ink inside `rect` of a shot.
  std::pair<int, int> inkColumns(const std::string& png, const ui::UiRect& rect) {
    cairo_surface_t* image = cairo_image_surface_create_from_png(png.c_str());
    const int stride = cairo_image_surface_get_stride(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    int left = -1, right = -1;
    for (int y = rect.top; y < rect.bottom; ++y) {
      for (int x = rect.left; x < rect.right; ++x) {
        const uint32_t pixel = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
        const int luma = ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
        if (luma > 3 * 140) continue;
        if (left < 0 || x < left) left = x;
        if (x > right) right = x;
      }
    }
    cairo_surface_destroy(image);
    return {left, right};
  }
};

// A Japanese system with a build that offers Simplified Chinese only
// starts in Chinese: its own item and English are both hidden.
TEST_F(LanguageWindowTest, StartLanguageFollowsTheSystemAndTheOfferedItems) {
  std::string setting = VariantArchive::Source("InstallSetting.xml");
  setting = std::regex_replace(setting, std::regex(R"((<ListLabelElement[^>]*)visible="true")"),
                               "$1visible=\"false\"");
  const std::string chinese = R"(text=" 简体中文" tooltip="简体中文" visible=")";
  setting.replace(setting.find(chinese) + chinese.size(), 5, "true");
  {
    VariantArchive variant({{"InstallSetting.xml", setting}});
    setenv("LC_ALL", "ja_JP.UTF-8", 1);
    openWindow();
    EXPECT_EQ(window_->CurrentLanguage(), window::kChineseSimplified);
    EXPECT_EQ(combo()->GetCurSel(), window::kChineseSimplified);
    EXPECT_EQ(text(L"install_btn"), L"安装");
    // The other items are not offered.
    EXPECT_FALSE(choose(window::kJapanese));
    window_->WaitForAllThreadExit();
    window_.reset();
  }
  // The shipped build offers all twenty: the system's language wins, and
  // one the setup does not speak gives English.
  setenv("LC_ALL", "ja_JP.UTF-8", 1);
  openWindow();
  EXPECT_EQ(window_->CurrentLanguage(), window::kJapanese);
  EXPECT_EQ(text(L"install_btn"), window::GetLanguageText(L"install_page", L"install_btn", window::kJapanese));
  window_->WaitForAllThreadExit();
  window_.reset();
  setenv("LC_ALL", "fi_FI.UTF-8", 1);
  openWindow();
  EXPECT_EQ(window_->CurrentLanguage(), window::kEnglish);
  EXPECT_EQ(text(L"install_btn"), L"Install");
}

// Every language switches live from the combo with its own licence and
// licence height; each one's pages and its two commonest boxes are kept
// as pictures. Arabic lays its texts out from the right.
TEST_F(LanguageWindowTest, EveryLanguageSwitchesLiveWithItsLicence) {
  openWindow();
  for (int language = window::kLanguageCount - 1; language >= 0; --language) {
    const std::string name = fs::path(window::Language(language).file).stem().string();
    SCOPED_TRACE(name);
    showPage(0, 0);
    ASSERT_TRUE(choose(language));
    EXPECT_EQ(window_->CurrentLanguage(), language);
    ui::CControlUI* licence = window_->FindControl(window::Language(language).licence);
    ASSERT_NE(licence, nullptr);
    EXPECT_EQ(text(L"license_text"), licence->GetText());
    EXPECT_EQ(window_->FindControl(L"license_text_layout")->GetFixedHeight(),
              window::LicenceAreaHeight(language, 521));
    EXPECT_EQ(text(L"install_btn"), window::GetLanguageText(L"install_page", L"install_btn", language));
    EXPECT_EQ(window_->FindControl(L"start_app")->GetText(),
              window::GetLanguageText(L"install_page", L"start_app", language));
    screenshot("language/" + name + "_setting.png");
    if (language == window::kArabic || language == window::kEnglish) {
      // The path label starts at the right edge in Arabic, the left in English.
      const std::string shot = std::string(WINDOW_ARTIFACT_DIR) + "/language/" + name + "_setting.png";
      const ui::UiRect label = window_->FindControl(L"install_path_text")->GetPos();
      const auto [left, right] = inkColumns(shot, label);
      ASSERT_GE(left, 0);
      if (language == window::kArabic) {
        EXPECT_GT(right, label.right - 20) << left << ".." << right;
        EXPECT_GT(left, label.left + 30) << left << ".." << right;
      } else {
        EXPECT_LT(left, label.left + 12) << left << ".." << right;
      }
    }
    click(L"license_link");
    screenshot("language/" + name + "_licence.png");
    click(L"license_link");
    showPage(1, 1);
    window_->SetInstallProgress(42);
    runUntil([] { return false; }, milliseconds(30));  // the label follows the bar
    screenshot("language/" + name + "_running.png");
    answerNextBox(L"btn_yes", "language/" + name + "_box8.png");
    EXPECT_EQ(window_->ShowMessageBox(install::kMsgUrlFail), 1);
    answerNextBox(L"btn_no", "language/" + name + "_box14.png");
    EXPECT_EQ(window_->ShowMessageBox(install::kMsgAgree), 2);
  }
  showPage(0, 0);
}

// The setup records its language for the installed product: the product
// kind of downloader 114 has its own key and codes, where Arabic reads
// as English.
TEST_F(LanguageWindowTest, InstalledProductKeepsTheLanguage) {
  std::ifstream in(std::string(SAMPLE_INSTALLER_DIR) + "/downloader.xml");
  std::string answer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  answer = std::regex_replace(answer, std::regex("<Downloader_id>[0-9]+"), "<Downloader_id>114");
  std::ofstream(dir_.file("served/downloader_114.xml")) << answer;
  setMode("config.scenario", "downloader_114.xml");
  openWindow();
  ASSERT_TRUE(choose(window::kArabic));
  click(L"checkbox_agree");
  answerNextBox(L"btn_yes");
  ASSERT_TRUE(click(L"install_btn"));
  ASSERT_TRUE(runUntil([&] { return !started_.empty(); }, seconds(60)));
  platform::RegistryValue value;
  ASSERT_EQ(platform::registryRead(platform::RegistryHive::kCurrentUser, "Software\\Quillmont\\Travento",
                                   "Lang", &value),
            platform::PlatformResult::kOk);
  EXPECT_EQ(value.text, "en_US");
  EXPECT_EQ(events_->labels("SetLanguage"), std::vector<std::string>{"Arabic"});
}

// Each kind's texts and buttons in English and Chinese, as the language
// files hold them; one-button kinds hide the second.
TEST_F(LanguageWindowTest, MessageBoxKindsShowTheirTextsAndButtons) {
  struct Row {
    int kind;
    const wchar_t* describe;
    const wchar_t* yes;
    const wchar_t* no;  // null: hidden
  };
  const Row kRows[] = {
      {0, L"ReplaceDesText", L"ReplaceText", L"CancelText"},
      {2, L"CancelDesText", L"YesText", L"NoText"},
      {3, L"AppExistDesText", L"OkButtonText", nullptr},
      {4, L"PathErrorDesText", L"OkButtonText", nullptr},
      {6, L"InstallRunTimeOutDesText", L"ConfirmText", nullptr},
      {7, L"MD5FailDesText", L"ConfirmText", nullptr},
      {8, L"UrlFailDexText", L"ConfirmText", nullptr},
      {9, L"InternetFailDesText", L"ConfirmText", nullptr},
      {10, L"InternetTimeoutDesText", L"ConfirmText", nullptr},
      {11, L"NoEnoughSpaceDesText", L"OkButtonText", nullptr},
      {12, L"ClickShortcutToLaunchText", L"ConfirmText", nullptr},
      {13, L"NotSupportSystemDesText", L"OkButtonText", nullptr},
      {14, L"AgreeDesText", L"AgreeInstallText", L"NotAgreeText"},
  };
  openWindow();
  for (int language : {int(window::kEnglish), int(window::kChineseSimplified)}) {
    ASSERT_TRUE(choose(language));
    for (const Row& row : kRows) {
      SCOPED_TRACE(std::to_string(language) + "/" + std::to_string(row.kind));
      std::map<std::wstring, std::wstring> shown;
      bool noVisible = false;
      ui::MessageLoop::Get()->PostTask([&] {
        std::function<void()> poll;
        poll = [&] {
          window::MessageBoxWnd* box = window::MessageBoxWnd::Active();
          if (box == nullptr) return ui::MessageLoop::Get()->PostTask([&] { poll(); });
          for (const wchar_t* name : {L"msg_describe", L"btn_yes", L"btn_no"}) {
            shown[name] = ui::automation::Text(box, name);
          }
          noVisible = ui::automation::IsVisible(box, L"btn_no");
          EXPECT_TRUE(ui::automation::Click(box, row.no != nullptr ? L"btn_no" : L"btn_yes"));
        };
        poll();
      });
      // Kinds 6 and 7 clear the data and the first button says 1 for both.
      const int expected = row.no != nullptr ? 2 : 1;
      EXPECT_EQ(window_->ShowMessageBox(static_cast<install::EnumMsgType>(row.kind)), expected);
      auto word = [&](const wchar_t* key) { return window::GetLanguageText(L"message_page", key, language); };
      EXPECT_EQ(shown[L"msg_describe"], word(row.describe));
      EXPECT_EQ(shown[L"btn_yes"], word(row.yes));
      EXPECT_FALSE(shown[L"btn_yes"].empty());
      EXPECT_EQ(noVisible, row.no != nullptr);
      if (row.no != nullptr) {
        EXPECT_EQ(shown[L"btn_no"], word(row.no));
      }
    }
  }
}

// A window that counts what its boxes post to it.
class CountingWindow : public window::InstallUIMainWnd {
 public:
  using InstallUIMainWnd::InstallUIMainWnd;
  int clears = 0;
  intptr_t HandleMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    if (message == install::MSG_CLEAR_DATA) ++clears;
    return InstallUIMainWnd::HandleMessage(message, wparam, lparam);
  }
};

// Kinds 6 and 7 post exactly one clear whichever way they are dismissed;
// other kinds post none. A language file without a button's word shows
// the English one, never a blank button.
TEST_F(LanguageWindowTest, BoxesClearDataOnceAndNeverShowBlankButtons) {
  auto* counting = new CountingWindow(L"", env_);
  window_.reset(counting);
  ASSERT_TRUE(window_->Create(0, L"Setup", 0, 0, 650, 560));
  window_->ShowWindow(true);
  for (int kind : {6, 7, 8}) {
    for (const wchar_t* button : {L"closebtn", L"btn_yes"}) {
      counting->clears = 0;
      answerNextBox(button);
      window_->ShowMessageBox(static_cast<install::EnumMsgType>(kind));
      runUntil([] { return false; }, milliseconds(50));
      EXPECT_EQ(counting->clears, kind == 8 ? 0 : 1) << kind << " " << common::wideToUtf8(button);
    }
  }
  window_->WaitForAllThreadExit();
  window_.reset();

  std::string german = VariantArchive::Source("language/language_german.xml");
  german = std::regex_replace(german, std::regex(R"(<Label name="YesText"[^>]*/>)"), "");
  german = std::regex_replace(german, std::regex(R"((<Label name="NoText" text=")[^"]*)"), "$1");
  VariantArchive variant({{"language/language_german.xml", german}});
  std::wstring yes, no;
  ui::MessageLoop::Get()->PostTask([&] {
    window::MessageBoxWnd* box = window::MessageBoxWnd::Active();
    ASSERT_NE(box, nullptr);
    yes = ui::automation::Text(box, L"btn_yes");
    no = ui::automation::Text(box, L"btn_no");
    ui::automation::Click(box, L"btn_no");
  });
  EXPECT_EQ(window::MessageBoxWnd::Show(nullptr, install::kMsgCancelInstall, window::kGerman, false), 2);
  EXPECT_EQ(yes, L"Yes");
  EXPECT_EQ(no, L"No");
}

// Before any window exists the refusal box has no owner and still answers;
// with AutoRun a one-button box confirms itself after a second, and a
// two-button box waits for the person.
TEST_F(LanguageWindowTest, AutoRunConfirmsOnlyOneButtonBoxes) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(window::MessageBoxWnd::Show(nullptr, install::kMsgNotSupportSystem, window::kKorean, true), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(900));

  bool stillOpen = false;
  auto timer = std::make_shared<std::function<void()>>();
  ui::MessageLoop::Get()->PostTask([&] {
    std::thread([&] {
      std::this_thread::sleep_for(milliseconds(1500));
      ui::MessageLoop::Get()->PostTask([&] {
        window::MessageBoxWnd* box = window::MessageBoxWnd::Active();
        stillOpen = box != nullptr;
        if (box != nullptr) ui::automation::Click(box, L"btn_no");
      });
    }).detach();
  });
  EXPECT_EQ(window::MessageBoxWnd::Show(nullptr, install::kMsgAgree, window::kEnglish, true), 2);
  EXPECT_TRUE(stillOpen);

  // The plain notice: the given text and one OK in the language.
  std::wstring described, ok;
  ui::MessageLoop::Get()->PostTask([&] {
    window::MessageBoxWnd* box = window::MessageBoxWnd::Active();
    ASSERT_NE(box, nullptr);
    described = ui::automation::Text(box, L"msg_describe");
    ok = ui::automation::Text(box, L"btn_yes");
    fs::create_directories(std::string(WINDOW_ARTIFACT_DIR) + "/language");
    ui::automation::Screenshot(box, std::string(WINDOW_ARTIFACT_DIR) + "/language/plain_box.png");
    ui::automation::Click(box, L"btn_yes");
  });
  EXPECT_EQ(window::MessageBoxWnd::ShowPlain(L"Start it from the desktop.", window::kChineseSimplified, false), 1);
  EXPECT_EQ(described, L"Start it from the desktop.");
  EXPECT_EQ(ok, L"好的");
}

}  // namespace
}  // namespace window_test
