#include "uiframework/markup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "uiframework/containers.h"
#include "uiframework/layout_builder.h"
#include "uiframework/window.h"

namespace ui {
namespace {

class MarkupTest : public ::testing::Test {
 protected:
  MarkupTest() {
    fonts_.resize(3);
    fonts_[1].family = "Microsoft YaHei";
    fonts_[1].size_px = 14;
    fonts_[2].family = "Tahoma";
    fonts_[2].size_px = 20;
    fonts_[2].bold = true;
    style_.fonts = &fonts_;
  }
  std::vector<FontSpec> fonts_;
  MarkupStyle style_;
};

// The tags vanish from the plain text, line breaks appear, and unknown or
// malformed braces stay literal instead of eating text.
TEST_F(MarkupTest, PlainTextOfTaggedTexts) {
  struct Case {
    const wchar_t* in;
    const char* plain;
  } cases[] = {
      {L"Install", "Install"},
      {L"{f 1}{c #000000}I've read{/c}{/f} ok", "I've read ok"},
      {L"a{n}b{p}c", "a\nb\nc"},
      {L"{f 1}Are you sure?{/c}{/f}", "Are you sure?"},  // closing tags without openers
      {L"{x 3}{ not a tag}{}", "{x 3}{ not a tag}{}"},
      {L"{b}bold{/b}{i}it{/i}{u}u{/u}", "bolditu"},
      {L"%0.f%%", "%0.f%%"},
      {L"简体中文{n}العربية", "简体中文\nالعربية"},
      {L"{c #@!ThemeColor#@!}x{/c}", "x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convertMarkup(c.in, style_).plain, c.plain) << c.plain;
  }
}

// Text that looks like Pango markup is escaped, so a path or a licence
// clause with "<" or "&" cannot break or inject formatting.
TEST_F(MarkupTest, EscapesPangoMetacharacters) {
  MarkupResult r = convertMarkup(L"a<b>&c\"'", style_);
  EXPECT_EQ(r.plain, "a<b>&c\"'");
  EXPECT_NE(r.pango.find("a&lt;b&gt;&amp;c&quot;&apos;"), std::string::npos);
  EXPECT_EQ(r.pango.find("<b>"), std::string::npos);
}

// Link ranges index the plain text as bytes, which is what Pango's hit
// test returns; the link colour applies unless the text names its own.
TEST_F(MarkupTest, LinksAreRangesOfThePlainText) {
  MarkupResult r = convertMarkup(
      L"{f 1}{c #000000}已阅读和同意{/c}{/f} {f 1}{a}{u}{c #@!ThemeColor#@!}Licence{/c}{/u}{/a}{/f}"
      L" and {a https://x.example/}more{/a}",
      style_);
  ASSERT_EQ(r.links.size(), 2u);
  EXPECT_EQ(r.plain.substr(r.links[0].start, r.links[0].end - r.links[0].start), "Licence");
  EXPECT_EQ(r.plain.substr(r.links[1].start, r.links[1].end - r.links[1].start), "more");
  EXPECT_EQ(r.links[1].target, "https://x.example/");
  // Invalid colour inside the link: the link colour shows, underlined.
  EXPECT_NE(r.pango.find("foreground=\"#28bf74\" underline=\"single\">Licence"), std::string::npos);
  style_.hot_link = 0;
  r = convertMarkup(L"{a}Licence{/a}", style_);
  EXPECT_NE(r.pango.find("#e18407"), std::string::npos);
}

// Fonts come from the window's table by index; unknown indexes fall back
// to font 0 rather than failing; Windows names map to installed faces.
TEST_F(MarkupTest, FontsByIndex) {
  MarkupResult r = convertMarkup(L"{f 2}big{/f}{f 99}x{/f}", style_);
  EXPECT_NE(r.pango.find("Bold 20px\" foreground=\"#000000\">big"), std::string::npos);
  EXPECT_NE(r.pango.find("12px\" foreground=\"#000000\">x"), std::string::npos);
  EXPECT_EQ(pangoFontDescription(fonts_[1]), "Noto Sans 14px");
}

// An unreadable colour draws in the colour around it, which passes for
// black text and hides the fault everywhere else, so it is reported; a
// readable one, in any of the written forms, is not.
TEST_F(MarkupTest, ReportsColoursItCannotRead) {
  struct Case {
    const wchar_t* in;
    std::vector<std::string> bad;
  } cases[] = {
      {L"{c #28BF74}a{/c}{c #FF28BF74}b{/c}{c 0x28bf74}c{/c}{c  #000000}d{/c}", {}},
      {L"{f 0}{c 28BF74}%0.f%%{/c}{/f}", {"28BF74"}},
      {L"{c #28BF7}a{/c}{c #@!ThemeColor#@!}b{/c}{c}c{/c}{c #28BG74}d{/c}",
       {"#28BF7", "#@!ThemeColor#@!", "", "#28BG74"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convertMarkup(c.in, style_).bad_colors, c.bad) << common::wideToUtf8(c.in);
  }
  // The reported colour fell back: the figure is drawn in the text colour.
  style_.text_color = 0xFF555555;
  EXPECT_NE(convertMarkup(L"{c 28BF74}42%{/c}", style_).pango.find("#555555\">42%"),
            std::string::npos);
}

void collectTexts(const CControlUI* control, std::vector<const CControlUI*>* out) {
  if (!control->GetText().empty()) out->push_back(control);
  if (const auto* container = dynamic_cast<const CContainerUI*>(control)) {
    for (int i = 0; i < container->GetCount(); ++i) collectTexts(container->GetItemAt(i), out);
  }
}

// Every text of every language file and layout of the shipped archive,
// read as the window reads it, names only colours the markup reads: the
// progress figure and the links of nineteen languages once lost the theme
// colour to "{c 28BF74}", and nothing else showed it. The file list comes
// from the source folder, so a language added later is checked too.
TEST(ShippedMarkupTest, EveryColourOfTheSkinTextsParses) {
  namespace fs = std::filesystem;
  std::shared_ptr<SkinArchive> skin = GetSkinArchive("ZIPRES", 138);
  ASSERT_NE(skin, nullptr);
  std::vector<std::string> files;
  for (const std::string folder : {"", "language/"}) {
    for (const auto& entry : fs::directory_iterator(std::string(SKIN_SOURCE_DIR) + "/" + folder)) {
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".xml" && name != "services.xml") {
        files.push_back(folder + name);
      }
    }
  }
  int languages = 0, colouredTexts = 0;
  MarkupStyle style;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    if (file.starts_with("language/")) ++languages;
    CDialogBuilder builder;
    EnumUiResult result;
    std::string error;
    std::unique_ptr<CControlUI> root = builder.Create(file, *skin, nullptr, &result, &error);
    ASSERT_NE(root, nullptr) << error;
    std::vector<const CControlUI*> controls;
    collectTexts(root.get(), &controls);
    for (const CControlUI* control : controls) {
      if (control->GetText().find(L"{c") != std::wstring::npos) ++colouredTexts;
      const MarkupResult markup = convertMarkup(control->GetText(), style);
      for (const std::string& bad : markup.bad_colors) {
        ADD_FAILURE() << common::wideToUtf8(control->GetName()) << ": {c " << bad << "}";
      }
    }
  }
  EXPECT_GE(languages, 20);
  EXPECT_GE(colouredTexts, 20 * 3);
}

}  // namespace
}  // namespace ui
