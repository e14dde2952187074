// The downloader's decisions over its piece table, with no threads, clock, lock, file or
// network: told what happened on which connection and when, it answers what each does next.
#pragma once

#include <deque>
#include <string>
#include <vector>

// Not thread-safe: the downloader's threads call it under one lock, the tests from one thread.
// Times are ticks of one monotonic clock in 100-nanosecond units.
class PieceScheduler {
 public:
  static constexpr long long kTicksPerSecond = 10000000LL;

  struct Settings {
    int connections = 8;
    long long size = 0;
    // Without range support one connection reads the one whole answer.
    bool ranges = true;
    // The size of the pieces handed out front first; 0 picks PieceSize(size).
    long long piece_size = 0;
    // The pause before a piece that failed without progress is tried again; doubles each time.
    long long retry_pause = kTicksPerSecond;
    // Tries without progress a piece may fail before the attempt fails.
    int retries = 3;
    // A request that delivers nothing for this long is cut.
    long long stall = 30 * kTicksPerSecond;
    // The attempt fails as too slow when the whole download moves less than floor_bytes in
    // floor_window.
    long long floor_window = 60 * kTicksPerSecond;
    long long floor_bytes = 4096;
    // Refused requests (503, 429) in a row after which a connection leaves the work to others.
    int refusals_to_retire = 2;
    // How often an idle connection looks again for work.
    long long idle_poll = kTicksPerSecond / 10;
  };

  // A stretch of the file [first, end) already on disk.
  struct Stretch {
    long long first = 0;
    long long end = 0;
  };

  enum class Outcome {
    Running,
    Complete,
    Failed,
    // An answer was not the file, or another version of it: the owner probes the server to
    // tell a sign-in page from a new version before anything on disk is dropped.
    Suspect,
    Stopped,
  };

  struct Work {
    enum Kind { Fetch, Wait, Quit } kind = Quit;
    // Fetch: the bytes to ask for, [first, end).
    long long first = 0;
    long long end = 0;
    // Fetch: on a new connection, since the last try on a reused one broke.
    bool fresh = false;
    // Fetch: the answer closes its connection (the server drops kept ones).
    bool close = false;
    // Wait: ask again no later than this.
    long long wake = 0;
  };

  // How a request ended, as the connection saw it.
  enum class Ending {
    // Every byte asked for arrived, or the piece's end moved below the connection's position.
    Done,
    // The transport failed: no connection, a broken or timed-out read, a cut after a stall.
    Broken,
    // 503 or 429: the server has no room for another connection now.
    Refused,
    // An error no other try can cure; ends the attempt with its code.
    Fatal,
    // An answer that is not the asked bytes of this file (a sign-in page, a new version).
    Suspect,
  };

  struct ConnectionStats {
    long long bytes = 0;  // bytes it wrote into the file
    int pieces = 0;       // pieces (or tails of others' pieces) it completed
    int retries = 0;      // its requests that broke, stalled or were refused
    int takeovers = 0;    // times it took part of another connection's piece
  };

  PieceScheduler(const Settings& settings, const std::vector<Stretch>& done, long long now);

  // What connection `index` does next; it has no request open.
  Work Next(int index, long long now);
  // The request's answer was accepted and its body begins.
  void Answered(int index, long long now);
  // `count` body bytes arrived at the connection's position: how many of them belong to its
  // piece still (fewer once another connection took the rest). The caller writes that many at
  // Position() as read before this call, then reports them with Written.
  long long Received(int index, long long count, long long now);
  // `count` bytes claimed by Received are in the file.
  void Written(int index, long long count, long long now);
  // The request ended; `reused` tells that it went over a connection kept from an earlier one.
  void Ended(int index, Ending ending, int error, bool reused, long long now);
  // The connection will never ask again (it could not start, or its thread is ending).
  void Leave(int index, int error);
  // Time passed. Adds to `cut` the connections whose open request should be cut now (it is
  // stalled); returns the time by which it should be called again.
  long long Tick(long long now, std::vector<int>* cut);
  // Ends the attempt from outside (the owner quits or a write failed).
  void Stop(Outcome outcome, int error);

