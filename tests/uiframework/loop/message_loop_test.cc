#include "uiframework/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../test_archive.h"
#include "../test_window.h"
#include "uiframework/ui_types.h"

namespace ui {
namespace {

using testing_window::RecordingWindow;
using Clock = std::chrono::steady_clock;

// A message target that records what it receives.
class Recorder : public MessageTarget {
 public:
  intptr_t DispatchMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    got.push_back({message, wparam, lparam, Clock::now()});
    if (on_message) on_message(message, wparam);
    return 0;
  }
  struct Got {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    Clock::time_point at;
  };
  std::vector<Got> got;
  std::function<void(uint32_t, uintptr_t)> on_message;
};

class MessageLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    loop_->ResetQuit();
    handle_ = loop_->Register(&recorder_);
  }
  void TearDown() override {
    loop_->Unregister(handle_);
    loop_->ResetQuit();
  }
  // Runs the loop until `done` or 10 s; returns whether `done` held.
  bool runUntil(const std::function<bool()>& done) {
    Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
    return loop_->RunUntil([&] { return done() || Clock::now() > limit; }) && done();
  }

  MessageLoop* loop_ = MessageLoop::Get();
  Recorder recorder_;
  WindowHandle handle_ = 0;
};

// Messages posted from many threads at once all arrive, each thread's in
// the order it posted them.
TEST_F(MessageLoopTest, PostsFromManyThreadsArriveInOrderPerThread) {
  constexpr int kThreads = 8, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) loop_->PostUiMessage(handle_, kWmUser + 1919, t, i);
    });
  }
  EXPECT_TRUE(runUntil([&] { return recorder_.got.size() == kThreads * kEach; }));
  for (auto& th : threads) th.join();
  std::vector<intptr_t> last(kThreads, -1);
  for (const auto& g : recorder_.got) {
    ASSERT_LT(g.wparam, static_cast<uintptr_t>(kThreads));
    EXPECT_EQ(g.lparam, last[g.wparam] + 1);
    last[g.wparam] = g.lparam;
  }
  // A message for a window that is gone is refused, not delivered.
  EXPECT_FALSE(loop_->PostUiMessage(handle_ + 100000, kWmUser, 0, 0));
}

// Timers fire by period; a period of 0 is raised to the minimum instead of
// spinning; killing a timer from its own handler stops it.
TEST_F(MessageLoopTest, TimersFireByPeriodAndStopWhenKilled) {
  Clock::time_point start = Clock::now();
  loop_->SetTimer(handle_, 1920, 200);
  loop_->SetTimer(handle_, 1923, 50);
  loop_->SetTimer(handle_, 7, 0);
  int zero_ticks = 0;
  recorder_.on_message = [&](uint32_t message, uintptr_t id) {
    if (message == kWmTimer && id == 7 && ++zero_ticks == 3) loop_->KillTimer(handle_, 7);
  };
  auto count = [&](uintptr_t id) {
    int n = 0;
    for (const auto& g : recorder_.got) n += g.message == kWmTimer && g.wparam == id;
    return n;
  };
  EXPECT_TRUE(runUntil([&] { return count(1920) >= 2; }));
  Clock::time_point second_1920;
  for (const auto& g : recorder_.got) {
    if (g.wparam == 1920) second_1920 = g.at;
  }
  // Two ticks of 200 ms cannot come before 400 ms.
  EXPECT_GE(second_1920 - start, std::chrono::milliseconds(400));
  EXPECT_GE(count(1923), 4);
  EXPECT_EQ(count(7), 3);
  // The 50 ms timer ticked before the 200 ms one did.
  ASSERT_FALSE(recorder_.got.empty());
  EXPECT_NE(recorder_.got.front().wparam, 1920u);
  EXPECT_TRUE(loop_->KillTimer(handle_, 1920));
  EXPECT_FALSE(loop_->KillTimer(handle_, 1920));
  loop_->KillTimer(handle_, 1923);
}

