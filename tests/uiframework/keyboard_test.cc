#include <gtest/gtest.h>

#include <chrono>

#include "test_archive.h"
#include "test_window.h"
#include "uiframework/automation.h"
#include "uiframework/controls.h"

namespace ui {
namespace {

using testing_window::RecordingWindow;
namespace automation = ui::automation;
using Clock = std::chrono::steady_clock;

const char kLayout[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<Window size="420,260">
  <Font id="0" name="Tahoma" size="13" default="true"/>
  <VerticalLayout bkcolor="#FFFFFFFF" inset="10,10,10,10" childpadding="8">
    <Edit name="path" height="30" width="240" bordercolor="#FFD5DAE1" bordersize="1" text="/opt"/>
    <HorizontalLayout height="30" childpadding="6">
      <Button name="ok" width="70" text="OK" bkcolor="#FF2F7BFF" textcolor="#FFFFFFFF"/>
      <Button name="gone" width="40" text="gone" visible="false"/>
      <Button name="off" width="40" text="off" enabled="false"/>
      <CheckBox name="cb" width="70" text="agree"/>
      <Button name="deco" width="30" mouse="false"/>
      <Button name="nokb" width="30" keyboard="false"/>
      <Option name="o1" group="g" width="30" selected="true"/>
      <Option name="o2" group="g" width="30"/>
    </HorizontalLayout>
    <Combo name="lang" height="30" width="160">
      <ListLabelElement text="English"/>
      <ListLabelElement text="hidden" visible="false"/>
      <ListLabelElement text="日本語"/>
    </Combo>
    <TabLayout name="tabs" height="30">
      <HorizontalLayout><Button name="page0" width="80" text="page 0"/></HorizontalLayout>
      <HorizontalLayout><Button name="page1" width="80" text="page 1"/></HorizontalLayout>
    </TabLayout>
    <HorizontalLayout height="30">
      <Label name="hint" width="120" text="hover me" tooltip="Where the product goes"/>
      <Control/>
      <Button name="corner" width="40" text="?" tooltip="A long tip that must stay inside the window even at its right edge"/>
    </HorizontalLayout>
  </VerticalLayout>
</Window>)";

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    MessageLoop::Get()->ResetQuit();
    archive_ = testing_archive::make({{"keys.xml", kLayout}});
    ASSERT_NE(archive_, nullptr);
    SetSkinArchiveOverride(archive_);
    window_ = std::make_unique<RecordingWindow>("keys.xml");
    ASSERT_TRUE(window_->Create(0, L"t", 0, 0, 100, 100));
    ASSERT_EQ(window_->GetLoadError(), "");
    window_->ShowWindow(true);
  }
  void TearDown() override { SetSkinArchiveOverride(nullptr); }

  void key(int k, unsigned mods = kModNone) { automation::PressKey(window_.get(), k, mods); }
  std::wstring focused() { return automation::FocusedName(window_.get()); }
  // Runs the loop until `done` or 5 s; returns whether `done` held.
  bool runUntil(const std::function<bool()>& done) {
    Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
    MessageLoop::Get()->RunUntil([&] { return done() || Clock::now() > limit; });
    return done();
  }
  // Pixels of `rect` that differ between two renders.
  static int differing(cairo_surface_t* a, cairo_surface_t* b, const UiRect& rect) {
    int stride = cairo_image_surface_get_stride(a), n = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
      for (int x = rect.left; x < rect.right; ++x) {
        size_t at = static_cast<size_t>(y * stride + x * 4);
        n += *reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(a) + at) !=
             *reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(b) + at);
      }
    }
    return n;
  }

  std::shared_ptr<SkinArchive> archive_;
  std::unique_ptr<RecordingWindow> window_;
};

// Tab visits the visible, enabled, keyboard-reachable controls in tree
// order and wraps; Shift+Tab walks back; only the shown tab page counts.
TEST_F(KeyboardTest, TabWalksUsableControlsInTreeOrder) {
  std::vector<std::wstring> forward;
  for (int i = 0; i < 9; ++i) {
    key(kKeyTab);
    forward.push_back(focused());
  }
  std::vector<std::wstring> want = {L"path", L"ok", L"cb",    L"o1",     L"o2",
                                    L"lang", L"page0", L"corner", L"path"};
  EXPECT_EQ(forward, want);
  EXPECT_TRUE(automation::FocusFromKeyboard(window_.get()));
  key(kKeyTab, kModShift);
  EXPECT_EQ(focused(), L"corner");
  window_->FindControl<CTabLayoutUI>(L"tabs")->SelectItem(1);
  key(kKeyTab, kModShift);
  EXPECT_EQ(focused(), L"page1");
  // A mouse click moves the focus without the keyboard's ring.
  ASSERT_TRUE(automation::Click(window_.get(), L"ok"));
  EXPECT_EQ(focused(), L"ok");
  EXPECT_FALSE(automation::FocusFromKeyboard(window_.get()));
  key(kKeyTab);
  EXPECT_EQ(focused(), L"cb");
}

