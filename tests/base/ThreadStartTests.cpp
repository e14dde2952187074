// Callable threads, the exception policy at thread, task and loop boundaries, and the bounded
// condition wait.
#include <windows.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "base/ConditionVariable.h"
#include "base/ExceptionPolicy.h"
#include "base/FrameworkThread.h"
#include "base/Lock.h"
#include "base/MessageLoopProxy.h"
#include "base/Thread.h"
#include "tests/base/TestSupport.h"

namespace nbase {
namespace {

// Collects what the policy reports, from whichever thread caught it.
struct Reports {
  static Lock lock;
  static std::string last;
  static int count;

  static void Record(const char* where, const char* what) {
    AutoLock hold(lock);
    last = std::string(where) + ": " + (what ? what : "-");
    ++count;
  }
};
Lock Reports::lock;
std::string Reports::last;
int Reports::count = 0;

class ExceptionPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AutoLock hold(Reports::lock);
    Reports::last.clear();
    Reports::count = 0;
    SetExceptionReporter(&Reports::Record);
  }
  void TearDown() override { SetExceptionReporter(nullptr); }

  static std::string Last() {
    AutoLock hold(Reports::lock);
    return Reports::last;
  }
  static int Count() {
    AutoLock hold(Reports::lock);
    return Reports::count;
  }

  nbase_test::Watchdog watchdog_;
};

TEST_F(ExceptionPolicyTest, RunGuardedReportsWhatItCaughtAndSaysSo) {
  EXPECT_TRUE(RunGuarded("plain", [] {}));
  EXPECT_EQ(0, Count());
  EXPECT_FALSE(RunGuarded("standard", [] { throw std::runtime_error("broken"); }));
  EXPECT_EQ("standard: broken", Last());
  EXPECT_FALSE(RunGuarded("other", [] { throw 7; }));
  EXPECT_EQ("other: -", Last());
  EXPECT_EQ(2, Count());
}

TEST_F(ExceptionPolicyTest, AThrowingReporterIsContained) {
  SetExceptionReporter([](const char*, const char*) { throw std::logic_error("reporter"); });
  EXPECT_FALSE(RunGuarded("twice", [] { throw std::runtime_error("first"); }));
}

TEST_F(ExceptionPolicyTest, ThreadRunsItsBodyAndCanBeWaitedOn) {
  std::atomic<DWORD> ran_on{0};
  unsigned id = 0;
  UniqueHandle thread = StartThread(
      "test", [&ran_on] { ran_on = ::GetCurrentThreadId(); }, &id);
  ASSERT_TRUE(thread);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 10000));
  EXPECT_EQ(id, ran_on.load());
  EXPECT_NE(::GetCurrentThreadId(), ran_on.load());
  DWORD code = 99;
  ASSERT_TRUE(::GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(0u, code);
}

TEST_F(ExceptionPolicyTest, ThreadBodyThatThrowsEndsOnlyItsThread) {
  UniqueHandle thread = StartThread("throwing body", [] { throw std::runtime_error("lost"); });
  ASSERT_TRUE(thread);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 10000));
  DWORD code = 0;
  ASSERT_TRUE(::GetExitCodeThread(thread.get(), &code));
  EXPECT_EQ(1u, code);
  EXPECT_EQ("throwing body: lost", Last());
}

TEST_F(ExceptionPolicyTest, DetachedThreadOwnsWhatItWasGiven) {
  UniqueHandle done = nbase_test::MakeEvent(true);
  auto owned = std::make_unique<int>(41);
  HANDLE done_handle = done.get();
  ASSERT_TRUE(StartDetachedThread("detached", [owned = std::move(owned), done_handle] {
    if (*owned == 41) ::SetEvent(done_handle);
  }));
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(done.get(), 10000));
}

TEST_F(ExceptionPolicyTest, ThrowingPostedTaskLeavesTheLoopRunning) {
  FrameworkThread worker("tasks");
  ASSERT_TRUE(worker.Start());
  UniqueHandle done = nbase_test::MakeEvent(true);
  HANDLE done_handle = done.get();
  ASSERT_TRUE(worker.message_loop_proxy()->PostTask([] { throw std::runtime_error("task"); }));
  ASSERT_TRUE(worker.message_loop_proxy()->PostTask([done_handle] { ::SetEvent(done_handle); }));
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(done.get(), 10000));
  worker.Stop();
  EXPECT_EQ("posted task: task", Last());
}

TEST(ConditionVariableTest, WaitEndsWhenWokenOrWhenTimeIsUp) {
  nbase_test::Watchdog watchdog;
  Lock lock;
  ConditionVariable changed;
  bool ready = false;
  {
    AutoLock hold(lock);
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(changed.WaitFor(lock, 50, [&ready] { return ready; }));
    EXPECT_GE(::GetTickCount64() - start, 40u);
  }
  UniqueHandle setter = StartThread("setter", [&] {
    AutoLock hold(lock);
    ready = true;
    changed.WakeAll();
  });
  ASSERT_TRUE(setter);
  {
    AutoLock hold(lock);
    EXPECT_TRUE(changed.WaitFor(lock, 10000, [&ready] { return ready; }));
  }
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(setter.get(), 10000));
}

}  // namespace
}  // namespace nbase