// A worker may switch a window's timer on (the install thread does); the
// ticks still arrive on the loop's thread.
TEST_F(MessageLoopTest, TimerSetFromAWorkerFiresOnTheLoopThread) {
  std::thread::id ui_thread = std::this_thread::get_id();
  std::vector<std::thread::id> tick_threads;
  recorder_.on_message = [&](uint32_t message, uintptr_t) {
    if (message == kWmTimer) tick_threads.push_back(std::this_thread::get_id());
  };
  std::thread worker([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the loop is waiting by then
    loop_->SetTimer(handle_, 1000, 20);
  });
  EXPECT_TRUE(runUntil([&] { return tick_threads.size() >= 3; }));
  worker.join();
  for (const auto& id : tick_threads) EXPECT_EQ(id, ui_thread);
  std::thread killer([this] { EXPECT_TRUE(loop_->KillTimer(handle_, 1000)); });
  killer.join();
}

// Posted messages and tasks go before due timers of the same round, as a
// Win32 queue delivers posts before WM_TIMER.
TEST_F(MessageLoopTest, PostedMessagesComeBeforeTimers) {
  loop_->SetTimer(handle_, 1, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let the timer fall due
  loop_->PostUiMessage(handle_, kWmUser + 5, 0, 0);
  EXPECT_TRUE(runUntil([&] { return recorder_.got.size() >= 2; }));
  EXPECT_EQ(recorder_.got[0].message, kWmUser + 5);
  EXPECT_EQ(recorder_.got[1].message, kWmTimer);
  loop_->KillTimer(handle_, 1);
}

// Quit from another thread ends a nested loop and then the outer one.
TEST_F(MessageLoopTest, QuitEndsNestedLoops) {
  std::thread quitter([this] { loop_->PostQuit(7); });
  bool nested_done = loop_->RunUntil([] { return false; });
  quitter.join();
  EXPECT_FALSE(nested_done);
  EXPECT_EQ(loop_->Run(), 7);
  EXPECT_FALSE(loop_->QuitRequested());
}

// The longest stall is the longest the thread stayed away from its events:
// a slow handler counts and is named; waiting for work does not; a handler
// that runs a nested loop (a modal box) counts its own work on either side
// of that loop's waits, never the time the box waited for the user.
TEST_F(MessageLoopTest, LongestStallCountsWorkNotWaiting) {
  using std::chrono::milliseconds;
  std::vector<MessageLoop::Stall> observed;
  loop_->SetStallObserver([&](const MessageLoop::Stall& s) { observed.push_back(s); });
  const uint32_t kSlow = kWmUser + 7, kModal = kWmUser + 8;
  recorder_.on_message = [&](uint32_t message, uintptr_t) {
    if (message == kSlow) std::this_thread::sleep_for(milliseconds(80));
    if (message != kModal) return;
    std::this_thread::sleep_for(milliseconds(30));
    Clock::time_point until = Clock::now() + milliseconds(400);
    loop_->RunUntil([&] { return Clock::now() >= until; });
    std::this_thread::sleep_for(milliseconds(30));
  };

  loop_->ResetStalls();
  loop_->SetTimer(handle_, 1, 400);
  EXPECT_TRUE(runUntil([&] { return !recorder_.got.empty(); }));
  loop_->KillTimer(handle_, 1);
  loop_->RunPending();
  EXPECT_LT(loop_->LongestStall().length, milliseconds(300));

  loop_->ResetStalls();
  observed.clear();
  loop_->PostUiMessage(handle_, kSlow, 0, 0);
  EXPECT_TRUE(runUntil([&] { return recorder_.got.back().message == kSlow; }));
  loop_->RunPending();
  EXPECT_GE(loop_->LongestStall().length, milliseconds(80));
  EXPECT_EQ(loop_->LongestStall().what, "message 0x0407");
  ASSERT_FALSE(observed.empty());
  EXPECT_EQ(observed.back().length, loop_->LongestStall().length);

  loop_->ResetStalls();
  loop_->PostUiMessage(handle_, kModal, 0, 0);
  EXPECT_TRUE(runUntil([&] { return recorder_.got.back().message == kModal; }));
  loop_->RunPending();
  EXPECT_GE(loop_->LongestStall().length, milliseconds(30));
  EXPECT_LT(loop_->LongestStall().length, milliseconds(300));
  loop_->SetStallObserver(nullptr);
}

// A modal window returns the result of the close that ended it, while its
// owner's timers and posted messages go on being dispatched and the owner
// takes no input.
class ModalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetHostKind(HostKind::kHeadless);
    MessageLoop::Get()->ResetQuit();
    archive_ = testing_archive::make(
        {{"w.xml",
          "<Window size=\"200,100\"><VerticalLayout><Button name=\"b\"/></VerticalLayout></Window>"}});
    SetSkinArchiveOverride(archive_);
  }
  void TearDown() override { SetSkinArchiveOverride(nullptr); }
  std::shared_ptr<SkinArchive> archive_;
};

