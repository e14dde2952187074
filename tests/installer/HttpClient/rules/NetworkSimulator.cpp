// The simulated connections, the attempt loop an owner runs, and the invariant checks.
#include "tests/installer/HttpClient/rules/NetworkSimulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>

#include "installer/HttpClient/HttpInterface.h"

namespace simulation {
namespace {

constexpr long long kNever = std::numeric_limits<long long>::max() / 4;
constexpr long long kMilli = kSecond / 1000;
// A read never blocks longer than this: a silent connection ends its request by then.
constexpr long long kReadStep = 5 * kSecond;
// The most one read hands over, as the downloader reads what has arrived.
constexpr long long kMaxChunk = 64 << 10;
constexpr long long kTickEvery = kSecond / 4;
constexpr int kMaxAttempts = 6;

class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  double Unit() { return static_cast<double>(engine_()) / 4294967296.0; }
  bool Chance(double p) { return Unit() < p; }
  long long Between(long long low, long long high) {
    return low + static_cast<long long>(Unit() * static_cast<double>(high - low + 1));
  }
  double LogBetween(double low, double high) {
    return std::exp(std::log(low) + Unit() * (std::log(high) - std::log(low)));
  }

 private:
  std::mt19937 engine_;
};

// What the file holds of one attempt's version: disjoint written stretches.
class WrittenMap {
 public:
  // False when any byte of [first, end) was written before.
  bool Add(long long first, long long end) {
    if (end <= first) return true;
    auto next = stretches_.upper_bound(first);
    if (next != stretches_.end() && next->first < end) return false;
    if (next != stretches_.begin()) {
      auto previous = std::prev(next);
      if (previous->second > first) return false;
      if (previous->second == first) {
        first = previous->first;
        stretches_.erase(previous);
      }
    }
    next = stretches_.find(end);
    if (next != stretches_.end()) {
      end = next->second;
      stretches_.erase(next);
    }
    stretches_[first] = end;
    return true;
  }
  long long Total() const {
    long long total = 0;
    for (const auto& stretch : stretches_) total += stretch.second - stretch.first;
    return total;
  }
  std::vector<PieceScheduler::Stretch> Stretches() const {
    std::vector<PieceScheduler::Stretch> out;
    for (const auto& stretch : stretches_) out.push_back({stretch.first, stretch.second});
    return out;
  }
  void Clear() { stretches_.clear(); }

 private:
  std::map<long long, long long> stretches_;
};

struct Request {
  bool open = false;
  bool reused = false;
  bool close = false;  // the connection is not kept after this answer
  long long first = 0;
  long long end = 0;
  long long at = 0;
  long long limit = 0;      // the answer breaks here (short answers)
  long long silent_at = 0;  // the answer goes silent here
  int answer = 0;           // 0 the bytes, else the Ending it brings at the first byte
  int answer_error = 0;
};

enum class Event { None, Ask, Answer, Chunk, Timeout };

struct Connection {
  Event event = Event::None;
  long long at = kNever;
  bool connected = false;  // a kept connection to the server
  long long carried = 0;   // bytes the kept connection has carried
  bool quit = false;
  Request request;
};

class Simulation {
 public:
  explicit Simulation(const Scenario& scenario)
      : scenario_(scenario), random_(scenario.seed ^ 0x9e3779b9u) {}

  Result Run() {
    long long now = 0;
    std::vector<PieceScheduler::Stretch> kept;
    int version = 0;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
      result_.attempts = attempt + 1;
      if (scenario_.change_at >= 0 && now >= scenario_.change_at) version = 1;
      const PieceScheduler::Outcome outcome = RunAttempt(now, kept, version, &now);
      if (!result_.violation.empty()) return result_;
      if (outcome == PieceScheduler::Outcome::Complete) {
        result_.complete = true;
        result_.finished_at = now;
        return result_;
      }
      if (outcome == PieceScheduler::Outcome::Suspect && last_error_ == HttpErrSignIn) {
        // The owner's probe meets the page too while it is up: the user is asked to sign in
        // and retries a second after the page has gone. What is on disk stays.
        kept = map_.Stretches();
        if (InSignIn(now)) now = scenario_.signin_to + kSecond;
        continue;
      }
      if (outcome == PieceScheduler::Outcome::Suspect && last_error_ == HttpErrChanged) {
        // The probe shows another version: everything starts over.
        if (version == 1) return Violation("a second change was reported after starting over");
        result_.discarded += map_.Total();
        map_.Clear();
        kept.clear();
        version = 1;
        continue;
      }
      result_.failed = true;
      result_.error = last_error_;
      result_.finished_at = now;
      return result_;
    }
    return Violation("more attempts than the owner ever makes");
  }

