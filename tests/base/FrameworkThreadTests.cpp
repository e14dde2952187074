// Framework thread life cycle and the thread identifier registry.
#include "base/FrameworkThread.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/MessageLoopProxy.h"
#include "base/ThreadRegistry.h"
#include "tests/base/TestSupport.h"

namespace nbase {
namespace {

// Records which hook ran, on which thread, and whether the loop was quit by Stop.
class RecordingThread : public FrameworkThread {
 public:
  explicit RecordingThread(const char* name) : FrameworkThread(name) {}
  ~RecordingThread() override { Stop(); }

  std::vector<std::string> log() {
    std::lock_guard<std::mutex> hold(lock_);
    return log_;
  }
  void Add(const std::string& entry) {
    std::lock_guard<std::mutex> hold(lock_);
    log_.push_back(entry);
  }
  DWORD init_thread_id() const { return init_thread_id_; }

  std::function<void()> on_init;

 protected:
  void Init() override {
    init_thread_id_ = ::GetCurrentThreadId();
    Add("init");
    if (on_init) on_init();
  }
  void Cleanup() override {
    ThreadLocalRecord* record = ThreadLocalRecord::Current();
    Add(record && record->quit_properly ? "cleanup after stop" : "cleanup");
  }

 private:
  std::mutex lock_;
  std::vector<std::string> log_;
  DWORD init_thread_id_ = 0;
};

TEST(FrameworkThreadTest, StopOnNeverStartedThreadDoesNothing) {
  RecordingThread thread("never started");
  thread.Stop();
  thread.Stop();
  EXPECT_TRUE(thread.log().empty());
  EXPECT_EQ(nullptr, thread.message_loop());
  EXPECT_EQ(0u, thread.thread_id());
}

TEST(FrameworkThreadTest, StartRunsInitFirstAndStopRunsPendingWorkThenCleanupAndJoins) {
  nbase_test::Watchdog watchdog;
  RecordingThread thread("worker");
  ASSERT_TRUE(thread.Start());
  // Init has run on the new thread by the time Start returns.
  EXPECT_EQ((std::vector<std::string>{"init"}), thread.log());
  EXPECT_NE(::GetCurrentThreadId(), thread.init_thread_id());
  EXPECT_EQ(thread.init_thread_id(), thread.thread_id());
  ASSERT_NE(nullptr, thread.message_loop());
  EXPECT_FALSE(thread.Start()) << "a second Start while the loop runs";

  // Quit takes effect only when the loop is idle, so work posted around the quit request,
  // even after it, still runs.
  ASSERT_TRUE(thread.message_loop_proxy()->PostTask([&thread] {
    thread.Add("task");
    MessageLoop::current()->PostTask([&thread] {
      thread.Add("task");
      MessageLoop::current()->PostTask([&thread] { thread.Add("task"); });
    });
  }));
  thread.Stop();

  EXPECT_EQ((std::vector<std::string>{"init", "task", "task", "task", "cleanup after stop"}),
            thread.log());
  EXPECT_EQ(nullptr, thread.message_loop());
  EXPECT_EQ(nullptr, thread.thread_handle());
  EXPECT_EQ(0u, thread.thread_id());
  EXPECT_FALSE(thread.message_loop_proxy()->PostTask([] {}));

  // Stopped threads can be started again.
  ASSERT_TRUE(thread.Start());
  thread.Stop();
  EXPECT_EQ(7u, thread.log().size());
}

TEST(FrameworkThreadTest, RunOnCurrentThreadWithUILoopEndsOnWmQuit) {
  nbase_test::Watchdog watchdog;
  RecordingThread thread("borrowed");
  thread.on_init = [&thread] {
    MessageLoop::current()->PostTask([&thread] {
      thread.Add("task");
      ::PostQuitMessage(0);
    });
  };
  DWORD runner_id = 0;
  std::thread runner([&] {
    runner_id = ::GetCurrentThreadId();
    thread.RunOnCurrentThread(MessageLoop::kUIMessageLoop);
  });
  runner.join();
  EXPECT_EQ(runner_id, thread.init_thread_id());
  EXPECT_EQ((std::vector<std::string>{"init", "task", "cleanup"}), thread.log());
  thread.Stop();
}

TEST(ThreadRegistryTest, IdentifiersBelongToOneThreadAndAreCounted) {
  nbase_test::Watchdog watchdog;
  RecordingThread a("registry a");
  RecordingThread b("registry b");
  ASSERT_TRUE(a.Start());
  ASSERT_TRUE(b.Start());
  auto on = [](FrameworkThread& thread, std::function<bool()> call) {
    return nbase_test::CallOn<bool>(thread, std::move(call));
  };
  auto register_id = [](int id) { return [id] { return ThreadRegistry::RegisterThread(id); }; };
  auto unregister = [] { return ThreadRegistry::UnregisterThread(); };

  // Only framework threads take part.
  EXPECT_FALSE(ThreadRegistry::RegisterThread(71));
  EXPECT_FALSE(ThreadRegistry::UnregisterThread());
  EXPECT_FALSE(on(a, register_id(-1)));

  EXPECT_TRUE(on(a, register_id(71)));
  EXPECT_FALSE(on(b, register_id(71)));
  EXPECT_TRUE(on(a, register_id(71)));
  EXPECT_FALSE(on(a, register_id(72))) << "a thread holds one identifier";
  EXPECT_EQ(&a, ThreadRegistry::ThreadByIdentifier(71));
  EXPECT_EQ(71,
            nbase_test::CallOn<int>(a, [] { return ThreadRegistry::CurrentThreadIdentifier(); }));

  // Two registrations need two unregistrations.
  EXPECT_TRUE(on(a, unregister));
  EXPECT_EQ(&a, ThreadRegistry::ThreadByIdentifier(71));
  EXPECT_FALSE(on(b, register_id(71)));
  EXPECT_TRUE(on(a, unregister));
  EXPECT_EQ(nullptr, ThreadRegistry::ThreadByIdentifier(71));
  EXPECT_FALSE(on(a, unregister));

  EXPECT_TRUE(on(b, register_id(71)));
  EXPECT_TRUE(on(a, [&b] {
    bool reached_b = false;
    nbase::UniqueHandle done = nbase_test::MakeEvent();
    HANDLE done_handle = done.get();
    const bool posted = ThreadRegistry::PostTask(71, [&] {
      reached_b = FrameworkThread::current() == &b;
      ::SetEvent(done_handle);
    });
    return posted && ::WaitForSingleObject(done_handle, INFINITE) == WAIT_OBJECT_0 && reached_b;
  }));

  // A thread that ends while registered gives its identifier up.
  b.Stop();
  EXPECT_EQ(nullptr, ThreadRegistry::ThreadByIdentifier(71));
  EXPECT_FALSE(ThreadRegistry::PostTask(71, [] {}));
  EXPECT_TRUE(on(a, register_id(71)));
  a.Stop();
}

}  // namespace
}  // namespace nbase
