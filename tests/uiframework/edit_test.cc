#include <gtest/gtest.h>

#include "test_archive.h"
#include "test_window.h"
#include "uiframework/automation.h"
#include "uiframework/controls.h"

namespace ui {
namespace {

using testing_window::RecordingWindow;
namespace automation = ui::automation;

const char kLayout[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<Window size="360,200">
  <Font id="0" name="Tahoma" size="13" default="true"/>
  <VerticalLayout bkcolor="#FFFFFFFF" inset="10,10,10,10" childpadding="8">
    <Edit name="path" height="30" width="240" bordercolor="#FFD5DAE1" bordersize="1" text="C:/Apps"/>
    <Edit name="narrow" height="30" width="80" bordercolor="#FFD5DAE1" bordersize="1"/>
    <Edit name="fixed" height="30" width="200" readonly="true" text="read only text"/>
    <Button name="ok" height="30" width="80" text="OK" bkcolor="#FF2F7BFF" textcolor="#FFFFFFFF"/>
  </VerticalLayout>
</Window>)";

class EditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    archive_ = testing_archive::make({{"edit.xml", kLayout}});
    ASSERT_NE(archive_, nullptr);
    SetSkinArchiveOverride(archive_);
    window_ = std::make_unique<RecordingWindow>("edit.xml");
    ASSERT_TRUE(window_->Create(0, L"t", 0, 0, 100, 100));
    ASSERT_EQ(window_->GetLoadError(), "");
    window_->ShowWindow(true);
    ASSERT_TRUE(automation::Click(window_.get(), L"path"));
  }
  void TearDown() override { SetSkinArchiveOverride(nullptr); }

  CEditUI* edit(const wchar_t* name = L"path") { return window_->FindControl<CEditUI>(name); }
  void key(int k, unsigned mods = kModNone, int times = 1) {
    for (int i = 0; i < times; ++i) automation::PressKey(window_.get(), k, mods);
  }
  std::wstring text(const wchar_t* name = L"path") { return edit(name)->GetText(); }
  int changes() {
    int n = 0;
    for (const auto& e : window_->events) n += e == "textchanged:path";
    return n;
  }

  std::shared_ptr<SkinArchive> archive_;
  std::unique_ptr<RecordingWindow> window_;
};

// Typing, Delete and Backspace act at the caret wherever it is, not only at
// the end, and each change is announced.
TEST_F(EditTest, EditsAtTheCaretAnywhereInTheText) {
  EXPECT_EQ(edit()->GetCaretPos(), 7);  // the click landed right of the text
  key(kKeyHome);
  key(kKeyRight, kModNone, 2);
  automation::InputText(window_.get(), "X");
  EXPECT_EQ(text(), L"C:X/Apps");
  EXPECT_EQ(edit()->GetCaretPos(), 3);
  key(kKeyDelete);
  EXPECT_EQ(text(), L"C:XApps");
  key(kKeyBackspace);
  EXPECT_EQ(text(), L"C:Apps");
  key(kKeyEnd);
  key(kKeyBackspace);
  key(kKeyLeft, kModNone, 2);
  key(kKeyDelete);
  EXPECT_EQ(text(), L"C:Ap");
  // At the ends there is nothing to delete and nothing changes.
  key(kKeyHome);
  key(kKeyBackspace);
  key(kKeyEnd);
  key(kKeyDelete);
  EXPECT_EQ(text(), L"C:Ap");
  EXPECT_EQ(changes(), 5);
  // Ctrl with Backspace and Delete takes whole words.
  edit()->SetText(L"/opt/Program Files");
  key(kKeyBackspace, kModCtrl);
  EXPECT_EQ(text(), L"/opt/Program ");
  key(kKeyHome);
  key(kKeyDelete, kModCtrl);
  EXPECT_EQ(text(), L"/Program ");
}