 private:
  Result Violation(const std::string& what) {
    if (result_.violation.empty()) {
      char at[64];
      std::snprintf(at, sizeof(at), " (at %.3f s)", static_cast<double>(clock_) / kSecond);
      result_.violation = what + at;
    }
    return result_;
  }

  bool InSignIn(long long t) const {
    return scenario_.signin_from >= 0 && t >= scenario_.signin_from && t < scenario_.signin_to;
  }

  PieceScheduler::Outcome RunAttempt(long long start,
                                     const std::vector<PieceScheduler::Stretch>& kept, int version,
                                     long long* end_time) {
    PieceScheduler::Settings settings = scenario_.settings;
    settings.size = scenario_.size;
    settings.ranges = scenario_.ranges;
    settings.connections = static_cast<int>(scenario_.links.size());
    PieceScheduler scheduler(settings, kept, start);
    const long long kept_bytes = map_.Total();
    std::vector<Connection> connections(scenario_.links.size());
    for (Connection& connection : connections) {
      connection.event = Event::Ask;
      connection.at = start;
    }
    long long tick_at = start;
    const long long attempt_written_before = result_.written;
    clock_ = start;
    while (!scheduler.over()) {
      // The next event: the connection or tick due first (ties to the lowest index).
      long long next = tick_at;
      int who = -1;
      for (size_t i = 0; i < connections.size(); ++i) {
        if (connections[i].at < next) {
          next = connections[i].at;
          who = static_cast<int>(i);
        }
      }
      if (next >= kNever / 2) {
        Violation("nothing left to happen while the attempt goes on");
        break;
      }
      clock_ = next;
      if (clock_ - start > EndBound()) {
        Violation("the attempt did not end within its bound");
        break;
      }
      if (who < 0) {
        std::vector<int> cut;
        const long long wake = scheduler.Tick(clock_, &cut);
        for (int index : cut) Close(scheduler, connections, index, true);
        tick_at = std::max(clock_ + 1, std::min(wake, clock_ + kTickEvery));
      } else {
        Step(scheduler, connections, who, version);
      }
      std::string why;
      if (!scheduler.Consistent(&why)) {
        Violation("piece table: " + why);
        break;
      }
      if (scheduler.Written() != result_.written - attempt_written_before) {
        Violation("the scheduler counts other bytes than were written");
        break;
      }
      if (!result_.violation.empty()) break;
      bool anyone = false;
      for (const Connection& connection : connections) anyone = anyone || !connection.quit;
      if (!anyone && !scheduler.over()) {
        Violation("every connection left but the attempt goes on");
        break;
      }
    }
    *end_time = clock_;
    last_error_ = scheduler.error();
    if (!result_.violation.empty()) return scheduler.outcome();
    long long counted = 0;
    for (int i = 0; i < scheduler.connections(); ++i) counted += scheduler.Stats(i).bytes;
    if (counted != map_.Total() - kept_bytes) {
      Violation("connections' byte counts differ from the bytes written");
    }
    const auto done = scheduler.DoneStretches();
    const auto written = map_.Stretches();
    if (done.size() != written.size() ||
        !std::equal(done.begin(), done.end(), written.begin(),
                    [](const PieceScheduler::Stretch& a, const PieceScheduler::Stretch& b) {
                      return a.first == b.first && a.end == b.end;
                    })) {
      Violation("the stretches for the state file are not the bytes written");
    }
    const long long front = written.empty() || written.front().first != 0 ? 0 : written.front().end;
    if (scheduler.Front() != front) Violation("the completed front is wrong");
    if (scheduler.outcome() == PieceScheduler::Outcome::Complete &&
        map_.Total() != scenario_.size) {
      Violation("complete without every byte written");
    }
    return scheduler.outcome();
  }

  long long EndBound() const {
    double healthy = 0;
    for (const Link& link : scenario_.links) {
      if (link.trickle_gap == 0) healthy += link.bandwidth;
      // Without ranges the first connection carries everything.
      if (!scenario_.ranges) break;
    }
    const double transfer = healthy > 0 ? scenario_.size / healthy * 10 : 0;
    return static_cast<long long>(transfer * kSecond) + 600 * kSecond;
  }