TEST_F(ModalTest, ModalLoopReturnsCloseResultWhileOwnerTimersFire) {
  RecordingWindow owner("w.xml");
  ASSERT_TRUE(owner.Create(0, L"owner", 0, 0, 200, 100));
  owner.ShowWindow(true);
  owner.SetTimer(1921, 20);
  bool box_gone = false;
  RecordingWindow box("w.xml");
  box.destroyed = &box_gone;
  ASSERT_TRUE(box.Create(owner.GetHWND(), L"box", 0, 0, 200, 100));
  box.veto_close = true;  // the first close request is refused by OnClose
  std::thread worker([&] {
    // A worker thread talks to both windows only through their handles.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    MessageLoop::Get()->PostUiMessage(owner.GetHWND(), kWmUser + 1925, 0, 0);
    MessageLoop::Get()->PostUiMessage(box.GetHWND(), kWmClose, 2, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    MessageLoop::Get()->PostTask([&] { box.veto_close = false; });
    MessageLoop::Get()->PostUiMessage(box.GetHWND(), kWmClose, 1, 0);
    MessageLoop::Get()->PostUiMessage(box.GetHWND(), kWmClose, 2, 0);  // too late: ignored
  });
  box.SetTimer(5, 10);
  int result = box.ShowModal();
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(box_gone);
  EXPECT_TRUE(owner.IsWindowEnabled());
  int owner_ticks = 0;
  bool custom = false;
  for (const auto& [message, w] : owner.messages) {
    owner_ticks += message == kWmTimer && w == 1921;
    custom = custom || message == kWmUser + 1925;
  }
  EXPECT_GE(owner_ticks, 5);
  EXPECT_TRUE(custom);
  // Timers of the destroyed box are gone with it.
  EXPECT_FALSE(MessageLoop::Get()->KillTimer(box.GetHWND(), 5));
  owner.KillTimer(1921);
}

// While a modal box is up, its owner ignores the mouse.
TEST_F(ModalTest, OwnerTakesNoInputWhileModal) {
  RecordingWindow owner("w.xml");
  ASSERT_TRUE(owner.Create(0, L"owner", 0, 0, 200, 100));
  owner.ShowWindow(true);
  RecordingWindow box("w.xml");
  ASSERT_TRUE(box.Create(owner.GetHWND(), L"box", 0, 0, 200, 100));
  MessageLoop::Get()->PostTask([&] {
    static_cast<HostDelegate&>(owner).OnHostMouse(MouseEvent::kDown, 50, 50, 0);
    static_cast<HostDelegate&>(owner).OnHostMouse(MouseEvent::kUp, 50, 50, 0);
    box.Close(4);
  });
  EXPECT_EQ(box.ShowModal(), 4);
  EXPECT_TRUE(owner.events.empty());
  static_cast<HostDelegate&>(owner).OnHostMouse(MouseEvent::kDown, 50, 50, 0);
  static_cast<HostDelegate&>(owner).OnHostMouse(MouseEvent::kUp, 50, 50, 0);
  EXPECT_EQ(owner.events, (std::vector<std::string>{"click:b"}));
}

}  // namespace
}  // namespace ui
