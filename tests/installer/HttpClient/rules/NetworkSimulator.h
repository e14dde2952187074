// A deterministic network for the piece scheduler: simulated connections with bandwidth,
// latency, refusals, resets, short answers, stalls, trickles, a sign-in page and a new version,
// driven by a fake clock, with the downloader's invariants checked after every event.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "installer/HttpClient/PieceScheduler.h"

namespace simulation {

constexpr long long kSecond = PieceScheduler::kTicksPerSecond;

// How one connection's path to the server behaves.
struct Link {
  double bandwidth = 1e6;     // bytes per second while a body flows
  long long latency = 0;      // ticks from a request to its first byte
  double refuse = 0;          // chance that a request is refused with 503
  long long reset_after = 0;  // a connection is reset after carrying this many bytes (0: never)
  double short_answer = 0;    // chance that an answer sends half of what was asked, then closes
  double stall = 0;           // chance that an answer goes silent half-way
  long long trickle_gap = 0;  // > 0: the body comes one byte every this many ticks
};

struct Scenario {
  uint32_t seed = 0;
  long long size = 0;
  bool ranges = true;
  std::vector<Link> links;  // one a connection
  PieceScheduler::Settings settings;
  // A sign-in page answers every request begun in [signin_from, signin_to); -1: never.
  long long signin_from = -1;
  long long signin_to = -1;
  // From this time the server holds another version of the file; -1: never.
  long long change_at = -1;
  // Whether the time bound applies: no fault but bandwidth, latency and slow or trickling
  // connections.
  bool bounded = false;
  std::string label;
};

struct Result {
  bool complete = false;
  bool failed = false;
  int error = 0;
  int attempts = 0;
  long long finished_at = 0;  // ticks since the first attempt began
  long long delivered = 0;    // body bytes the server sent, used or not
  long long written = 0;      // bytes written into the file, all attempts
  long long discarded = 0;    // bytes written of a version the server replaced
  int kept_breaks = 0;        // requests sent into a kept connection the server had dropped
  std::string violation;      // empty when every invariant held
};

// A scenario drawn from `seed`: file size, links and faults mixed as real networks mix them.
Scenario RandomScenario(uint32_t seed);

// Runs the scenario to its end: attempts follow each other as the owner would run them (a
// sign-in page waits for the user to sign in and retry; a new version starts over).
Result Run(const Scenario& scenario);

// The bound within which a bounded scenario's download must finish, in ticks: 1.25 times the
// file over the combined bandwidth of the connections that do not trickle, plus two seconds,
// plus one wait for the first byte per request the fastest connection makes in turn, plus the
// time it takes to see that a connection trickles.
long long TimeBound(const Scenario& scenario);

std::string Describe(const Scenario& scenario);

}  // namespace simulation
