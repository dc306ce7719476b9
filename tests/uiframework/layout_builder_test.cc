#include "uiframework/layout_builder.h"

#include <gtest/gtest.h>

#include "test_archive.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "uiframework/paint_manager.h"
#include "uiframework/window.h"

namespace ui {
namespace {

class LayoutBuilderTest : public ::testing::Test {
 protected:
  std::unique_ptr<CControlUI> build(const std::map<std::string, std::string>& files,
                                    const std::string& main, EnumUiResult* result,
                                    std::string* error, CPaintManagerUI* manager = nullptr) {
    archive_ = testing_archive::make(files);
    if (archive_ == nullptr) return nullptr;
    CDialogBuilder builder;
    return builder.Create(main, *archive_, manager, result, error);
  }
  std::shared_ptr<SkinArchive> archive_;
};

// A window root sets size, caption, corners, fonts and link colours; its
// defaults apply before an element's own attributes; Include inserts the
// other file's controls in place, also from a sub-folder and with `\`.
TEST_F(LayoutBuilderTest, WindowAttributesDefaultsAndIncludes) {
  CPaintManagerUI pm;
  EnumUiResult result;
  std::string error;
  auto root = build(
      {{"main.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Window size=\"650,560\" caption=\"0,0,0,310\" roundcorner=\"2,2\" linkcolor=\"#ff28bf74\">"
        "<Font id=\"3\" name=\"Tahoma\" size=\"15\" bold=\"true\"/>"
        "<Default name=\"Button\" value=\"height=&quot;30&quot; textcolor=&quot;#FF112233&quot;\"/>"
        "<TabLayout name=\"tabs\">"
        "  <Include source=\"page.xml\"/>"
        "  <VerticalLayout name=\"data\"><Include source=\"configure\\conf.xml\"/></VerticalLayout>"
        "</TabLayout></Window>"},
       {"page.xml",
        "<VerticalLayout name=\"page\"><Button name=\"b1\" text=\"One\"/>"
        "<Button name=\"b2\" height=\"44\" textcolor=\"#FF000000\"/></VerticalLayout>"},
       {"configure/conf.xml",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><VerticalLayout>"
        "<VerticalLayout name=\"Product_config\"><Label name=\"Downloader_id\" text=\"630\"/>"
        "<Label name=\"Software_name\" text=\"Orlastra\"/></VerticalLayout></VerticalLayout>"}},
      "main.xml", &result, &error, &pm);
  ASSERT_NE(root, nullptr) << error;
  EXPECT_EQ(result, EnumUiResult::kOk);
  EXPECT_EQ(pm.GetInitSize().cx, 650);
  EXPECT_EQ(pm.GetInitSize().cy, 560);
  EXPECT_EQ(pm.GetCaptionRect().bottom, 310);
  EXPECT_EQ(pm.GetRoundCorner(), 2);
  ASSERT_GE(pm.GetFonts().size(), 4u);
  EXPECT_EQ(pm.GetFonts()[3].size_px, 15);
  EXPECT_TRUE(pm.GetFonts()[3].bold);

  auto* b1 = dynamic_cast<CButtonUI*>(CPaintManagerUI::FindSubControlByName(root.get(), L"b1"));
  auto* b2 = dynamic_cast<CButtonUI*>(CPaintManagerUI::FindSubControlByName(root.get(), L"b2"));
  ASSERT_TRUE(b1 && b2);
  EXPECT_EQ(b1->GetFixedHeight(), 30);
  EXPECT_EQ(b1->GetTextColor(), 0xFF112233u);
  EXPECT_EQ(b2->GetFixedHeight(), 44);  // own attribute wins over the default
  EXPECT_EQ(b2->GetTextColor(), 0xFF000000u);
  CControlUI* id = CPaintManagerUI::FindSubControlByName(root.get(), L"Downloader_id");
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->GetText(), L"630");
  auto* tabs = dynamic_cast<CTabLayoutUI*>(root.get());
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->GetCount(), 2);
}

// Broken layouts fail with a code and a message naming file and line; no
// partial tree comes back.
TEST_F(LayoutBuilderTest, BadLayoutsFailClearly) {
  struct Case {
    std::string xml;
    EnumUiResult code;
    std::string mention;
  } cases[] = {
      {"<VerticalLayout>\n<Label name=\"a\">\n</VerticalLayout>", EnumUiResult::kBadXml, "bad.xml:"},
      {"<VerticalLayout>\n\n<Blink name=\"a\"/></VerticalLayout>", EnumUiResult::kUnknownTag,
       "bad.xml:3: unknown element <Blink>"},
      {"<VerticalLayout><Include source=\"none.xml\"/></VerticalLayout>",
       EnumUiResult::kFileMissing, "none.xml"},
      {"<VerticalLayout><Include source=\"bad.xml\"/></VerticalLayout>",
       EnumUiResult::kFileMissing, "cannot include bad.xml"},  // includes itself
      {"<VerticalLayout><Button><Label/></Button></VerticalLayout>", EnumUiResult::kBadLayout,
       "cannot hold controls"},
      {"", EnumUiResult::kBadXml, "bad.xml"},
  };
  for (const Case& c : cases) {
    EnumUiResult result;
    std::string error;
    auto root = build({{"bad.xml", c.xml}}, "bad.xml", &result, &error);
    EXPECT_EQ(root, nullptr) << c.xml;
    EXPECT_EQ(result, c.code) << c.xml;
    EXPECT_NE(error.find(c.mention), std::string::npos) << error;
  }
  EnumUiResult result;
  EXPECT_EQ(build({{"a.xml", "<Label/>"}}, "missing.xml", &result, nullptr), nullptr);
  EXPECT_EQ(result, EnumUiResult::kFileMissing);
}

