// The scheduler's rules stepped by hand on a fake clock: who takes over from whom, what a
// victim keeps, which failures spend a retry, and the progress floor.
#include <gtest/gtest.h>

#include "installer/HttpClient/HttpInterface.h"
#include "installer/HttpClient/PieceScheduler.h"

namespace {

constexpr long long kSecond = PieceScheduler::kTicksPerSecond;
constexpr long long kMilli = kSecond / 1000;

PieceScheduler::Settings Settings(long long size, int connections) {
  PieceScheduler::Settings settings;
  settings.size = size;
  settings.connections = connections;
  return settings;
}

// Moves `bytes` through connection `index` at time `now`, as the downloader does: received,
// then written. Returns how many were usable.
long long Deliver(PieceScheduler& scheduler, int index, long long bytes, long long now) {
  const long long usable = scheduler.Received(index, bytes, now);
  scheduler.Written(index, usable, now);
  return usable;
}

TEST(PieceScheduler, SmallFileIsSharedOutAtOnceAndFinishesInOrder) {
  PieceScheduler scheduler(Settings(800 << 10, 8), {}, 0);
  long long asked = 0;
  for (int i = 0; i < 8; ++i) {
    const auto work = scheduler.Next(i, 0);
    ASSERT_EQ(work.kind, PieceScheduler::Work::Fetch) << i;
    EXPECT_EQ(work.first, asked) << "pieces are handed out front first";
    asked = work.end;
  }
  EXPECT_EQ(asked, 800 << 10);
  for (int i = 0; i < 8; ++i) {
    scheduler.Answered(i, kMilli);
    EXPECT_EQ(Deliver(scheduler, i, 100 << 10, kSecond), 100 << 10);
    scheduler.Ended(i, PieceScheduler::Ending::Done, 0, false, kSecond);
  }
  EXPECT_EQ(scheduler.outcome(), PieceScheduler::Outcome::Complete);
  EXPECT_EQ(scheduler.Front(), 800 << 10);
  std::string why;
  EXPECT_TRUE(scheduler.Consistent(&why)) << why;
}

TEST(PieceScheduler, EquallySlowConnectionsShareButNeverTakeAWholeRemainder) {
  // Two connections at the same rate: the idle one may split the other's piece so both end
  // together, but a remainder too small to split stays where it is.
  PieceScheduler scheduler(Settings(64 << 10, 2), {}, 0);
  auto first = scheduler.Next(0, 0);
  auto second = scheduler.Next(1, 0);
  ASSERT_EQ(first.kind, PieceScheduler::Work::Fetch);
  ASSERT_EQ(second.kind, PieceScheduler::Work::Fetch);
  scheduler.Answered(0, 10 * kMilli);
  scheduler.Answered(1, 10 * kMilli);
  // Connection 1 finishes its 32 KiB at 12 KB/s; connection 0 has 4 KiB left at that rate.
  Deliver(scheduler, 0, 28 << 10, 2400 * kMilli);
  Deliver(scheduler, 1, 32 << 10, 2700 * kMilli);
  scheduler.Ended(1, PieceScheduler::Ending::Done, 0, false, 2700 * kMilli);
  const auto next = scheduler.Next(1, 2700 * kMilli);
  EXPECT_EQ(next.kind, PieceScheduler::Work::Wait) << "took " << next.first << "-" << next.end;
  EXPECT_EQ(scheduler.Stats(1).takeovers, 0);
}

TEST(PieceScheduler, FasterConnectionTakesTheTricklersRestAndTheTricklerKeepsItsBytes) {
  PieceScheduler scheduler(Settings(64 << 10, 2), {}, 0);
  ASSERT_EQ(scheduler.Next(0, 0).kind, PieceScheduler::Work::Fetch);
  ASSERT_EQ(scheduler.Next(1, 0).kind, PieceScheduler::Work::Fetch);
  scheduler.Answered(0, kMilli);
  scheduler.Answered(1, kMilli);
  // Connection 1 is fast and done in 30 ms; connection 0 has brought 3 bytes in 3 seconds.
  Deliver(scheduler, 1, 32 << 10, 30 * kMilli);
  scheduler.Ended(1, PieceScheduler::Ending::Done, 0, false, 30 * kMilli);
  EXPECT_EQ(Deliver(scheduler, 0, 3, 3 * kSecond), 3);
  const auto taken = scheduler.Next(1, 3 * kSecond);
  ASSERT_EQ(taken.kind, PieceScheduler::Work::Fetch);
  EXPECT_EQ(taken.first, 3) << "the bytes the trickler received stay its own";
  EXPECT_EQ(taken.end, 32 << 10);
  EXPECT_EQ(scheduler.Stats(1).takeovers, 1);
  // The trickler's next byte is no longer its to write, and its request is to be cut.
  EXPECT_EQ(scheduler.Received(0, 1, 4 * kSecond), 0);
  EXPECT_TRUE(scheduler.ShouldCut(0));
  std::string why;
  EXPECT_TRUE(scheduler.Consistent(&why)) << why;
}

TEST(PieceScheduler, TriesThatBringBytesOrBreakAReusedConnectionSpendNoRetry) {
  auto settings = Settings(1 << 20, 1);
  settings.retries = 1;
  PieceScheduler scheduler(settings, {}, 0);
  long long now = 0;
  // Fifty tries, each bringing a little before it breaks: never a failure.
  for (int i = 0; i < 50; ++i) {
    const auto work = scheduler.Next(0, now);
    ASSERT_EQ(work.kind, PieceScheduler::Work::Fetch) << i;
    EXPECT_EQ(work.fresh, i > 0) << "a broken try is followed by a fresh connection";
    scheduler.Answered(0, now + kMilli);
    Deliver(scheduler, 0, 1000, now + 2 * kMilli);
    scheduler.Ended(0, PieceScheduler::Ending::Broken, HttpErrRead, false, now + 3 * kMilli);
    now += 10 * kMilli;
  }
  // A kept connection the server had dropped does not count either.
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(scheduler.Next(0, now).kind, PieceScheduler::Work::Fetch);
    scheduler.Ended(0, PieceScheduler::Ending::Broken, HttpErrSend, true, now);
    now += kMilli;
  }
  EXPECT_FALSE(scheduler.over());
  // Once nothing has moved for the stall time, fresh tries without bytes count and end it.
  now += settings.stall;
  for (int i = 0; i < 100 && !scheduler.over(); ++i) {
    const auto work = scheduler.Next(0, now);
    if (work.kind == PieceScheduler::Work::Wait) {
      now = work.wake;
      continue;
    }
    scheduler.Ended(0, PieceScheduler::Ending::Broken, HttpErrConnect, false, now);
  }
  EXPECT_EQ(scheduler.outcome(), PieceScheduler::Outcome::Failed);
  EXPECT_EQ(scheduler.error(), HttpErrConnect);
}