  void Close(PieceScheduler& scheduler, std::vector<Connection>& connections, int index,
             bool broken) {
    Connection& connection = connections[index];
    if (!connection.request.open) return;
    connection.request.open = false;
    connection.connected = false;
    scheduler.Ended(index, broken ? PieceScheduler::Ending::Broken : PieceScheduler::Ending::Done,
                    HttpErrRead, connection.request.reused, clock_);
    connection.event = Event::Ask;
    connection.at = clock_;
  }

  void Step(PieceScheduler& scheduler, std::vector<Connection>& connections, int index,
            int version) {
    Connection& connection = connections[index];
    const Link& link = scenario_.links[index];
    Request& request = connection.request;
    switch (connection.event) {
      case Event::Ask: {
        const PieceScheduler::Work work = scheduler.Next(index, clock_);
        if (work.kind == PieceScheduler::Work::Quit) {
          connection.quit = true;
          connection.event = Event::None;
          connection.at = kNever;
          return;
        }
        if (work.kind == PieceScheduler::Work::Wait) {
          if (work.wake <= clock_) Violation("a wait that wakes in the past");
          connection.at = std::max(clock_ + 1, work.wake);
          return;
        }
        if (work.end <= work.first || work.first < 0 || work.end > scenario_.size) {
          Violation("work outside the file");
          return;
        }
        if (work.fresh || !connection.connected) {
          connection.connected = true;
          connection.carried = 0;
          request.reused = false;
        } else {
          request.reused = true;
        }
        request.open = true;
        request.close = work.close;
        request.first = request.at = work.first;
        request.end = work.end;
        request.limit = request.silent_at = kNever;
        request.answer = 0;
        if (link.reset_after > 0 && connection.carried >= link.reset_after) {
          request.answer = static_cast<int>(PieceScheduler::Ending::Broken);
          request.answer_error = HttpErrSend;
          ++result_.kept_breaks;
        } else if (random_.Chance(link.refuse)) {
          request.answer = static_cast<int>(PieceScheduler::Ending::Refused);
          request.answer_error = HttpErrStatus;
        } else if (InSignIn(clock_)) {
          request.answer = static_cast<int>(PieceScheduler::Ending::Suspect);
          request.answer_error = HttpErrSignIn;
        } else if (version == 0 && scenario_.change_at >= 0 && clock_ >= scenario_.change_at) {
          request.answer = static_cast<int>(PieceScheduler::Ending::Suspect);
          request.answer_error = HttpErrChanged;
        } else {
          const long long half = request.first + (request.end - request.first) / 2;
          if (random_.Chance(link.short_answer) && half > request.first) request.limit = half;
          if (random_.Chance(link.stall)) request.silent_at = half;
        }
        connection.event = Event::Answer;
        connection.at = clock_ + std::max(1LL, link.latency);
        return;
      }
      case Event::Answer: {
        if (request.answer != 0) {
          request.open = false;
          const auto ending = static_cast<PieceScheduler::Ending>(request.answer);
          // A refusal's short page leaves the connection usable; anything else does not.
          connection.connected = ending == PieceScheduler::Ending::Refused;
          scheduler.Ended(index, ending, request.answer_error, request.reused, clock_);
          connection.event = Event::Ask;
          connection.at = clock_;
          return;
        }
        scheduler.Answered(index, clock_);
        ScheduleBody(connection, link);
        return;
      }
      case Event::Chunk:
        Deliver(scheduler, connections, index, link);
        return;
      case Event::Timeout:
        Close(scheduler, connections, index, true);
        return;
      case Event::None:
        return;
    }
  }

  void ScheduleBody(Connection& connection, const Link& link) {
    const Request& request = connection.request;
    if (request.at >= request.silent_at) {
      // Nothing more comes; the read gives up after its step.
      connection.event = Event::Timeout;
      connection.at = clock_ + std::min(kReadStep, scenario_.settings.stall);
      return;
    }
    connection.event = Event::Chunk;
    if (link.trickle_gap > 0) {
      connection.at = clock_ + link.trickle_gap;
    } else {
      const long long chunk = Chunk(link);
      connection.at =
          clock_ + std::max(1LL, static_cast<long long>(chunk / link.bandwidth * kSecond));
    }
  }