// Every layout of the shipped archive loads, and the main window has every
// named control the setup window looks up, on the pages it expects.
TEST_F(LayoutBuilderTest, ShippedLayoutsLoadWithTheirNamedControls) {
  std::shared_ptr<SkinArchive> skin = GetSkinArchive("ZIPRES", 138);
  ASSERT_NE(skin, nullptr);
  for (const char* file : {"InstallMainWnd.xml", "MessageBox.xml", "MessageBox_down.xml",
                           "transWnd.xml", "language/language_english.xml",
                           "language/language_chinese.xml"}) {
    CPaintManagerUI pm;
    CDialogBuilder builder;
    EnumUiResult result;
    std::string error;
    EXPECT_NE(builder.Create(file, *skin, &pm, &result, &error), nullptr) << file << ": " << error;
  }
  CPaintManagerUI pm;
  CDialogBuilder builder;
  EnumUiResult result;
  pm.AttachRoot(builder.Create("InstallMainWnd.xml", *skin, &pm, &result));
  ASSERT_NE(pm.GetRoot(), nullptr);
  const wchar_t* names[] = {
      L"minbtn", L"closebtn", L"main_tablayout", L"page_layout", L"set_layout",
      L"text_product_name", L"text_fail_retry", L"install_btn", L"license_checkbox",
      L"license_link", L"install_setting", L"license_text_layout", L"license_text",
      L"select_language_text", L"language_combox", L"install_path_text",
      L"install_file_path_edit", L"browser_btn", L"space_need", L"space_free",
      L"agree_improvement_checkbox", L"image_play", L"image_play_option1",
      L"image_play_option2", L"image_play_option3", L"install_progress", L"install_label",
      L"install_minbtn", L"backgroudlayout", L"text_startshortcut", L"start_app",
      L"img_warning", L"text_fail_advice", L"license_english", L"license_chinese",
      L"license_chinesetrad", L"Downloader_id", L"Software_name", L"MainPid", L"anima_text_10"};
  for (const wchar_t* name : names) EXPECT_NE(pm.FindControl(name), nullptr) << name;
  EXPECT_EQ(pm.FindControl(L"image_play_option4"), nullptr);
  EXPECT_EQ(pm.GetInitSize().cx, 650);
  EXPECT_EQ(pm.GetInitSize().cy, 560);
  EXPECT_NE(pm.FindControl<CProgressUI>(L"install_progress"), nullptr);
  EXPECT_EQ(pm.FindControl<CButtonUI>(L"install_progress"), nullptr);  // mistyped lookup
  auto* combo = pm.FindControl<CComboUI>(L"language_combox");
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->GetCount(), 20);
  // The demo product offers all twenty languages.
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(combo->GetItemAt(i)->IsOwnVisible()) << i;
  EXPECT_EQ(combo->GetItemAt(2)->GetText(), L" 简体中文");
  EXPECT_EQ(combo->GetItemAt(2)->GetToolTip(), L"简体中文");
  // The product configuration sits on a page that is never shown.
  EXPECT_FALSE(pm.FindControl(L"Downloader_id")->IsVisible());
  EXPECT_TRUE(pm.FindControl(L"install_btn")->IsVisible());
}

// Language files read as detached trees: the keys of both pages by name.
TEST_F(LayoutBuilderTest, LanguageFilesCarryTheirKeys) {
  std::shared_ptr<SkinArchive> skin = GetSkinArchive("ZIPRES", 138);
  ASSERT_NE(skin, nullptr);
  CDialogBuilder builder;
  EnumUiResult result;
  auto root = builder.Create("language\\language_chinese.xml", *skin, nullptr, &result);
  ASSERT_NE(root, nullptr);
  CControlUI* page = CPaintManagerUI::FindSubControlByName(root.get(), L"message_page");
  ASSERT_NE(page, nullptr);
  CControlUI* yes = CPaintManagerUI::FindSubControlByName(page, L"AgreeInstallText");
  ASSERT_NE(yes, nullptr);
  EXPECT_EQ(yes->GetText(), L"同意并安装");
  auto* container = dynamic_cast<CContainerUI*>(page);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(container->GetCount(), 32);
}

}  // namespace
}  // namespace ui
