// Helpers shared by the base library tests: a hang watchdog and a cross-thread call helper.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "base/FrameworkThread.h"
#include "base/MessageLoopProxy.h"
#include "base/Thread.h"
#include "base/UniqueResource.h"

namespace nbase_test {

// A hung loop would otherwise stall the whole test program until the runner's timeout; this
// ends the process with a message naming the test instead.
class Watchdog {
 public:
  explicit Watchdog(DWORD seconds = 20)
      : done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), milliseconds_(seconds * 1000) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::snprintf(name_, sizeof(name_), "%s.%s", info ? info->test_suite_name() : "?",
                  info ? info->name() : "?");
    thread_ = nbase::StartThread("watchdog", [this] { Watch(); });
  }
  ~Watchdog() {
    ::SetEvent(done_.get());
    ::WaitForSingleObject(thread_.get(), INFINITE);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  void Watch() {
    if (::WaitForSingleObject(done_.get(), milliseconds_) == WAIT_TIMEOUT) {
      std::fprintf(stderr, "watchdog: %s did not finish in time\n", name_);
      std::fflush(stderr);
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
  }

  nbase::UniqueHandle done_;
  DWORD milliseconds_;
  char name_[256];
  nbase::UniqueHandle thread_;
};

inline nbase::UniqueHandle MakeEvent(bool manual_reset = false) {
  return nbase::UniqueHandle(::CreateEventW(nullptr, manual_reset, FALSE, nullptr));
}

// Runs `call` on the loop of `thread` and waits for it to finish there.
template <typename R>
R CallOn(nbase::FrameworkThread& thread, std::function<R()> call) {
  auto result = std::make_shared<R>();
  nbase::UniqueHandle done = MakeEvent();
  HANDLE done_handle = done.get();
  EXPECT_TRUE(thread.message_loop_proxy()->PostTask([=] {
    *result = call();
    ::SetEvent(done_handle);
  }));
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(done.get(), INFINITE));
  return *result;
}

}  // namespace nbase_test
