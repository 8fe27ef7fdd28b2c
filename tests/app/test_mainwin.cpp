// The bridge between worker threads and the GUI thread: the one-slot message
// box, the lock word and the progress fraction, driven by calling the timer
// tick directly with the message boxes replaced.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/mainWin.h"

namespace {

std::vector<std::pair<int, std::string>> shown;
int ticksWithMessage = 0;

void record(int type, const char* text) {
  shown.emplace_back(type, text);
  ticksWithMessage++;
}

class MessageSlot : public testing::Test {
 protected:
  void SetUp() override {
    shown.clear();
    mainWin_setMessageShower(record);
    mainWin_markGuiThread();
    // Empty the slot of anything an earlier test left.
    progress(nullptr);
    shown.clear();
  }
  void TearDown() override { mainWin_setMessageShower(nullptr); }
};

}  // namespace

TEST_F(MessageSlot, WorkerMessagesAreShownOneATickInOrder) {
  std::atomic<bool> done{false};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::thread worker([&] {
    messageInfo("first 100%");
    messageError("second\nline");
    messageInfo("third");
    done = true;
  });
  // The timer: each tick shows at most one message.
  for (int tick = 0; tick < 100000 && (shown.size() < 3 || !done); tick++) {
    size_t before = shown.size();
    progress(nullptr);
    ASSERT_LE(shown.size(), before + 1) << "two messages in one tick";
    std::this_thread::yield();
  }
  worker.join();
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0], std::make_pair(1, std::string("first 100%")));
  EXPECT_EQ(shown[1], std::make_pair(-1, std::string("second\nline")));
  EXPECT_EQ(shown[2], std::make_pair(1, std::string("third")));
  EXPECT_NE(out.find("INFO: first 100%\n"), std::string::npos);
  EXPECT_NE(out.find("INFO: third\n"), std::string::npos);
  EXPECT_EQ(err, "ERROR: second\nline\n");
}

TEST_F(MessageSlot, GuiThreadNeverWaitsForTheSlot) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  messageInfo("pending in the slot");
  EXPECT_TRUE(shown.empty()) << "a free slot is shown by the next tick";
  messageError("Cable not found!");  // the slot is taken: shown at once
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].second, "Cable not found!");
  progress(nullptr);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].second, "pending in the slot");
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
}

TEST_F(MessageSlot, LongTextIsCutToTheSlot) {
  testing::internal::CaptureStdout();
  std::string longText(2000, 'x');
  messageInfo(longText.c_str());
  progress(nullptr);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].second.size(), (size_t)MAINWIN_MESSAGE_SIZE - 1);
}

TEST(LockWord, ComponentsEnabledOnlyWhenEveryBitIsClear) {
  setLock(LOCK_DISCOVERY);
  remLock(LOCK_FIRMWARE);
  EXPECT_EQ(lockComponents.load(), (uint32_t)LOCK_DISCOVERY);
  progress(nullptr);
  EXPECT_FALSE(mainWin_componentsEnabled());
  setLock(LOCK_FIRMWARE);
  remLock(LOCK_DISCOVERY);
  progress(nullptr);
  EXPECT_FALSE(mainWin_componentsEnabled());
  remLock(LOCK_FIRMWARE);
  progress(nullptr);
  EXPECT_TRUE(mainWin_componentsEnabled());
}

TEST(LockWord, BitsSetAndClearedFromTwoThreadsAreNotLost) {
  std::thread a([] {
    for (int i = 0; i < 100000; i++) {
      setLock(LOCK_FIRMWARE);
      remLock(LOCK_FIRMWARE);
    }
  });
  for (int i = 0; i < 100000; i++) setLock(LOCK_DISCOVERY);
  a.join();
  EXPECT_EQ(lockComponents.load(), (uint32_t)LOCK_DISCOVERY);
  remLock(LOCK_DISCOVERY);
}

TEST(Progress, FractionOfDoneOverTotal) {
  EXPECT_DOUBLE_EQ(mainWin_fraction(0, 100), 0.0);
  EXPECT_DOUBLE_EQ(mainWin_fraction(7, 35), 0.2);
  EXPECT_DOUBLE_EQ(mainWin_fraction(35, 35), 1.0);
  EXPECT_DOUBLE_EQ(mainWin_fraction(40, 35), 1.0);
  EXPECT_DOUBLE_EQ(mainWin_fraction(0, 0), 1.0);
}

TEST(Title, IsTheProductName) {
  char buf[MAINWIN_TITLE_SIZE];
  EXPECT_STREQ(getTitle(buf), "Tern Curve creator 1.1.");
  EXPECT_EQ(strlen(buf), 23u);
}