// The ring marks keyboard focus only: a button focused by a click looks as
// it did unfocused; focused by Tab it shows the ring.
TEST_F(KeyboardTest, FocusRingOnlyForKeyboardFocus) {
  UiRect ok = window_->FindControl(L"ok")->GetPos();
  cairo_surface_t* plain = window_->RenderSnapshot();
  ok = window_->FindControl(L"ok")->GetPos();
  ASSERT_TRUE(automation::Click(window_.get(), L"ok"));
  automation::MouseLeave(window_.get());
  cairo_surface_t* clicked = window_->RenderSnapshot();
  key(kKeyTab, kModShift);
  key(kKeyTab);
  ASSERT_EQ(focused(), L"ok");
  cairo_surface_t* tabbed = window_->RenderSnapshot();
  EXPECT_EQ(differing(plain, clicked, ok), 0);
  EXPECT_GT(differing(plain, tabbed, ok), 2 * (ok.width() + ok.height()) / 2);
  cairo_surface_destroy(plain);
  cairo_surface_destroy(clicked);
  cairo_surface_destroy(tabbed);
}

// Space and Enter press a focused button as a click does ("click"), toggle
// a check box and choose an option; Up and Down step through the combo's
// offered items; a button hidden since it took the focus takes no key.
TEST_F(KeyboardTest, SpaceAndEnterPressTheFocusedControl) {
  key(kKeyTab);
  key(kKeyReturn);
  EXPECT_EQ(window_->events, (std::vector<std::string>{"return:path"}));
  key(kKeyTab);
  key(kKeyReturn);
  key(kKeySpace);
  key(kKeyTab);
  key(kKeySpace);
  EXPECT_TRUE(window_->FindControl<CCheckBoxUI>(L"cb")->GetCheck());
  key(kKeySpace);
  EXPECT_FALSE(window_->FindControl<CCheckBoxUI>(L"cb")->GetCheck());
  key(kKeyTab);
  key(kKeyTab);
  key(kKeySpace);
  EXPECT_TRUE(window_->FindControl<COptionUI>(L"o2")->IsSelected());
  EXPECT_FALSE(window_->FindControl<COptionUI>(L"o1")->IsSelected());
  std::vector<std::string> want = {"return:path",      "click:ok", "click:ok",
                                   "selectchanged:cb", "click:cb", "selectchanged:cb",
                                   "click:cb",         "selectchanged:o2", "click:o2"};
  EXPECT_EQ(window_->events, want);

  key(kKeyTab);
  auto* lang = window_->FindControl<CComboUI>(L"lang");
  key(kKeyDown);
  key(kKeyDown);  // over the hidden item
  EXPECT_EQ(lang->GetCurSel(), 2);
  key(kKeyUp);
  EXPECT_EQ(lang->GetCurSel(), 0);

  window_->events.clear();
  key(kKeyTab);
  ASSERT_EQ(focused(), L"page0");
  window_->FindControl<CTabLayoutUI>(L"tabs")->SelectItem(1);
  key(kKeyReturn);
  key(kKeySpace);
  EXPECT_EQ(window_->events, (std::vector<std::string>{"tabselect:tabs"}));
}

// Escape is the window's close request, so OnClose decides as for the
// window manager's close; an open list takes the first Escape itself.
TEST_F(KeyboardTest, EscapeIsTheCloseRequest) {
  window_->veto_close = true;
  key(kKeyEscape);
  ASSERT_TRUE(runUntil([&] { return window_->close_requests == 1; }));
  EXPECT_TRUE(window_->IsWindowVisible());

  ASSERT_TRUE(automation::Click(window_.get(), L"lang"));
  ASSERT_TRUE(window_->FindControl<CComboUI>(L"lang")->IsDropped());
  key(kKeyEscape);
  EXPECT_FALSE(window_->FindControl<CComboUI>(L"lang")->IsDropped());
  key(kKeyEscape, kModShift);
  MessageLoop::Get()->RunPending();
  EXPECT_EQ(window_->close_requests, 1);

  bool destroyed = false;
  window_->destroyed = &destroyed;
  window_->veto_close = false;
  key(kKeyEscape);
  ASSERT_TRUE(runUntil([&] { return destroyed; }));
  EXPECT_EQ(window_->close_requests, 2);
}

// A tooltip appears only after the pointer rests, inside the window, also
// for a label that takes no clicks; leaving or pressing hides it.
TEST_F(KeyboardTest, ToolTipAppearsAfterHoveringStill) {
  Clock::time_point start = Clock::now();
  ASSERT_TRUE(automation::Hover(window_.get(), L"hint"));
  MessageLoop::Get()->RunPending();
  EXPECT_EQ(automation::ToolTip(window_.get()), L"");
  ASSERT_TRUE(runUntil([&] { return !automation::ToolTip(window_.get()).empty(); }));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kToolTipDelayMs - 50));
  EXPECT_EQ(automation::ToolTip(window_.get()), L"Where the product goes");
  automation::MouseLeave(window_.get());
  EXPECT_EQ(automation::ToolTip(window_.get()), L"");

  ASSERT_TRUE(automation::Hover(window_.get(), L"corner"));
  ASSERT_TRUE(runUntil([&] { return window_->GetPaintManager().IsToolTipShown(); }));
  UiRect tip = window_->GetPaintManager().GetToolTipRect();
  UiSize client = window_->GetPaintManager().GetClientSize();
  EXPECT_GE(tip.left, 0);
  EXPECT_LE(tip.right, client.cx);
  EXPECT_LE(tip.bottom, client.cy);
  EXPECT_FALSE(tip.contains(window_->FindControl(L"corner")->GetPos().left + 20,
                            window_->FindControl(L"corner")->GetPos().top + 15));
  ASSERT_TRUE(automation::Click(window_.get(), L"corner"));
  EXPECT_FALSE(window_->GetPaintManager().IsToolTipShown());
}

}  // namespace
}  // namespace ui