  long long Chunk(const Link& link) const {
    if (link.trickle_gap > 0) return 1;
    return std::max(1LL, std::min(kMaxChunk, static_cast<long long>(link.bandwidth / 20)));
  }

  void Deliver(PieceScheduler& scheduler, std::vector<Connection>& connections, int index,
               const Link& link) {
    Connection& connection = connections[index];
    Request& request = connection.request;
    long long amount = Chunk(link);
    amount = std::min({amount, request.end - request.at, request.limit - request.at,
                       request.silent_at - request.at});
    if (link.reset_after > 0) amount = std::min(amount, link.reset_after - connection.carried);
    if (amount > 0) {
      if (scheduler.Position(index) != request.at) {
        Violation("the scheduler's position is not where the answer stands");
        return;
      }
      const long long usable = scheduler.Received(index, amount, clock_);
      if (usable < 0 || usable > amount) {
        Violation("more usable bytes than arrived");
        return;
      }
      if (!map_.Add(request.at, request.at + usable)) {
        Violation("a byte was written twice");
        return;
      }
      scheduler.Written(index, usable, clock_);
      result_.written += usable;
      result_.delivered += amount;
      connection.carried += amount;
      request.at += amount;
      if (usable < amount && !scheduler.ShouldCut(index) && !scheduler.over()) {
        Violation("bytes were refused while the request may go on");
        return;
      }
    }
    if (scheduler.over()) return;
    if (request.at >= request.end) {
      // The answer is read to its end: the connection is kept for the next request, unless the
      // request asked for it to be closed.
      request.open = false;
      if (request.close) connection.connected = false;
      scheduler.Ended(index, PieceScheduler::Ending::Done, 0, request.reused, clock_);
      connection.event = Event::Ask;
      connection.at = clock_;
      return;
    }
    if (scheduler.ShouldCut(index)) {
      // The rest belongs to another connection now (or the request is cut): closed early.
      Close(scheduler, connections, index, false);
      return;
    }
    if (request.at >= request.limit ||
        (link.reset_after > 0 && connection.carried >= link.reset_after)) {
      Close(scheduler, connections, index, true);
      return;
    }
    ScheduleBody(connection, link);
  }

  const Scenario& scenario_;
  Random random_;
  WrittenMap map_;
  Result result_;
  long long clock_ = 0;
  int last_error_ = 0;
};

}  // namespace

namespace {

// The combined bandwidth of the connections that do not trickle.
double HealthyBandwidth(const Scenario& scenario) {
  double bandwidth = 0;
  for (const Link& link : scenario.links) {
    if (link.trickle_gap == 0) bandwidth += link.bandwidth;
    // Without ranges the first connection carries everything.
    if (!scenario.ranges) break;
  }
  return bandwidth;
}

// Whether the time bound applies: a link fast enough that the progress floor is far away.
bool Bounded(const Scenario& scenario) {
  return HealthyBandwidth(scenario) >= 1000;
}

}  // namespace

long long TimeBound(const Scenario& scenario) {
  const double bandwidth = HealthyBandwidth(scenario);
  if (bandwidth <= 0) return kNever;
  long long latency = 0;
  double fastest = 0;
  int tricklers = 0;
  for (const Link& link : scenario.links) {
    latency = std::max(latency, link.latency);
    if (link.trickle_gap == 0) fastest = std::max(fastest, link.bandwidth);
    if (link.trickle_gap > 0) ++tricklers;
  }
  if (!scenario.ranges) fastest = bandwidth;
  const int connections = scenario.ranges ? static_cast<int>(scenario.links.size()) : 1;
  // Requests on one connection follow each other, so each piece the fastest connection takes
  // in turn, and each remainder it takes over from another, costs one wait for its first byte.
  const long long piece = PieceScheduler::PieceSize(scenario.size);
  const double pieces = std::ceil(static_cast<double>(scenario.size) / piece);
  const long long turns =
      static_cast<long long>(std::ceil(pieces * fastest / bandwidth)) + connections;
  // A trickling connection shows what it is only after its answer has come and run a while.
  const long long judging = tricklers * (2 * latency + kSecond / 2);
  return static_cast<long long>(1.25 * scenario.size / bandwidth * kSecond) + 2 * kSecond +
         turns * latency + judging;
}

