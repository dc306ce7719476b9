#include "uiframework/paint_manager.h"

#include <gtest/gtest.h>

#include "test_archive.h"
#include "test_window.h"
#include "uiframework/automation.h"
#include "uiframework/containers.h"
#include "uiframework/render.h"

namespace ui {
namespace {

using testing_window::RecordingWindow;

std::string pngOf(int w, int h, uint32_t argb) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  SetSourceColor(cr, argb);
  cairo_paint(cr);
  cairo_destroy(cr);
  std::string bytes;
  cairo_surface_write_to_png_stream(
      s,
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &bytes);
  cairo_surface_destroy(s);
  return bytes;
}

uint32_t pixelAt(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  auto* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
  return reinterpret_cast<uint32_t*>(row)[x];
}

class PaintManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    MessageLoop::Get()->ResetQuit();
    archive_ = testing_archive::make(
        {{"w.xml",
          "<Window size=\"300,200\"><VerticalLayout name=\"root\" bkcolor=\"#FFFFFFFF\">"
          "<Control name=\"pic\" height=\"50\" bkimage=\"skin\\Red.png\"/>"
          "<VerticalLayout name=\"scroll\" height=\"100\" vscrollbar=\"true\">"
          "<Control name=\"tall\" height=\"400\"/></VerticalLayout>"
          "<Button name=\"b\"/></VerticalLayout></Window>"},
         {"skin/red.png", pngOf(4, 4, 0xFFFF0000)},
         {"skin/broken.png", "not a png"}});
    ASSERT_NE(archive_, nullptr);
    SetSkinArchiveOverride(archive_);
  }
  void TearDown() override { SetSkinArchiveOverride(nullptr); }
  std::shared_ptr<SkinArchive> archive_;
};

// Archive names match with either slash and in any case; bytes that are
// not a zip are refused with a code.
TEST_F(PaintManagerTest, ArchiveNamesAndBadArchives) {
  std::string bytes;
  EXPECT_TRUE(archive_->Read("SKIN\\RED.PNG", &bytes));
  EXPECT_TRUE(archive_->Contains("./skin/red.png"));
  EXPECT_FALSE(archive_->Contains("skin/blue.png"));
  EnumUiResult result;
  EXPECT_EQ(SkinArchive::FromBytes("PK\x03\x04 truncated", &result), nullptr);
  EXPECT_EQ(result, EnumUiResult::kNoArchive);
  EXPECT_EQ(SkinArchive::FromResource("ZIPRES", 9999, &result), nullptr);
  EXPECT_EQ(result, EnumUiResult::kNoArchive);
}

// Images load from the archive once, pictures added under a name take
// precedence, and missing or undecodable files give null, not a crash.
TEST_F(PaintManagerTest, ImageCacheByName) {
  RecordingWindow w("w.xml");
  ASSERT_TRUE(w.Create(0, L"w", 0, 0, 300, 200));
  CPaintManagerUI& pm = w.GetPaintManager();
  cairo_surface_t* red = pm.GetImage("skin/red.png");
  ASSERT_NE(red, nullptr);
  EXPECT_EQ(pm.GetImage("skin\\RED.png"), red);
  EXPECT_EQ(pm.GetImage("skin/missing.png"), nullptr);
  EXPECT_EQ(pm.GetImage("skin/broken.png"), nullptr);
  // The background picture is drawn stretched into its control.
  cairo_surface_t* shot = w.RenderSnapshot();
  EXPECT_EQ(pixelAt(shot, 150, 25), 0xFFFF0000u);
  cairo_surface_destroy(shot);
  cairo_surface_t* green = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 2);
  cairo_t* cr = cairo_create(green);
  SetSourceColor(cr, 0xFF00FF00);
  cairo_paint(cr);
  cairo_destroy(cr);
  pm.AddImage("skin/red.png", green);
  cairo_surface_destroy(green);  // the cache holds its own reference
  shot = w.RenderSnapshot();
  EXPECT_EQ(pixelAt(shot, 150, 25), 0xFF00FF00u);
  cairo_surface_destroy(shot);
  // Direct painting of a cached image into a rectangle of the window.
  DrawImageDesc(w.GetPaintContext(), &pm, "skin/red.png", UiRect{0, 150, 10, 160});
  EXPECT_EQ(pixelAt(cairo_get_target(w.GetPaintContext()), 5, 155), 0xFF00FF00u);
}

// A scrollable area scrolls its children by the wheel within its range.
TEST_F(PaintManagerTest, ScrollableAreaScrolls) {
  RecordingWindow w("w.xml");
  ASSERT_TRUE(w.Create(0, L"w", 0, 0, 300, 200));
  w.GetPaintContext();
  auto* scroll = w.FindControl<CContainerUI>(L"scroll");
  CControlUI* tall = w.FindControl(L"tall");
  EXPECT_EQ(scroll->GetScrollRange(), 300);
  int top = tall->GetPos().top;
  w.GetPaintManager().OnMouse(MouseEvent::kWheel, 100, 100, -2);
  w.GetPaintContext();
  EXPECT_EQ(tall->GetPos().top, top - scroll->GetScrollPos());
  EXPECT_GT(scroll->GetScrollPos(), 0);
  w.GetPaintManager().OnMouse(MouseEvent::kWheel, 100, 100, -100);
  EXPECT_EQ(scroll->GetScrollPos(), 300);
  w.GetPaintManager().OnMouse(MouseEvent::kWheel, 100, 100, 100);
  EXPECT_EQ(scroll->GetScrollPos(), 0);
}

// Close requests: OnClose may refuse one; an accepted one destroys the
// window, after which posts to its handle are refused.
TEST_F(PaintManagerTest, CloseRequestsAndDeadHandles) {
  RecordingWindow w("w.xml");
  bool destroyed = false;
  w.destroyed = &destroyed;
  ASSERT_TRUE(w.Create(0, L"w", 0, 0, 300, 200));
  EXPECT_EQ(w.GetPaintManager().GetClientSize().cx, 300);
  WindowHandle handle = w.GetHWND();
  w.veto_close = true;
  w.SendUiMessage(kWmClose, 0);
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(MessageLoop::Get()->IsWindow(handle));
  w.veto_close = false;
  w.SendUiMessage(kWmClose, 0);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(MessageLoop::Get()->IsWindow(handle));
  EXPECT_FALSE(MessageLoop::Get()->PostUiMessage(handle, kWmUser + 1, 0, 0));
  EXPECT_EQ(w.ShowModal(), -1);
}

// Minimise and restore through the system command, as the caption buttons do.
TEST_F(PaintManagerTest, SystemCommands) {
  RecordingWindow w("w.xml");
  ASSERT_TRUE(w.Create(0, L"w", 0, 0, 300, 200));
  w.ShowWindow(true);
  w.SendUiMessage(kWmSysCommand, kScMinimize);
  EXPECT_TRUE(w.IsMinimized());
  w.SendUiMessage(kWmSysCommand, kScRestore);
  EXPECT_FALSE(w.IsMinimized());
  EXPECT_TRUE(w.IsWindowVisible());
  w.ShowWindow(false);
  EXPECT_FALSE(w.IsWindowVisible());
}

}  // namespace
}  // namespace ui
