// Task ordering, nesting, delayed work and destruction of message loops of both pump kinds.
#include "base/MessageLoop.h"

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/MessageLoopProxy.h"
#include "base/TickClock.h"
#include "tests/base/TestSupport.h"

namespace nbase {
namespace {

using Log = std::vector<std::string>;

// Each case runs on a fresh thread: a UI loop leaves WM_QUIT behind in its thread's queue.
template <typename Setup>
void RunLoopOnNewThread(MessageLoop::Type type, Setup setup) {
  std::thread thread([&] {
    MessageLoop loop(type);
    setup(loop);
    loop.Run();
  });
  thread.join();
}

class MessageLoopTest : public ::testing::TestWithParam<MessageLoop::Type> {
 protected:
  nbase_test::Watchdog watchdog_;
};

TEST_P(MessageLoopTest, TaskPostedFromTaskRunsAfterItAndAfterEarlierTasks) {
  Log log;
  RunLoopOnNewThread(GetParam(), [&](MessageLoop& loop) {
    loop.PostTask([&] {
      log.push_back("a begin");
      loop.PostTask([&] {
        log.push_back("from a");
        loop.Quit();
      });
      log.push_back("a end");
    });
    loop.PostTask([&] { log.push_back("b"); });
  });
  EXPECT_EQ((Log{"a begin", "a end", "b", "from a"}), log);
}

TEST_P(MessageLoopTest, NonNestableTaskWaitsForOutermostRunToBeIdle) {
  Log log;
  RunLoopOnNewThread(GetParam(), [&](MessageLoop& loop) {
    loop.PostTask([&] {
      log.push_back("outer begin");
      loop.PostNonNestableTask([&] {
        log.push_back("non-nestable at depth " + std::to_string(loop.run_depth()));
        loop.Quit();
      });
      loop.PostTask([&] {
        log.push_back("nestable at depth " + std::to_string(loop.run_depth()));
        loop.Quit();
      });
      ScopedNestableTaskAllower allow(&loop);
      loop.Run();
      log.push_back("outer end");
    });
  });
  EXPECT_EQ((Log{"outer begin", "nestable at depth 2", "outer end", "non-nestable at depth 1"}),
            log);
}

TEST_P(MessageLoopTest, DelayedTasksRunByRunTimeThenPostingOrderAndNeverEarly) {
  const int kCount = 40;
  const int64_t kDelay = 30 * 1000;
  std::vector<int> order;
  bool ran_early = false;
  RunLoopOnNewThread(GetParam(), [&](MessageLoop& loop) {
    // Posted back to back, most of these share one run time; only the sequence number keeps
    // them in order, as a heap by itself does not.
    for (int i = 0; i < kCount; ++i) {
      const int64_t posted_at = TickClock::NowMicroseconds();
      loop.PostDelayedTask(
          [&, i, posted_at] {
            ran_early |= TickClock::NowMicroseconds() < posted_at + kDelay;
            order.push_back(i);
            if (i == kCount - 1) loop.Quit();
          },
          kDelay);
    }
    loop.PostNonNestableDelayedTask([&] { order.push_back(-1); }, kDelay / 3);
  });
  ASSERT_EQ(kCount + 1u, order.size());
  EXPECT_EQ(-1, order[0]);
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(i, order[i + 1]);
  EXPECT_FALSE(ran_early);
}

TEST_P(MessageLoopTest, ObserversSeeEachTaskAndNestingIsBlockedInsideTasks) {
  struct Recorder : MessageLoop::TaskObserver {
    explicit Recorder(Log& log) : log(log) {}
    void WillProcessTask(const QueuedTask&) override { log.push_back("will"); }
    void DidProcessTask(const QueuedTask&) override { log.push_back("did"); }
    Log& log;
  };
  Log log;
  Recorder recorder(log);
  RunLoopOnNewThread(GetParam(), [&](MessageLoop& loop) {
    loop.AddTaskObserver(&recorder);
    loop.PostTask([&] {
      log.push_back(loop.NestableTasksAllowed() ? "allowed" : "blocked");
      loop.Quit();
    });
  });
  EXPECT_EQ((Log{"will", "blocked", "did"}), log);
}

INSTANTIATE_TEST_SUITE_P(BothPumps, MessageLoopTest,
                         ::testing::Values(MessageLoop::kDefaultMessageLoop,
                                           MessageLoop::kUIMessageLoop),
                         [](const ::testing::TestParamInfo<MessageLoop::Type>& info) {
                           return info.param == MessageLoop::kUIMessageLoop ? "UI" : "Default";
                         });

TEST(MessageLoopUITest, WmQuitEndsNestedAndOutermostRunAndStaysQueued) {
  nbase_test::Watchdog watchdog;
  Log log;
  bool quit_left_in_queue = false;
  WPARAM exit_code = 0;
  std::thread thread([&] {
    {
      MessageLoop loop(MessageLoop::kUIMessageLoop);
      loop.PostTask([&] {
        loop.PostTask([] { ::PostQuitMessage(7); });
        ScopedNestableTaskAllower allow(&loop);
        loop.Run();
        log.push_back("nested run ended");
      });
      loop.Run();
      log.push_back("outer run ended");
    }
    MSG msg;
    quit_left_in_queue = ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    exit_code = msg.wParam;
  });
  thread.join();
  EXPECT_EQ((Log{"nested run ended", "outer run ended"}), log);
  EXPECT_TRUE(quit_left_in_queue);
  EXPECT_EQ(7u, exit_code);
}

TEST(MessageLoopUITest, DispatcherReceivesMessagesAndEndsRunByRefusing) {
  struct Refuser : Dispatcher {
    bool Dispatch(const MSG& msg) override {
      seen.push_back(msg.message);
      return msg.message != WM_APP + 2;
    }
    std::vector<UINT> seen;
  };
  nbase_test::Watchdog watchdog;
  Refuser dispatcher;
  bool task_ran = false;
  std::thread thread([&] {
    MessageLoop loop(MessageLoop::kUIMessageLoop);
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 1, 0, 0);
    loop.PostTask([&] {
      task_ran = true;
      ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP + 2, 0, 0);
    });
    loop.Run(&dispatcher);
  });
  thread.join();
  EXPECT_TRUE(task_ran);
  // The pump's own have-work message must never reach the dispatcher.
  EXPECT_EQ((std::vector<UINT>{WM_APP + 1, WM_APP + 2}), dispatcher.seen);
}