  Outcome outcome() const { return outcome_; }
  int error() const { return error_; }
  bool over() const { return outcome_ != Outcome::Running; }
  // The time the last byte was written (valid once Complete).
  long long completed_at() const { return completed_at_; }
  long long size() const { return settings_.size; }
  // Where the connection's open request is: the next byte it will receive.
  long long Position(int index) const;
  // Whether the connection's open request should be given up (its piece is gone or the
  // attempt is over).
  bool ShouldCut(int index) const;
  // The first byte not yet written: everything before it is in the file.
  long long Front() const;
  long long Written() const { return written_total_; }
  // The written stretches, merged, in file order: what a later attempt can keep.
  std::vector<Stretch> DoneStretches() const;
  const ConnectionStats& Stats(int index) const { return connections_[index].stats; }
  int connections() const { return static_cast<int>(connections_.size()); }

  // Whether the table holds together: pieces disjoint and covering the file, each piece's
  // written <= claimed <= end, owners and connections agreeing. `why` says what broke.
  bool Consistent(std::string* why) const;

  // The size of the pieces a file is cut into: a 64th of the file within 1 to 8 MiB, so a
  // file below 8 MiB has fewer pieces than connections; never more than the file.
  static long long PieceSize(long long file_size);

 private:
  struct Piece {
    long long start = 0;
    long long written = 0;  // first byte not yet in the file
    long long claimed = 0;  // first byte not yet received by its owner; >= written
    long long end = 0;      // exclusive; moves down when another connection takes the tail
    int owner = -1;
    int tries = 0;             // failed tries without progress
    long long not_before = 0;  // a failed piece waits out its pause
  };
  struct Connection {
    int piece = -1;
    bool left = false;
    bool fresh_next = false;
    bool cut = false;
    long long request_start = 0;
    long long first_byte_at = 0;  // 0 until the body began
    long long last_data_at = 0;
    long long request_bytes = 0;  // received in this request
    long long request_first = 0;  // where its piece stood when the request began
    long long not_before = 0;     // a refused connection waits out its pause
    double rate = 0;              // bytes per tick of its last request long enough to judge
    long long latency = -1;       // ticks from its last request to its first byte
    int refusals = 0;
    int failures = 0;        // tries in a row that broke without bringing a byte
    bool delivered = false;  // it has read an answer to its end before
    ConnectionStats stats;
  };

  bool Incomplete(const Piece& piece) const { return piece.claimed < piece.end; }
  // The connection's rate now: its open request's, once it has run long enough to judge.
  double CurrentRate(const Connection& connection, long long now, bool* known) const;
  // The rate a connection expects for a new request: its own, else what others have shown.
  double ExpectedRate(int index) const;
  long long ExpectedLatency(int index) const;
  bool IsSlow(int index) const;
  // Joins the unowned pieces after `first` to it while a request for it would be short.
  void MergeFollowing(int index, int first);
  // Splits or hands over part of another connection's piece; -1 when none is worth it.
  int TakeFromOthers(int index, long long now);
  void Fail(int error);
  // The pause after `count` earlier failures: the first pause, doubled each time.
  long long Backoff(int count) const;
  // A try of `piece` that brought nothing while nothing moved: it waits out its pause, or the
  // attempt fails once the piece has used up its retries.
  void SpendTry(Piece& piece, int error, long long now);
  void CheckComplete(long long now);
  // After an answer to piece `index` was cut short by a server that keeps doing so: its rest
  // is cut into pieces of the size such answers carry.
  void SplitAfterCut(int index);

  Settings settings_;
  std::vector<Piece> pieces_;
  std::vector<Connection> connections_;
  Outcome outcome_ = Outcome::Running;
  int error_ = 0;
  int last_error_ = 0;
  long long started_ = 0;
  long long completed_at_ = 0;
  long long written_total_ = 0;
  long long last_progress_at_ = 0;   // when a byte was last written
  int kept_breaks_ = 0;              // requests on kept connections that broke before a byte
  int cut_answers_ = 0;              // answers that broke after some of their bytes
  std::deque<long long> cut_sizes_;  // the bytes of the most recent of them
  // (time, bytes written) at most one a second, spanning the floor's window.
  std::deque<std::pair<long long, long long>> progress_samples_;
};
