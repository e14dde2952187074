// The gate between a package run's checks and its start, with the run's thread real: a held
// start waits for the answer, a stop wins only before the start, and the cancel event follows.
#include <gtest/gtest.h>

#include <atomic>

#include "base/Thread.h"
#include "installer/window/PackageRunGate.h"

namespace {

constexpr DWORD kWatchdogMs = 10000;

// Runs Pass on a thread of its own, as the package run does.
class Passer {
 public:
  explicit Passer(PackageRunGate& gate)
      : thread_(nbase::StartThread("gate test", [this, &gate] {
          passed_ = gate.Pass();
          gate.Finish();
        })) {}
  ~Passer() {
    if (thread_) ::WaitForSingleObject(thread_.get(), kWatchdogMs);
  }
  bool Ended(DWORD wait_ms) {
    return ::WaitForSingleObject(thread_.get(), wait_ms) == WAIT_OBJECT_0;
  }
  bool passed() const { return passed_.load(); }

 private:
  std::atomic<bool> passed_{false};
  nbase::UniqueHandle thread_;
};

TEST(PackageRunGate, AHeldStartWaitsForTheAnswerAndStayingLetsItPass) {
  PackageRunGate gate;
  ASSERT_TRUE(gate.Hold());
  Passer passer(gate);
  // Longer than one recheck of the held start: it must not slip through on a timeout.
  EXPECT_FALSE(passer.Ended(1500)) << "started while the user was being asked";
  EXPECT_FALSE(gate.Started());
  gate.Release();
  ASSERT_TRUE(passer.Ended(kWatchdogMs));
  EXPECT_TRUE(passer.passed());
  EXPECT_TRUE(gate.Started());
  // Once started, nothing holds or stops it; the verifier's event stays clear.
  EXPECT_FALSE(gate.Hold());
  EXPECT_FALSE(gate.Stop());
  EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(gate.cancel_event(), 0));
  EXPECT_TRUE(gate.WaitFinished(0));
}

TEST(PackageRunGate, AStopUnderTheQuestionOrBeforeThePassStartsNothing) {
  {
    PackageRunGate gate;
    ASSERT_TRUE(gate.Hold());
    Passer passer(gate);
    EXPECT_TRUE(gate.Stop());
    ASSERT_TRUE(passer.Ended(kWatchdogMs));
    EXPECT_FALSE(passer.passed());
    EXPECT_FALSE(gate.Started());
    EXPECT_TRUE(gate.WaitFinished(kWatchdogMs));
  }
  // Stopped while still verifying: the verifier's waits end at the event, and the pass that
  // follows refuses.
  PackageRunGate gate;
  EXPECT_TRUE(gate.Stop());
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(gate.cancel_event(), 0));
  EXPECT_FALSE(gate.Pass());
  EXPECT_TRUE(gate.Stop()) << "a second quit finds it stopped, not started";
  EXPECT_FALSE(gate.WaitFinished(50)) << "the run's thread has not said it ended";
}

}  // namespace