// Every destruction of one of these posts another, forever.
struct Reposter {
  struct Counts {
    int destroyed = 0;
    bool ran = false;
  };
  static std::function<void()> MakeTask(const std::shared_ptr<Counts>& counts) {
    auto reposter = std::make_shared<Reposter>(counts);
    return [reposter] { reposter->counts->ran = true; };
  }
  explicit Reposter(std::shared_ptr<Counts> counts) : counts(std::move(counts)) {}
  ~Reposter() {
    ++counts->destroyed;
    if (MessageLoop* loop = MessageLoop::current()) loop->PostTask(MakeTask(counts));
  }
  std::shared_ptr<Counts> counts;
};

TEST(MessageLoopDestructionTest, EndsDespiteTasksThatRepostFromTheirDestructors) {
  struct Observer : MessageLoop::DestructionObserver {
    void WillDestroyCurrentMessageLoop() override {
      notified = true;
      destroyed_when_notified = counts->destroyed;
    }
    std::shared_ptr<Reposter::Counts> counts;
    bool notified = false;
    int destroyed_when_notified = 0;
  };
  nbase_test::Watchdog watchdog;
  auto counts = std::make_shared<Reposter::Counts>();
  auto delayed_counts = std::make_shared<Reposter::Counts>();
  Observer observer;
  observer.counts = counts;
  std::shared_ptr<MessageLoopProxy> proxy;
  std::thread thread([&] {
    auto loop = std::make_unique<MessageLoop>();
    proxy = loop->message_loop_proxy();
    loop->AddDestructionObserver(&observer);
    loop->PostTask(Reposter::MakeTask(counts));
    loop->PostDelayedTask(Reposter::MakeTask(delayed_counts), 1000 * 1000);
    loop.reset();
    EXPECT_EQ(nullptr, MessageLoop::current());
  });
  thread.join();
  EXPECT_FALSE(counts->ran);
  EXPECT_FALSE(delayed_counts->ran);
  EXPECT_TRUE(observer.notified);
  // The chain is cut after a bounded number of passes; the straggler dies with the loop.
  EXPECT_GE(observer.destroyed_when_notified, 50);
  EXPECT_LE(counts->destroyed, 101);
  EXPECT_FALSE(proxy->PostTask([] {}));
}

TEST(TickClockTest, WidensReadingsAcrossRollovers) {
  TickClock clock;
  const int64_t wrap = int64_t{1} << 32;
  EXPECT_EQ(int64_t{0xFFFFFFF0} * 1000, clock.FromMilliseconds(0xFFFFFFF0u));
  EXPECT_EQ((wrap + 5) * 1000, clock.FromMilliseconds(5));
  EXPECT_EQ((wrap + 9) * 1000, clock.FromMilliseconds(9));
  EXPECT_EQ((wrap + 9) * 1000, clock.FromMilliseconds(9));
  EXPECT_EQ((2 * wrap + 1) * 1000, clock.FromMilliseconds(1));

  const int64_t before = TickClock::NowMicroseconds();
  ::Sleep(20);
  EXPECT_GE(TickClock::NowMicroseconds() - before, 15 * 1000);
  // Microseconds since 1601: the Unix epoch is 11644473600 s later.
  const int64_t unix_seconds = TickClock::WallClockMicroseconds() / 1000000 - 11644473600LL;
  EXPECT_LE(std::llabs(unix_seconds - static_cast<int64_t>(::time(nullptr))), 5);
}

}  // namespace
}  // namespace nbase
