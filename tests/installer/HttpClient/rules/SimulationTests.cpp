// Thousands of seeded networks through the real scheduler, and the networks that once broke
// the downloader kept as named cases.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "installer/HttpClient/HttpInterface.h"
#include "tests/installer/HttpClient/rules/NetworkSimulator.h"

namespace {

using simulation::kSecond;
using simulation::Link;
using simulation::Result;
using simulation::Scenario;

constexpr long long kMilli = kSecond / 1000;

// Bytes a download may move beyond the file: the reads a takeover cut short.
long long WasteAllowance(const Scenario& scenario) {
  return scenario.size / 5 + (64LL << 10) * 8;
}

// Every invariant the simulator checks, plus the bounds on time and waste; empty when held.
std::string Judge(const Scenario& scenario, const Result& result) {
  if (!result.violation.empty()) return result.violation;
  if (!result.complete && !result.failed) return "ended neither way";
  if (result.complete && scenario.bounded && result.finished_at > simulation::TimeBound(scenario)) {
    char text[128];
    std::snprintf(text, sizeof(text), "took %.2f s, the bound is %.2f s",
                  static_cast<double>(result.finished_at) / kSecond,
                  static_cast<double>(simulation::TimeBound(scenario)) / kSecond);
    return text;
  }
  if (result.complete &&
      result.delivered > scenario.size + result.discarded + WasteAllowance(scenario)) {
    char text[128];
    std::snprintf(text, sizeof(text), "moved %lld bytes for a file of %lld", result.delivered,
                  scenario.size);
    return text;
  }
  if (result.failed && scenario.bounded) return "a network with a healthy connection failed";
  // Once a few kept connections have broken, no more requests go into them: each connection
  // may meet one more that it held when the scheduler learnt it, in each attempt.
  const int kept_allowance = (3 + scenario.settings.connections) * result.attempts;
  if (result.kept_breaks > kept_allowance) {
    char text[128];
    std::snprintf(text, sizeof(text), "%d requests went into dropped kept connections",
                  result.kept_breaks);
    return text;
  }
  return std::string();
}

TEST(SchedulerSimulation, TenThousandSeededNetworksKeepEveryInvariant) {
  // SCHEDULE_SEED replays one scenario; SCHEDULE_SCENARIOS widens the run.
  const char* only = std::getenv("SCHEDULE_SEED");
  const char* count_text = std::getenv("SCHEDULE_SCENARIOS");
  const uint32_t first = only ? static_cast<uint32_t>(std::strtoul(only, nullptr, 10)) : 1;
  const uint32_t count =
      only ? 1
           : (count_text ? static_cast<uint32_t>(std::strtoul(count_text, nullptr, 10)) : 10000);
  const auto began = std::chrono::steady_clock::now();
  int complete = 0, failed = 0, faults = 0;
  for (uint32_t seed = first; seed < first + count; ++seed) {
    const Scenario scenario = simulation::RandomScenario(seed);
    const Result result = simulation::Run(scenario);
    const std::string verdict = Judge(scenario, result);
    if (!verdict.empty()) {
      ADD_FAILURE() << verdict << "\n"
                    << simulation::Describe(scenario) << "\nreplay with SCHEDULE_SEED=" << seed;
      if (++faults >= 5) break;
    }
    (result.complete ? complete : failed) += 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("%u scenarios in %.1f s: %d complete, %d failed cleanly\n", count, seconds, complete,
              failed);
}

// One server behaviour on all eight connections.
Scenario Uniform(long long size, double bandwidth, long long latency, const char* label) {
  Scenario scenario;
  scenario.size = size;
  scenario.label = label;
  scenario.settings.idle_poll = kSecond / 10;
  for (int i = 0; i < 8; ++i) {
    Link link;
    link.bandwidth = bandwidth;
    link.latency = latency;
    scenario.links.push_back(link);
  }
  return scenario;
}

TEST(SchedulerSimulation, SlowLinkFinishesWithinItsBoundAndWastesLittle) {
  // Eight connections at 12 KB/s: equally slow connections share the tail by splitting and
  // never take each other's remainder.
  for (long long size : {650LL * 1000, 5LL * 1000 * 1000}) {
    Scenario scenario = Uniform(size, 12000, 30 * kMilli, "slow link");
    scenario.bounded = true;
    const Result result = simulation::Run(scenario);
    EXPECT_EQ(Judge(scenario, result), "") << simulation::Describe(scenario);
    EXPECT_TRUE(result.complete);
    EXPECT_LE(result.delivered, size * 21 / 20) << size;
  }
}

TEST(SchedulerSimulation, OneTricklingConnectionGivesItsRestAway) {
  Scenario scenario = Uniform(9LL << 20, 1e6, 5 * kMilli, "one trickler");
  scenario.links[3].trickle_gap = 3 * kSecond;
  const Result result = simulation::Run(scenario);
  EXPECT_EQ(Judge(scenario, result), "") << simulation::Describe(scenario);
  ASSERT_TRUE(result.complete);
  // The seven others move 7 MB/s; the trickler's piece must not hold the end for long.
  EXPECT_LT(result.finished_at, 6 * kSecond);
}

TEST(SchedulerSimulation, ResetsAfterEachMebibyteAndHalfAnswersStillFinish) {
  Scenario resets = Uniform(64LL << 20, 1e6, 5 * kMilli, "resets every MiB");
  for (Link& link : resets.links) link.reset_after = 1 << 20;
  Result result = simulation::Run(resets);
  EXPECT_EQ(Judge(resets, result), "");
  EXPECT_TRUE(result.complete);
  // Every piece fills a connection's budget: after a few requests sent into dropped kept
  // connections, the answers close their connections instead of 56 more breaking.
  EXPECT_LE(result.kept_breaks, 3 + 8);

  // Fast connections far enough away to join pieces: cut every mebibyte, joined requests
  // left one owner fetching them cut after cut while the others waited (0.07x the reference
  // downloader); the cut pieces are shared out instead.
  Scenario fast = Uniform(64LL << 20, 80e6, 20 * kMilli, "fast, resets every MiB");
  for (Link& link : fast.links) link.reset_after = 1 << 20;
  for (size_t i = 0; i < fast.links.size(); i += 2) fast.links[i].bandwidth = 240e6;
  result = simulation::Run(fast);
  EXPECT_EQ(Judge(fast, result), "");
  EXPECT_TRUE(result.complete);
  // 64 MiB over 1.28 GB/s and a wait for the first byte per mebibyte: about 0.2 s at best;
  // joined pieces took 0.51 s.
  EXPECT_LT(result.finished_at, kSecond * 4 / 10);

  Scenario halves = Uniform(8LL << 20, 1e6, 5 * kMilli, "every answer half");
  for (Link& link : halves.links) link.short_answer = 1.0;
  result = simulation::Run(halves);
  EXPECT_EQ(Judge(halves, result), "");
  EXPECT_TRUE(result.complete);
}

TEST(SchedulerSimulation, EveryConnectionTricklingFailsAsTooSlowWithinTheFloor) {
  for (long long gap : {3 * kSecond, 31 * kSecond}) {
    Scenario scenario = Uniform(650LL * 1000, 1e6, 5 * kMilli, "all trickle");
    for (Link& link : scenario.links) link.trickle_gap = gap;
    const Result result = simulation::Run(scenario);
    EXPECT_EQ(Judge(scenario, result), "");
    ASSERT_TRUE(result.failed) << gap;
    EXPECT_EQ(result.error, HttpErrTooSlow);
    EXPECT_LT(result.finished_at, 75 * kSecond) << gap;
  }
}

TEST(SchedulerSimulation, SignInPageHalfWayKeepsWhatIsOnDisk) {
  Scenario scenario = Uniform(32LL << 20, 1e6, 5 * kMilli, "sign-in half-way");
  scenario.signin_from = 2 * kSecond;
  scenario.signin_to = 30 * kSecond;
  const Result result = simulation::Run(scenario);
  EXPECT_EQ(Judge(scenario, result), "");
  ASSERT_TRUE(result.complete);
  EXPECT_EQ(result.attempts, 2);
  // Nothing written before the page was fetched again.
  EXPECT_EQ(result.written, scenario.size);
}

// Networks the seeded run once found faults in, written out so they stay what they were.
Scenario Mixed(long long size, std::vector<std::pair<double, long long>> links, long long latency,
               const char* label) {
  Scenario scenario;
  scenario.size = size;
  scenario.label = label;
  scenario.bounded = true;
  scenario.settings.idle_poll = kSecond / 4;
  for (const auto& rate_and_trickle : links) {
    Link link;
    link.bandwidth = rate_and_trickle.first;
    link.trickle_gap = rate_and_trickle.second;
    link.latency = latency;
    scenario.links.push_back(link);
  }
  return scenario;
}

TEST(SchedulerSimulation, NetworksThatOnceBrokeTheSchedulerStayMended) {
  const long long kNone = 0;
  std::vector<Scenario> cases;
  // A three-byte file whose one piece went to a trickler: no connection had shown a rate, so
  // none took it over for 57 seconds.
  cases.push_back(Mixed(3,
                        {{8e3, 19 * kSecond},
                         {6e3, 8 * kSecond},
                         {1e4, kNone},
                         {2e4, kNone},
                         {1e4, kNone},
                         {8e3, kNone},
                         {1e4, kNone},
                         {1e4, kNone}},
                        100 * kMilli, "tiny file held by a trickler"));
  // Tricklers whose requests stalled before their first byte spent the pieces' retries while
  // healthy connections were moving the download, and failed it.
  Scenario stalls = Mixed(2LL << 20,
                          {{2e4, 8 * kSecond},
                           {2e4, 8 * kSecond},
                           {2e4, 8 * kSecond},
                           {2e4, kNone},
                           {2e4, kNone},
                           {2e4, kNone},
                           {2e4, kNone},
                           {2e4, kNone}},
                          50 * kMilli, "stalling tricklers beside healthy connections");
  stalls.settings.stall = 2 * kSecond;
  stalls.settings.retry_pause = 10 * kMilli;
  cases.push_back(stalls);
  // Two fast connections far from the server spent most of each one-piece request waiting for
  // its first byte.
  cases.push_back(Mixed(96LL << 20,
                        {{4.5e4, kNone},
                         {2.6e6, kNone},
                         {2.3e5, kNone},
                         {2.7e5, kNone},
                         {1.1e5, kNone},
                         {2.5e4, kNone},
                         {2.8e5, kNone},
                         {7.3e6, kNone}},
                        350 * kMilli, "fast connections far away"));
  // One fast connection among slow edges on a small file: short requests were never judged,
  // so the fast one never took over the slow ones' pieces.
  cases.push_back(Mixed(80000,
                        {{9.7e4, kNone},
                         {323, kNone},
                         {1.4e5, kNone},
                         {1.7e5, kNone},
                         {1.2e5, kNone},
                         {8e4, kNone},
                         {1.3e5, kNone},
                         {535, kNone}},
                        100 * kMilli, "small file among slow edges"));
  for (const Scenario& scenario : cases) {
    const Result result = simulation::Run(scenario);
    EXPECT_EQ(Judge(scenario, result), "") << simulation::Describe(scenario);
    EXPECT_TRUE(result.complete) << scenario.label;
  }
}

}  // namespace
