// Weak callbacks, cancellation flags, and timers that die with their owners.
#include "base/WeakCallback.h"

#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "base/MessageLoop.h"
#include "base/TimerQueue.h"
#include "tests/base/TestSupport.h"

namespace nbase {
namespace {

struct Owner : SupportWeakCallback {
  int Twice(int value) {
    ++calls;
    return value * 2;
  }
  int calls = 0;
};

TEST(WeakCallbackTest, CallsThroughOnlyWhileTheOwnerLives) {
  auto owner = std::make_unique<Owner>();
  Owner* raw = owner.get();
  auto callback = owner->ToWeakCallback([raw](int value) { return raw->Twice(value); });
  EXPECT_EQ(6, callback(3));
  EXPECT_FALSE(callback.Expired());
  owner.reset();
  EXPECT_TRUE(callback.Expired());
  EXPECT_EQ(0, callback(3)) << "a dead callback returns a value-initialised result";
}

TEST(WeakCallbackTest, CopiesOfAnOwnerKeepTheirOwnCallbacks) {
  auto original = std::make_unique<Owner>();
  Owner copy = *original;
  auto from_original = original->ToWeakCallback([] { return 1; });
  auto from_copy = copy.ToWeakCallback([] { return 1; });
  original.reset();
  EXPECT_EQ(0, from_original());
  EXPECT_EQ(1, from_copy());
}

TEST(WeakCallbackTest, CancellingAFlagKillsEarlierCallbacksOnly) {
  WeakCallbackFlag flag;
  EXPECT_FALSE(flag.HasUsed());
  int calls = 0;
  auto before = flag.ToWeakCallback([&calls] { ++calls; });
  EXPECT_TRUE(flag.HasUsed());
  flag.Cancel();
  EXPECT_FALSE(flag.HasUsed());
  auto after = flag.ToWeakCallback([&calls] { calls += 10; });
  before();
  after();
  EXPECT_EQ(10, calls);
}

TEST(WeakCallbackTest, QueuedTaskOfADeadOwnerDoesNothing) {
  nbase_test::Watchdog watchdog;
  MessageLoop loop;
  auto owner = std::make_unique<Owner>();
  Owner* raw = owner.get();
  loop.PostTask(owner->ToWeakCallback([raw] { raw->Twice(1); }));
  loop.PostTask([&owner] { owner.reset(); });
  loop.PostTask(owner->ToWeakCallback([raw] { raw->Twice(1); }));
  loop.PostTask([&loop] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(nullptr, owner);
}

// The queue is driven by the thread that first asks for it; every case here runs its loop
// on the test program's main thread.
class TimerQueueTest : public ::testing::Test {
 protected:
  TimerQueueTest() : queue_(TimerQueue::GetInstance()) {}
  nbase_test::Watchdog watchdog_{30};
  MessageLoop loop_{MessageLoop::kUIMessageLoop};
  TimerQueue* queue_;
};

TEST_F(TimerQueueTest, RepeatCountsGiveEndlessNOrOneRun) {
  WeakCallbackFlag alive;
  WeakCallbackFlag endless_flag;
  WeakCallbackFlag finisher;
  int three = 0, zero = 0, endless = 0;
  ASSERT_TRUE(queue_->AddCancelableTimer(
      alive.GetWeakFlag(), [&] { ++three; }, 10, 3));
  ASSERT_TRUE(queue_->AddCancelableTimer(
      alive.GetWeakFlag(), [&] { ++zero; }, 10, 0));
  ASSERT_TRUE(queue_->AddCancelableTimer(
      endless_flag.GetWeakFlag(),
      [&] {
        if (++endless == 5) endless_flag.Cancel();
      },
      5, -1));
  // Once everything should be over, wait a little longer to catch extra runs, then stop.
  ASSERT_TRUE(queue_->AddCancelableTimer(
      alive.GetWeakFlag(),
      [&] {
        if (three == 3 && zero == 1 && endless == 5) {
          queue_->AddCancelableTimer(
              finisher.GetWeakFlag(), [&] { loop_.Quit(); }, 100, 0);
          alive.Cancel();
        }
      },
      10, -1));
  loop_.Run();
  EXPECT_EQ(3, three);
  EXPECT_EQ(1, zero);
  EXPECT_EQ(5, endless);
}

TEST_F(TimerQueueTest, TimerOfADestroyedOwnerIsDroppedWithoutCallOrRearm) {
  auto owner = std::make_unique<Owner>();
  Owner* raw = owner.get();
  ASSERT_TRUE(queue_->AddCancelableTimer(
      owner->GetWeakFlag(), [raw] { raw->Twice(1); }, 20, -1));
  owner.reset();
  WeakCallbackFlag alive;
  size_t pending_at_end = 99;
  ASSERT_TRUE(queue_->AddCancelableTimer(
      alive.GetWeakFlag(),
      [&] {
        pending_at_end = queue_->pending_count();
        loop_.Quit();
      },
      150, 0));
  loop_.Run();
  EXPECT_EQ(0u, pending_at_end);
}

TEST_F(TimerQueueTest, OtherThreadsCannotAddTimers) {
  WeakCallbackFlag alive;
  bool added = true;
  std::thread other([&] {
    added = queue_->AddCancelableTimer(
        alive.GetWeakFlag(), [] {}, 10, 0);
  });
  other.join();
  EXPECT_FALSE(added);
}

}  // namespace
}  // namespace nbase