TEST(PieceScheduler, DownloadMovingLessThanTheFloorInAMinuteFailsAsTooSlow) {
  PieceScheduler scheduler(Settings(1 << 20, 1), {}, 0);
  ASSERT_EQ(scheduler.Next(0, 0).kind, PieceScheduler::Work::Fetch);
  scheduler.Answered(0, kMilli);
  long long now = 0;
  for (int second = 1; second <= 70 && !scheduler.over(); ++second) {
    now = second * kSecond;
    // 60 bytes a second: 3600 a minute, under the 4096 floor.
    Deliver(scheduler, 0, 60, now);
    scheduler.Tick(now, nullptr);
  }
  EXPECT_EQ(scheduler.outcome(), PieceScheduler::Outcome::Failed);
  EXPECT_EQ(scheduler.error(), HttpErrTooSlow);
  EXPECT_GE(now, 60 * kSecond);
  EXPECT_LE(now, 62 * kSecond);
}

TEST(PieceScheduler, StalledRequestIsCutAndStretchesOnDiskAreKept) {
  auto settings = Settings(4 << 20, 2);
  settings.stall = 2 * kSecond;
  PieceScheduler scheduler(settings, {{0, 1 << 20}, {3 << 20, 4 << 20}}, 0);
  const auto work = scheduler.Next(0, 0);
  ASSERT_EQ(work.kind, PieceScheduler::Work::Fetch);
  EXPECT_EQ(work.first, 1 << 20) << "what is on disk is not asked for again";
  EXPECT_EQ(scheduler.Front(), 1 << 20);
  std::vector<int> cut;
  scheduler.Tick(kSecond, &cut);
  EXPECT_TRUE(cut.empty());
  scheduler.Tick(2 * kSecond, &cut);
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0], 0);
  EXPECT_TRUE(scheduler.ShouldCut(0));
  const auto done = scheduler.DoneStretches();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[1].first, 3 << 20);
}

TEST(PieceScheduler, SuspectAnswerEndsTheAttemptForTheOwnerToProbe) {
  PieceScheduler scheduler(Settings(1 << 20, 2), {}, 0);
  ASSERT_EQ(scheduler.Next(0, 0).kind, PieceScheduler::Work::Fetch);
  scheduler.Ended(0, PieceScheduler::Ending::Suspect, HttpErrSignIn, false, kMilli);
  EXPECT_EQ(scheduler.outcome(), PieceScheduler::Outcome::Suspect);
  EXPECT_EQ(scheduler.error(), HttpErrSignIn);
  EXPECT_EQ(scheduler.Next(1, kMilli).kind, PieceScheduler::Work::Quit);
}

}  // namespace