// Shift with the arrows, Home and End selects from a fixed anchor; plain
// arrows collapse a selection to its edge; typing and Backspace replace it.
TEST_F(EditTest, ShiftKeysSelectAndTypingReplacesTheSelection) {
  int s = 0, e = 0;
  key(kKeyHome);
  key(kKeyRight, kModShift, 3);
  EXPECT_EQ(edit()->GetSelText(), L"C:/");
  automation::InputText(window_.get(), "/opt/");
  EXPECT_EQ(text(), L"/opt/Apps");
  key(kKeyEnd, kModShift);
  EXPECT_EQ(edit()->GetSelText(), L"Apps");
  key(kKeyHome, kModShift);  // the anchor stays where the selection began
  EXPECT_EQ(edit()->GetSelText(), L"/opt/");
  key(kKeyLeft);
  edit()->GetSel(&s, &e);
  EXPECT_EQ(s, e);
  EXPECT_EQ(edit()->GetCaretPos(), 0);
  key(kKeyRight, kModShift, 2);
  key(kKeyRight);
  EXPECT_EQ(edit()->GetCaretPos(), 2);
  EXPECT_EQ(edit()->GetSelText(), L"");
  key(kKeyEnd);
  key(kKeyLeft, kModShift, 4);
  key(kKeyBackspace);
  EXPECT_EQ(text(), L"/opt/");
  key('A', kModCtrl);
  EXPECT_EQ(edit()->GetSelText(), L"/opt/");
  automation::InputText(window_.get(), "D:/Games");
  EXPECT_EQ(text(), L"D:/Games");
}

// Copy leaves the text, cut removes the selection, paste inserts at the
// caret; pasted line breaks do not enter a one-line field; a read-only field
// copies but neither cuts nor pastes.
TEST_F(EditTest, ClipboardRoundTrip) {
  automation::SetClipboardText(window_.get(), L"");
  key('A', kModCtrl);
  key('C', kModCtrl);
  EXPECT_EQ(automation::ClipboardText(window_.get()), L"C:/Apps");
  EXPECT_EQ(text(), L"C:/Apps");
  key(kKeyHome);
  key(kKeyRight, kModShift, 2);
  key('X', kModCtrl);
  EXPECT_EQ(text(), L"/Apps");
  EXPECT_EQ(automation::ClipboardText(window_.get()), L"C:");
  key(kKeyEnd);
  key('V', kModCtrl);
  EXPECT_EQ(text(), L"/AppsC:");
  automation::SetClipboardText(window_.get(), L"/opt/one\n/opt/two\n");
  key('A', kModCtrl);
  key(kKeyInsert, kModShift);
  EXPECT_EQ(text(), L"/opt/one /opt/two");

  ASSERT_TRUE(automation::Click(window_.get(), L"fixed"));
  key('A', kModCtrl);
  key('X', kModCtrl);
  EXPECT_EQ(automation::ClipboardText(window_.get()), L"read only text");
  EXPECT_EQ(text(L"fixed"), L"read only text");
  key('V', kModCtrl);
  automation::InputText(window_.get(), "typed");
  key(kKeyBackspace);
  EXPECT_EQ(text(L"fixed"), L"read only text");
}

// Positions count characters: a CJK character is one step and one
// Backspace though it is three UTF-8 bytes, an emoji one though four, and an
// accent typed as its own code point moves with its letter.
TEST_F(EditTest, CountsCharactersNotBytes) {
  edit()->SetText(L"");
  automation::InputText(window_.get(), "日本語");
  EXPECT_EQ(text(), L"日本語");
  EXPECT_EQ(edit()->GetCaretPos(), 3);
  key(kKeyLeft);
  key(kKeyBackspace);
  EXPECT_EQ(text(), L"日語");
  key(kKeyEnd);
  automation::InputText(window_.get(), "😀");
  EXPECT_EQ(text().size(), 3u);
  key(kKeyLeft);
  EXPECT_EQ(edit()->GetCaretPos(), 2);
  edit()->SetText(L"e\u0301x");
  key(kKeyLeft, kModNone, 2);
  EXPECT_EQ(edit()->GetCaretPos(), 0);
  key(kKeyRight, kModShift);
  EXPECT_EQ(edit()->GetSelText(), L"e\u0301");
}

// The input method's composition shows in the field but is no text of it
// until committed: no "textchanged", GetText() unchanged; the commit lands at
// the caret; Escape drops a composition instead of closing the window.
TEST_F(EditTest, CompositionIsNotTextUntilCommitted) {
  edit()->SetText(L"ab");
  key(kKeyLeft);
  cairo_surface_t* before = window_->RenderSnapshot();
  automation::Compose(window_.get(), "にほ");
  EXPECT_EQ(text(), L"ab");
  EXPECT_EQ(edit()->GetCompositionText(), L"にほ");
  EXPECT_EQ(changes(), 0);
  cairo_surface_t* composing = window_->RenderSnapshot();
  int stride = cairo_image_surface_get_stride(before);
  UiRect r = edit()->GetPos();
  int differing = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      size_t at = static_cast<size_t>(y * stride + x * 4);
      differing += *reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(before) + at) !=
                   *reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(composing) + at);
    }
  }
  EXPECT_GT(differing, 40);  // drawn, underlined, at the caret
  cairo_surface_destroy(before);
  cairo_surface_destroy(composing);
  automation::InputText(window_.get(), "日本");
  EXPECT_EQ(text(), L"a日本b");
  EXPECT_EQ(edit()->GetCompositionText(), L"");
  EXPECT_EQ(edit()->GetCaretPos(), 3);

  automation::Compose(window_.get(), "x");
  key(kKeyEscape);
  MessageLoop::Get()->RunPending();
  EXPECT_EQ(edit()->GetCompositionText(), L"");
  EXPECT_EQ(window_->close_requests, 0);
  EXPECT_EQ(text(), L"a日本b");
}

