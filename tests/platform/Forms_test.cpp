#include "platform/Forms.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"

namespace {

// Drives the calling thread's timers with a hand-set clock and restores everything afterwards.
class FormsTest : public ::testing::Test {
protected:
  void SetUp() override {
    Application->SetTimerClock([this] { return FNow; });
    Application->OnException = [this](const std::exception& e) { FErrors.push_back(e.what()); };
  }
  void TearDown() override {
    for (int i = 0; i < 8; ++i) Application->KillTimer(this, i);
    Application->SetTimerClock(nullptr);
    Application->OnException = nullptr;
    Application->SetMaxTimers(10000);
    Application->ProcessMessages();  // drain anything a failed test left queued
  }
  uint64_t FNow = 1000;
  std::vector<std::string> FErrors;
};

TEST_F(FormsTest, TitleIsTheProgramNameWithoutExtension) {
  EXPECT_EQ(Application->GetTitle(), "platform_tests");
  EXPECT_NE(Application->GetExeName().find("/platform_tests"), std::string::npos);
}

TEST_F(FormsTest, PostedTasksRunOnTheNextProcessMessagesInOrder) {
  std::string trace;
  Application->Post([&] { trace += "a"; });
  Application->Post([&] {
    trace += "b";
    Application->Post([&] { trace += "c"; });  // queued for the next pass
  });
  EXPECT_EQ(trace, "");
  Application->ProcessMessages();
  EXPECT_EQ(trace, "ab");
  Application->ProcessMessages();
  EXPECT_EQ(trace, "abc");
}

TEST_F(FormsTest, TimersFireWhenDueEarliestFirst) {
  std::string trace;
  ASSERT_TRUE(Application->SetTimer(this, 1, 100, [&] { trace += "1"; }));
  ASSERT_TRUE(Application->SetTimer(this, 2, 50, [&] { trace += "2"; }));
  Application->ProcessMessages();
  EXPECT_EQ(trace, "");
  FNow += 49;
  Application->RunDueTimers();
  EXPECT_EQ(trace, "");
  FNow += 1;
  Application->RunDueTimers();
  EXPECT_EQ(trace, "2");
  FNow += 1000;  // long overdue: one tick each, earliest due first
  Application->RunDueTimers();
  EXPECT_EQ(trace, "212");
  FNow += 50;  // both were rescheduled from the late pass: only the 50 ms one is due
  Application->RunDueTimers();
  EXPECT_EQ(trace, "2122");
  FNow += 50;  // both due at the same tick: the older timer first
  Application->RunDueTimers();
  EXPECT_EQ(trace, "212212");
}

TEST_F(FormsTest, KillAndResetTimers) {
  int a = 0, b = 0;
  Application->SetTimer(this, 1, 10, [&] {
    ++a;
    Application->KillTimer(this, 2);  // killed before its turn in this pass
  });
  Application->SetTimer(this, 2, 10, [&] { ++b; });
  EXPECT_EQ(Application->TimerCount(), 2);
  FNow += 10;
  Application->RunDueTimers();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  EXPECT_FALSE(Application->KillTimer(this, 2));
  // Setting an existing timer again restarts it with the new interval.
  Application->SetTimer(this, 1, 500, [&] { a += 10; });
  FNow += 10;
  Application->RunDueTimers();
  EXPECT_EQ(a, 1);
  FNow += 490;
  Application->RunDueTimers();
  EXPECT_EQ(a, 11);
  // A timer that kills itself runs no more.
  Application->SetTimer(this, 1, 10, [&] {
    ++b;
    Application->KillTimer(this, 1);
  });
  FNow += 20;
  Application->RunDueTimers();
  FNow += 20;
  Application->RunDueTimers();
  EXPECT_EQ(b, 1);
  EXPECT_EQ(Application->TimerCount(), 0);
}

TEST_F(FormsTest, ATimerDoesNotReenterItself) {
  int depth = 0, maxDepth = 0;
  Application->SetTimer(this, 1, 10, [&] {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    FNow += 100;
    Application->ProcessMessages();  // a callback that pumps messages
    --depth;
  });
  FNow += 10;
  Application->ProcessMessages();
  EXPECT_EQ(maxDepth, 1);
}

TEST_F(FormsTest, TasksAndTimersArePerThread) {
  Application->SetTimer(this, 1, 10, [] {});
  bool ran = false;
  int other = -1;
  std::thread([&] {
    Application->Post([&] { ran = true; });
    other = Application->TimerCount();
  }).join();
  Application->ProcessMessages();
  EXPECT_FALSE(ran);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(Application->TimerCount(), 1);
}

TEST_F(FormsTest, TimerLimitRefusesNewTimers) {
  Application->SetMaxTimers(1);
  EXPECT_TRUE(Application->SetTimer(this, 1, 10, [] {}));
  EXPECT_FALSE(Application->SetTimer(this, 2, 10, [] {}));
  EXPECT_TRUE(Application->SetTimer(this, 1, 20, [] {}));  // resetting an existing one is fine
}

TEST_F(FormsTest, ExceptionsInTasksAndTimersGoToTheHandler) {
  int after = 0;
  Application->Post([] { throw Exception("task failed"); });
  Application->Post([&] { ++after; });
  Application->SetTimer(this, 1, 10, [] { throw Exception("tick failed"); });
  Application->SetTimer(this, 2, 10, [&] { ++after; });
  Application->Post([] { Abort(); });  // the silent abort is not reported
  FNow += 10;
  Application->ProcessMessages();
  EXPECT_EQ(after, 2);
  EXPECT_EQ(FErrors, (std::vector<std::string>{"task failed", "tick failed"}));
}

TEST_F(FormsTest, WithoutAWorkingSinkExceptionsGoToStderr) {
  Application->OnException = nullptr;
  testing::internal::CaptureStderr();
  Application->HandleException(Exception("Something broke"));
  Application->OnException = [](const std::exception&) { throw 42; };  // a sink that fails itself
  Application->HandleException(Exception("Lost otherwise"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Something broke\nUnknown exception in the application's exception handler\nLost otherwise\n");
}

uint64_t gFakeTick = 0;

TEST(Forms, TimersUseTheClockModuleByDefault) {
  SetTickSource([] { return gFakeTick; });
  int n = 0;
  int owner;
  Application->SetTimer(&owner, 1, 100, [&] { ++n; });
  gFakeTick += 99;
  Application->ProcessMessages();
  EXPECT_EQ(n, 0);
  gFakeTick += 1;
  Application->ProcessMessages();
  EXPECT_EQ(n, 1);
  Application->KillTimer(&owner, 1);
  SetTickSource(nullptr);
}

TEST(Forms, BeepHookCountsByDefault) {
  int64_t before = BeepCount();
  MessageBeep(0);
  EXPECT_EQ(BeepCount(), before + 1);
  std::vector<uint32_t> seen;
  TBeepHook old = SetBeepHook([&](uint32_t t) { seen.push_back(t); });
  MessageBeep(48);
  SetBeepHook(old);
  EXPECT_EQ(seen, std::vector<uint32_t>{48});
  EXPECT_EQ(BeepCount(), before + 1);
}

}  // namespace
