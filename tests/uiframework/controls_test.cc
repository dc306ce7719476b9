#include "uiframework/controls.h"

#include <gtest/gtest.h>

#include "test_archive.h"
#include "test_window.h"
#include "uiframework/automation.h"

namespace ui {
namespace {

using testing_window::RecordingWindow;
namespace automation = ui::automation;

const char kLayout[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<Window size="400,300">
  <Font id="0" name="Tahoma" size="13" default="true"/>
  <TabLayout name="tabs">
    <VerticalLayout name="page0">
      <HorizontalLayout height="30">
        <Option name="o1" group="g" width="40" selected="true"/>
        <Option name="o2" group="g" width="40"/>
        <Option name="o3" group="g" width="40"/>
        <Option name="other" group="h" width="40"/>
        <CheckBox name="cb" width="40"/>
        <Button name="off" width="40" enabled="false"/>
      </HorizontalLayout>
      <Combo name="combo" height="30" width="200">
        <ListLabelElement text=" English" visible="false"/>
        <ListLabelElement text=" 日本語" visible="true"/>
        <ListLabelElement text=" 简体中文" visible="true"/>
      </Combo>
      <Combo name="long" height="30" width="200" itemheight="20">
        <ListLabelElement text=" Item 0"/>
        <ListLabelElement text=" Item 1"/>
        <ListLabelElement text=" Item 2"/>
        <ListLabelElement text=" Item 3"/>
        <ListLabelElement text=" Item 4"/>
        <ListLabelElement text=" Item 5"/>
        <ListLabelElement text=" Item 6"/>
        <ListLabelElement text=" Item 7"/>
        <ListLabelElement text=" Item 8"/>
        <ListLabelElement text=" Item 9"/>
        <ListLabelElement text=" Item 10"/>
        <ListLabelElement text=" Item 11"/>
      </Combo>
      <Text name="link" height="40" text="Read the {a}licence{/a} now"/>
      <Edit name="edit" height="30" text="C:/Apps"/>
      <Progress name="bar" height="6" value="5"/>
      <Control name="spacer"/>
    </VerticalLayout>
    <VerticalLayout name="page1">
      <Button name="hidden_page_button" height="30" text="x"/>
    </VerticalLayout>
  </TabLayout>
</Window>)";

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    archive_ = testing_archive::make({{"test.xml", kLayout}});
    ASSERT_NE(archive_, nullptr);
    SetSkinArchiveOverride(archive_);
    window_ = std::make_unique<RecordingWindow>("test.xml");
    ASSERT_TRUE(window_->Create(0, L"t", 0, 0, 100, 100));
    ASSERT_EQ(window_->GetLoadError(), "");
    window_->ShowWindow(true);
  }
  void TearDown() override { SetSkinArchiveOverride(nullptr); }

  bool selected(const wchar_t* name) {
    return window_->FindControl<COptionUI>(name)->IsSelected();
  }

  std::shared_ptr<SkinArchive> archive_;
  std::unique_ptr<RecordingWindow> window_;
};

// Options of one group exclude each other, other groups and check boxes
// are untouched; the user's choice is announced with "selectchanged".
TEST_F(ControlsTest, OptionGroupsAreExclusive) {
  EXPECT_TRUE(automation::Click(window_.get(), L"other"));
  EXPECT_TRUE(automation::Click(window_.get(), L"o2"));
  EXPECT_FALSE(selected(L"o1"));
  EXPECT_TRUE(selected(L"o2"));
  EXPECT_FALSE(selected(L"o3"));
  EXPECT_TRUE(selected(L"other"));
  window_->FindControl<COptionUI>(L"o3")->Selected(true);
  EXPECT_FALSE(selected(L"o2"));
  EXPECT_TRUE(selected(L"o3"));
  // A check box toggles on each click.
  EXPECT_TRUE(automation::Click(window_.get(), L"cb"));
  EXPECT_TRUE(window_->FindControl<CCheckBoxUI>(L"cb")->GetCheck());
  EXPECT_TRUE(automation::Click(window_.get(), L"cb"));
  EXPECT_FALSE(window_->FindControl<CCheckBoxUI>(L"cb")->GetCheck());
  std::vector<std::string> want = {"selectchanged:other", "click:other", "selectchanged:o2",
                                   "click:o2",           "selectchanged:o3", "selectchanged:cb",
                                   "click:cb",           "selectchanged:cb", "click:cb"};
  EXPECT_EQ(window_->events, want);
}

// Re-choosing the current option still tells the window (the carousel
// restarts its interval on it).
TEST_F(ControlsTest, ChoosingTheSelectedOptionAgainNotifies) {
  EXPECT_TRUE(automation::Click(window_.get(), L"o1"));
  EXPECT_TRUE(selected(L"o1"));
  EXPECT_EQ(window_->events, (std::vector<std::string>{"selectchanged:o1", "click:o1"}));
}

// Hidden combo items cannot be chosen; a visible one sends "itemselect"
// with the new and the previous index.
TEST_F(ControlsTest, ComboOffersOnlyVisibleItems) {
  auto* combo = window_->FindControl<CComboUI>(L"combo");
  EXPECT_EQ(combo->GetCurSel(), -1);
  EXPECT_FALSE(automation::ChooseComboItem(window_.get(), L"combo", 0));
  EXPECT_TRUE(automation::ChooseComboItem(window_.get(), L"combo", 2));
  EXPECT_EQ(combo->GetCurSel(), 2);
  EXPECT_EQ(combo->GetText(), L" 简体中文");
  EXPECT_FALSE(combo->IsDropped());
  EXPECT_TRUE(automation::ChooseComboItem(window_.get(), L"combo", 1));
  EXPECT_FALSE(combo->SelectItem(7));
  // Programmatic selection may pick any index, without a notification.
  EXPECT_TRUE(combo->SelectItem(0, false, false));
  int itemselects = 0;
  for (const auto& e : window_->events) itemselects += e == "itemselect:combo";
  EXPECT_EQ(itemselects, 2);
}