// Press and drag selects; a double click selects the word under the
// pointer, a triple click everything.
TEST_F(EditTest, MouseSelectsByDragDoubleAndTripleClick) {
  edit()->SetText(L"/opt/Program Files");
  window_->GetPaintContext();
  UiRect r = edit()->GetPos();
  int mid = (r.top + r.bottom) / 2;
  ASSERT_TRUE(automation::Drag(window_.get(), r.left + 9, mid, r.right - 2, mid));
  EXPECT_EQ(edit()->GetSelText(), L"/opt/Program Files");
  ASSERT_TRUE(automation::Drag(window_.get(), r.right - 2, mid, r.left + 2, mid));
  EXPECT_EQ(edit()->GetSelText(), L"/opt/Program Files");
  EXPECT_EQ(edit()->GetCaretPos(), 0);  // the caret follows the pointer

  key(kKeyHome);
  key(kKeyRight, kModNone, 7);  // inside "Program"
  window_->GetPaintContext();
  int x = edit()->GetCaretRect().left;
  ASSERT_TRUE(automation::ClickAt(window_.get(), x, mid, 2));
  EXPECT_EQ(edit()->GetSelText(), L"Program");
  ASSERT_TRUE(automation::ClickAt(window_.get(), r.left + 12, mid, 3));
  EXPECT_EQ(edit()->GetSelText(), L"/opt/Program Files");
}

// Text longer than the box scrolls so the caret stays inside it, and clicks
// land on the characters shown there, not on those scrolled away.
TEST_F(EditTest, LongTextScrollsToKeepTheCaretInView) {
  const std::wstring kLong = L"abcdefghijklmnopqrstuvwxyz0123456789";
  ASSERT_TRUE(automation::TypeText(window_.get(), L"narrow", common::wideToUtf8(kLong)));
  CEditUI* narrow = edit(L"narrow");
  UiRect r = narrow->GetPos();
  UiRect box{r.left + 8, r.top, r.right - 8, r.bottom};
  window_->GetPaintContext();
  UiRect caret = narrow->GetCaretRect();
  EXPECT_GE(caret.left, box.left);
  EXPECT_LE(caret.right, box.right);
  int mid = (r.top + r.bottom) / 2;
  ASSERT_TRUE(automation::ClickAt(window_.get(), box.right - 1, mid));
  EXPECT_EQ(narrow->GetCaretPos(), static_cast<int>(kLong.size()));
  key(kKeyHome);
  window_->GetPaintContext();
  EXPECT_EQ(narrow->GetCaretRect().left, box.left);
  // Not where the last click was: that would be a double click.
  ASSERT_TRUE(automation::ClickAt(window_.get(), box.right - 8, mid));
  EXPECT_GT(narrow->GetCaretPos(), 3);
  EXPECT_LT(narrow->GetCaretPos(), 15);
}

// The input method is on exactly while a writable field has the focus.
TEST_F(EditTest, InputMethodFollowsTheFocusedField) {
  EXPECT_TRUE(automation::TextInputActive(window_.get()));
  ASSERT_TRUE(automation::Click(window_.get(), L"ok"));
  EXPECT_FALSE(automation::TextInputActive(window_.get()));
  ASSERT_TRUE(automation::Click(window_.get(), L"fixed"));
  EXPECT_FALSE(automation::TextInputActive(window_.get()));
  key(kKeyTab, kModShift);
  key(kKeyTab, kModShift);
  EXPECT_EQ(automation::FocusedName(window_.get()), L"path");
  EXPECT_TRUE(automation::TextInputActive(window_.get()));
  // Tabbing into a field selects its text, so typing replaces it.
  EXPECT_EQ(edit()->GetSelText(), L"C:/Apps");
}

}  // namespace
}  // namespace ui
