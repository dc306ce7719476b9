#include "uiframework/markup.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ui