// A list longer than eight rows scrolls: every item stays reachable by the
// wheel, the keys keep the choice in view, and the track pages.
TEST_F(ControlsTest, LongComboListScrolls) {
  auto* combo = window_->FindControl<CComboUI>(L"long");
  EXPECT_TRUE(automation::ChooseComboItem(window_.get(), L"long", 11));
  EXPECT_EQ(combo->GetText(), L" Item 11");
  // Reopened, the list shows the choice; the last page is as far as it goes.
  ASSERT_TRUE(automation::Click(window_.get(), L"long"));
  ASSERT_TRUE(combo->IsDropped());
  EXPECT_EQ(combo->ListTop(), 4);
  const UiRect list = combo->ListRect();
  EXPECT_EQ(list.height(), 8 * 20 + 2);
  const int cx = list.left + 20, cy = list.top + list.height() / 2;
  window_->GetPaintManager().OnMouse(MouseEvent::kWheel, cx, cy, 5);
  EXPECT_EQ(combo->ListTop(), 0);
  // Rows scrolled away take no clicks: the top row is item 0 again.
  EXPECT_EQ(combo->ItemAt(cx, list.top + 5), 0);
  // The keys move the choice and the list follows it.
  automation::PressKey(window_.get(), kKeyUp);
  EXPECT_EQ(combo->GetCurSel(), 10);
  EXPECT_EQ(combo->ListTop(), 3);
  // A click low on the track pages down.
  EXPECT_TRUE(automation::ClickAt(window_.get(), list.right - 3, list.bottom - 4));
  EXPECT_EQ(combo->ListTop(), 4);
  EXPECT_TRUE(combo->IsDropped());
  EXPECT_TRUE(automation::ChooseComboItem(window_.get(), L"long", 0));
  EXPECT_EQ(combo->GetCurSel(), 0);
}

// Disabled and hidden controls take no clicks; controls on an unselected
// tab page are found by name but are not visible.
TEST_F(ControlsTest, VisibilityEnablingAndPages) {
  EXPECT_FALSE(automation::Click(window_.get(), L"off"));
  EXPECT_NE(window_->FindControl(L"hidden_page_button"), nullptr);
  EXPECT_FALSE(automation::IsVisible(window_.get(), L"hidden_page_button"));
  EXPECT_FALSE(automation::Click(window_.get(), L"hidden_page_button"));
  auto* tabs = window_->FindControl<CTabLayoutUI>(L"tabs");
  EXPECT_TRUE(tabs->SelectItem(1));
  EXPECT_FALSE(tabs->SelectItem(2));
  EXPECT_EQ(automation::CurrentPage(window_.get(), L"tabs"), 1);
  EXPECT_TRUE(automation::Click(window_.get(), L"hidden_page_button"));
  EXPECT_FALSE(automation::IsVisible(window_.get(), L"o1"));
  window_->FindControl(L"hidden_page_button")->SetVisible(false);
  EXPECT_FALSE(automation::Click(window_.get(), L"hidden_page_button"));
  window_->FindControl(L"off")->SetEnabled(true);
  tabs->SelectItem(0);
  EXPECT_TRUE(automation::Click(window_.get(), L"off"));
  EXPECT_EQ(window_->events.back(), "click:off");
}

// A click on the link part of a text sends "link"; elsewhere nothing.
TEST_F(ControlsTest, LinksInTextsNotify) {
  EXPECT_TRUE(automation::ClickLink(window_.get(), L"link", 0));
  EXPECT_EQ(window_->events, (std::vector<std::string>{"link:link"}));
  EXPECT_FALSE(automation::ClickLink(window_.get(), L"link", 1));
}

// Sizes from the layout, fixed heights set later, and the progress range.
TEST_F(ControlsTest, GeometryAndValues) {
  window_->GetPaintContext();
  EXPECT_EQ(window_->GetPaintManager().GetClientSize().cx, 400);
  CControlUI* combo = window_->FindControl(L"combo");
  EXPECT_EQ(combo->GetPos(), (UiRect{0, 30, 200, 60}));
  CControlUI* spacer = window_->FindControl(L"spacer");
  int before = spacer->GetPos().height();
  window_->FindControl(L"link")->SetFixedHeight(100);
  window_->GetPaintContext();
  EXPECT_EQ(spacer->GetPos().height(), before - 60);
  auto* bar = window_->FindControl<CProgressUI>(L"bar");
  EXPECT_EQ(bar->GetValue(), 5);
  bar->SetValue(150);
  EXPECT_EQ(bar->GetValue(), 100);
  bar->SetValue(-3);
  EXPECT_EQ(bar->GetValue(), 0);
  EXPECT_TRUE(automation::TypeText(window_.get(), L"edit", "/Orlastra"));
  EXPECT_EQ(automation::Text(window_.get(), L"edit"), L"C:/Apps/Orlastra");
}

}  // namespace
}  // namespace ui