Scenario RandomScenario(uint32_t seed) {
  Random random(seed);
  Scenario scenario;
  scenario.seed = seed;
  const int kind = static_cast<int>(random.Between(0, 9));
  // Per connection, around one base rate: slow mobile links to fast fibre.
  const double base = random.LogBetween(4e3, 4e6);
  const long long latency = random.Between(1, 300) * kMilli;
  const int count = random.Chance(0.9) ? 8 : static_cast<int>(random.Between(1, 8));
  for (int i = 0; i < count; ++i) {
    Link link;
    link.bandwidth = base * random.LogBetween(0.5, 2.0);
    link.latency = latency * random.Between(50, 150) / 100;
    scenario.links.push_back(link);
  }
  // Sizes that keep most downloads within a minute at the drawn rate, with small and odd ones.
  const double total = base * count;
  const int size_kind = static_cast<int>(random.Between(0, 5));
  if (size_kind == 0) {
    scenario.size = random.Between(1, 40);
  } else if (size_kind == 1) {
    scenario.size = random.Between(41, 300000);
  } else {
    scenario.size = std::max(1LL, static_cast<long long>(total * random.LogBetween(1, 60)));
    scenario.size = std::min(scenario.size, 96LL << 20);
  }
  scenario.ranges = random.Chance(0.95);
  scenario.settings.retry_pause = random.Chance(0.5) ? kSecond : 10 * kMilli;
  scenario.settings.stall = random.Chance(0.3) ? 2 * kSecond : 30 * kSecond;
  scenario.settings.idle_poll = kSecond / 4;
  switch (kind) {
    case 0:
    case 1:
    case 2:
      scenario.bounded = true;
      scenario.label = "clean";
      break;
    case 3: {
      // One or a few connections far slower than the rest (a slow edge server).
      for (Link& link : scenario.links) {
        if (random.Chance(0.3)) link.bandwidth /= random.LogBetween(5, 200);
      }
      scenario.bounded = Bounded(scenario);
      scenario.label = "slow edges";
      break;
    }
    case 4:
      for (Link& link : scenario.links) {
        if (random.Chance(0.3)) link.trickle_gap = random.Between(100, 31000) * kMilli;
      }
      if (random.Chance(0.1)) {
        for (Link& link : scenario.links) link.trickle_gap = random.Between(500, 31000) * kMilli;
      }
      scenario.bounded = Bounded(scenario);
      scenario.label = "tricklers";
      break;
    case 5: {
      const long long reset = random.Chance(0.5) ? (1LL << 20) : random.Between(1000, 4 << 20);
      for (Link& link : scenario.links) link.reset_after = reset;
      scenario.label = "resets";
      break;
    }
    case 6: {
      const double chance = random.LogBetween(0.05, 1.0);
      for (Link& link : scenario.links) link.short_answer = chance;
      scenario.label = "short answers";
      break;
    }
    case 7: {
      const double refuse = random.LogBetween(0.05, 0.6);
      const double stall = random.Chance(0.5) ? random.LogBetween(0.01, 0.2) : 0;
      for (Link& link : scenario.links) {
        link.refuse = refuse;
        link.stall = stall;
      }
      scenario.label = "refusals and stalls";
      break;
    }
    case 8: {
      const double expected = scenario.size / total;
      scenario.signin_from = static_cast<long long>(random.Unit() * expected * kSecond);
      scenario.signin_to = scenario.signin_from + random.Between(1, 120) * kSecond;
      scenario.label = "sign-in page";
      break;
    }
    default: {
      const double expected = scenario.size / total;
      scenario.change_at = static_cast<long long>(random.Unit() * expected * kSecond);
      scenario.label = "new version";
      break;
    }
  }
  return scenario;
}

Result Run(const Scenario& scenario) {
  return Simulation(scenario).Run();
}

std::string Describe(const Scenario& scenario) {
  char line[256];
  std::snprintf(line, sizeof(line), "seed %u (%s): %lld bytes, %s, %zu connections", scenario.seed,
                scenario.label.c_str(), scenario.size, scenario.ranges ? "ranges" : "no ranges",
                scenario.links.size());
  std::string text = line;
  for (const Link& link : scenario.links) {
    std::snprintf(line, sizeof(line),
                  "\n  %.0f B/s, %lld ms, refuse %.2f, reset %lld, short %.2f, stall %.2f, "
                  "trickle %lld ms",
                  link.bandwidth, link.latency / kMilli, link.refuse, link.reset_after,
                  link.short_answer, link.stall, link.trickle_gap / kMilli);
    text += line;
  }
  return text;
}

}  // namespace simulation
