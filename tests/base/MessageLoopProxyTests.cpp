// Posting through proxies: zero delays, dead loops, thread affinity and many producers.
#include "base/MessageLoopProxy.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/FrameworkThread.h"
#include "base/MessageLoop.h"
#include "base/Thread.h"
#include "tests/base/TestSupport.h"

namespace nbase {
namespace {

TEST(MessageLoopProxyTest, ZeroDelayPostsAnOrdinaryTask) {
  nbase_test::Watchdog watchdog;
  std::vector<std::string> order;
  MessageLoop loop;
  const std::shared_ptr<MessageLoopProxy> proxy = loop.message_loop_proxy();
  auto record = [&](const char* name) {
    return [&order, &loop, name] {
      order.push_back(name);
      if (order.size() == 4) loop.Quit();
    };
  };
  // A delayed task would be parked in the delayed queue and overtaken by the plain posts.
  ASSERT_TRUE(proxy->PostDelayedTask(record("zero delay"), 0));
  loop.PostTask(record("plain"));
  ASSERT_TRUE(proxy->PostNonNestableDelayedTask(record("zero delay non-nestable"), 0));
  loop.PostTask(record("plain 2"));
  loop.Run();
  EXPECT_EQ((std::vector<std::string>{"zero delay", "plain", "zero delay non-nestable", "plain 2"}),
            order);
}

TEST(MessageLoopProxyTest, PostsFailAndDropTasksOnceTheLoopIsGone) {
  auto loop = std::make_unique<MessageLoop>();
  const std::shared_ptr<MessageLoopProxy> proxy = loop->message_loop_proxy();
  EXPECT_TRUE(proxy->BelongsToCurrentThread());
  loop.reset();

  auto payload = std::make_shared<int>(0);
  std::weak_ptr<int> watch = payload;
  bool ran = false;
  EXPECT_FALSE(proxy->PostTask([payload, &ran] { ran = true; }));
  payload.reset();
  EXPECT_TRUE(watch.expired()) << "a refused task must not be kept";
  EXPECT_FALSE(proxy->PostDelayedTask([&ran] { ran = true; }, 1000));
  EXPECT_FALSE(proxy->PostNonNestableTask([&ran] { ran = true; }));
  EXPECT_FALSE(proxy->PostNonNestableDelayedTask([&ran] { ran = true; }, 1000));
  EXPECT_FALSE(proxy->BelongsToCurrentThread());
  EXPECT_FALSE(ran);
}

TEST(MessageLoopProxyTest, BelongsOnlyToTheLoopsThread) {
  nbase_test::Watchdog watchdog;
  FrameworkThread worker("proxy worker");
  ASSERT_TRUE(worker.Start());
  const std::shared_ptr<MessageLoopProxy> proxy = worker.message_loop_proxy();
  EXPECT_FALSE(proxy->BelongsToCurrentThread());
  EXPECT_TRUE(
      nbase_test::CallOn<bool>(worker, [proxy] { return proxy->BelongsToCurrentThread(); }));
  worker.Stop();
  EXPECT_FALSE(proxy->PostTask([] {}));
}

// Posts its share of numbered tasks as fast as it can once the gate opens.
class Producer : public Thread {
 public:
  Producer(int index, int count, HANDLE gate, std::shared_ptr<MessageLoopProxy> proxy,
           std::vector<std::vector<int>>* seen)
      : index_(index), count_(count), gate_(gate), proxy_(std::move(proxy)), seen_(seen) {}
  ~Producer() override { Close(); }

  int failed_posts() const { return failed_posts_; }

 private:
  void ThreadMain() override {
    ::WaitForSingleObject(gate_, INFINITE);
    for (int i = 0; i < count_; ++i) {
      // The per-producer vectors are only touched on the consuming loop's thread.
      std::vector<int>* mine = &(*seen_)[index_];
      if (!proxy_->PostTask([mine, i] { mine->push_back(i); })) ++failed_posts_;
    }
  }

  int index_;
  int count_;
  HANDLE gate_;
  std::shared_ptr<MessageLoopProxy> proxy_;
  std::vector<std::vector<int>>* seen_;
  int failed_posts_ = 0;
};

class CrossThreadStressTest : public ::testing::TestWithParam<int> {};

TEST_P(CrossThreadStressTest, NoTaskIsLostAndEachProducersOrderHolds) {
  const int kProducers = 4;
  const int kTasksEach = 10000;
  nbase_test::Watchdog watchdog(120);
  FrameworkThread consumer("consumer");
  ASSERT_TRUE(consumer.StartWithLoop(GetParam()));
  std::vector<std::vector<int>> seen(kProducers);
  nbase::UniqueHandle gate = nbase_test::MakeEvent(true);
  std::vector<std::unique_ptr<Producer>> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.push_back(std::make_unique<Producer>(p, kTasksEach, gate.get(),
                                                   consumer.message_loop_proxy(), &seen));
    ASSERT_TRUE(producers.back()->Create());
  }
  ::SetEvent(gate.get());
  for (auto& producer : producers) {
    producer->Close();
    EXPECT_EQ(0, producer->failed_posts());
  }
  // Posted after every producer finished, so it runs after all of their tasks.
  nbase::UniqueHandle drained = nbase_test::MakeEvent();
  HANDLE drained_handle = drained.get();
  ASSERT_TRUE(
      consumer.message_loop_proxy()->PostTask([drained_handle] { ::SetEvent(drained_handle); }));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(drained.get(), INFINITE));
  consumer.Stop();
  for (int p = 0; p < kProducers; ++p) {
    ASSERT_EQ(static_cast<size_t>(kTasksEach), seen[p].size()) << "producer " << p;
    for (int i = 0; i < kTasksEach; ++i) {
      ASSERT_EQ(i, seen[p][i]) << "producer " << p;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothPumps, CrossThreadStressTest,
                         ::testing::Values(MessageLoop::kDefaultMessageLoop,
                                           MessageLoop::kUIMessageLoop),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == MessageLoop::kUIMessageLoop ? "UI" : "Default";
                         });

}  // namespace
}  // namespace nbase
