// Hand-out front first, splits that let both sides finish together, takeovers only by the
// faster, retries that follow progress, the stall cut and the progress floor.
#include "installer/HttpClient/PieceScheduler.h"

#include <algorithm>
#include <limits>

#include "installer/HttpClient/HttpInterface.h"

namespace {

constexpr long long kSecond = PieceScheduler::kTicksPerSecond;
constexpr long long kMinPiece = 1LL << 20;
constexpr long long kMaxPiece = 8LL << 20;
// A request's rate is judged once its body has run this long, or brought this many bytes.
constexpr long long kJudgeAfterTicks = kSecond / 4;
constexpr long long kJudgeAfterBytes = 256LL << 10;
// A request that has had no answer for this long counts as delivering nothing.
constexpr long long kNoAnswerTicks = 2 * kSecond;
// Another connection helps with a piece only when its owner needs longer than this (plus the
// taker's own wait for its first byte) for the rest.
constexpr long long kSplitTicks = kSecond * 3 / 10;
// Neither side of a split is smaller than this: a smaller request costs more than it brings.
constexpr long long kMinSplit = 4LL << 10;
// A connection takes another's whole remainder only when its rate is this much higher and it
// saves at least kWorthTicks.
constexpr double kFasterFactor = 1.5;
constexpr long long kWorthTicks = kSecond;
// A request is made at least this many times its connection's rate times its wait for the
// first byte, up to kMaxMerged, by joining the pieces that follow.
constexpr double kMergeFactor = 4.0;
// Breaks of kept connections before their first byte after which the server is taken to drop
// kept connections (a per-connection byte budget, a short keep-alive): every later answer
// closes its connection, so no request is sent into one the server has already given up.
constexpr int kKeptBreaksToClose = 3;
// Answers broken after some of their bytes before requests are no longer joined.
constexpr int kCutsBeforeNoMerge = 3;
// How many recent cut answers tell the size an answer may have, and the least piece they make.
constexpr size_t kCutSizesKept = 15;
constexpr long long kMinCutPiece = 64LL << 10;
constexpr long long kMaxMerged = 32LL << 20;
// A connection not judged yet takes over only a remainder its owner needs this long for.
constexpr long long kProbeTicks = kSecond;
// A connection this many times slower than the others' median takes pieces from the back: at
// the front it would hold up the digest, which follows the file in order.
constexpr double kSlowFactor = 2.0;
constexpr long long kNever = std::numeric_limits<long long>::max() / 4;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

}  // namespace

long long PieceScheduler::PieceSize(long long file_size) {
  const long long piece = std::min(std::max(file_size / 64, kMinPiece), kMaxPiece);
  return std::max(1LL, std::min(piece, file_size));
}

PieceScheduler::PieceScheduler(const Settings& settings, const std::vector<Stretch>& done,
                               long long now)
    : settings_(settings),
      connections_(std::max(1, settings.connections)),
      started_(now),
      last_progress_at_(now) {
  const long long size = std::max(0LL, settings_.size);
  long long piece_size = std::max(1LL, size);
  if (settings_.ranges) {
    piece_size = settings_.piece_size > 0 ? settings_.piece_size : PieceSize(size);
    // A file of fewer pieces than connections is shared out at once rather than by splits
    // that would each wait to judge the first owner's rate.
    const long long shared = (size + connections() - 1) / connections();
    if (settings_.piece_size <= 0 && size / piece_size < connections()) {
      piece_size = std::max(std::min(kMinSplit, size), shared);
    }
  }
  long long at = 0;
  auto add_gap = [&](long long from, long long to) {
    for (long long first = from; first < to; first += piece_size) {
      Piece piece;
      piece.start = piece.written = piece.claimed = first;
      piece.end = std::min(to, first + piece_size);
      pieces_.push_back(piece);
    }
  };
  // Without ranges nothing on disk can be kept: the one answer starts at the first byte.
  if (settings_.ranges) {
    for (const Stretch& stretch : done) {
      const long long first = std::max(at, stretch.first);
      const long long end = std::min(size, stretch.end);
      if (end <= first) continue;
      add_gap(at, first);
      // Finished stretches stay in the table as pieces without bytes left, so the front and
      // the state file see them.
      Piece piece;
      piece.start = first;
      piece.written = piece.claimed = piece.end = end;
      pieces_.push_back(piece);
      at = end;
    }
  }
  add_gap(at, size);
  progress_samples_.emplace_back(now, 0);
  CheckComplete(now);
}

double PieceScheduler::CurrentRate(const Connection& connection, long long now, bool* known) const {
  *known = false;
  if (connection.piece < 0) return 0;
  if (connection.first_byte_at == 0) {
    // No answer yet: after long enough that is a connection delivering nothing.
    *known = now - connection.request_start >= kNoAnswerTicks;
    return 0;
  }
  const long long ran = now - connection.first_byte_at;
  if (ran <= 0 || (ran < kJudgeAfterTicks && connection.request_bytes < kJudgeAfterBytes)) {
    // Too young to judge by itself: what the connection showed in its last request stands in,
    // so a server that cuts every answer short does not leave each owner forever unjudged.
    *known = connection.rate > 0;
    return connection.rate;
  }
  *known = true;
  return static_cast<double>(connection.request_bytes) / static_cast<double>(ran);
}

double PieceScheduler::ExpectedRate(int index) const {
  if (connections_[index].rate > 0) return connections_[index].rate;
  std::vector<double> rates;
  for (const Connection& other : connections_) {
    if (other.rate > 0) rates.push_back(other.rate);
  }
  return Median(rates);
}

long long PieceScheduler::ExpectedLatency(int index) const {
  if (connections_[index].latency >= 0) return connections_[index].latency;
  std::vector<double> latencies;
  for (const Connection& other : connections_) {
    if (other.latency >= 0) latencies.push_back(static_cast<double>(other.latency));
  }
  return static_cast<long long>(Median(latencies));
}

bool PieceScheduler::IsSlow(int index) const {
  const double rate = connections_[index].rate;
  if (rate <= 0) return false;
  std::vector<double> rates;
  for (size_t i = 0; i < connections_.size(); ++i) {
    if (static_cast<int>(i) != index && connections_[i].rate > 0) {
      rates.push_back(connections_[i].rate);
    }
  }
  return !rates.empty() && rate * kSlowFactor < Median(rates);
}

PieceScheduler::Work PieceScheduler::Next(int index, long long now) {
  Work work;
  Connection& connection = connections_[index];
  if (over() || connection.left) return work;
  if (connection.piece >= 0) Ended(index, Ending::Broken, HttpErrRead, false, now);
  if (!settings_.ranges && index != 0) {
    // One answer holds the whole file: there is nothing for a second connection.
    Leave(index, 0);
    return work;
  }
  long long wake = now + settings_.idle_poll;
  if (connection.not_before > now) {
    work.kind = Work::Wait;
    work.wake = connection.not_before;
    return work;
  }
  const bool slow = IsSlow(index);
  int best = -1;
  bool incomplete = false;
  for (size_t i = 0; i < pieces_.size(); ++i) {
    const Piece& piece = pieces_[i];
    if (!Incomplete(piece)) continue;
    incomplete = true;
    if (piece.owner >= 0) continue;
    if (piece.not_before > now) {
      wake = std::min(wake, piece.not_before);
    } else if (best < 0 || (slow ? piece.claimed > pieces_[best].claimed
                                 : piece.claimed < pieces_[best].claimed)) {
      best = static_cast<int>(i);
    }
  }
  if (best < 0 && !incomplete) {
    // Every byte is claimed by a request still open; an owner whose request breaks gives
    // its piece back, so an idle connection stays while any other is at work.
    bool others = false;
    for (size_t i = 0; i < connections_.size(); ++i) {
      if (static_cast<int>(i) != index && connections_[i].piece >= 0) others = true;
    }
    if (!others) return work;
  }
  if (best < 0 && settings_.ranges) best = TakeFromOthers(index, now);
  if (best < 0) {
    work.kind = Work::Wait;
    work.wake = wake;
    return work;
  }
  if (!slow && settings_.ranges) MergeFollowing(index, best);
  Piece& piece = pieces_[best];
  piece.owner = index;
  connection.piece = best;
  connection.request_start = now;
  connection.first_byte_at = 0;
  connection.last_data_at = now;
  connection.request_bytes = 0;
  connection.request_first = piece.claimed;
  connection.cut = false;
  work.kind = Work::Fetch;
  work.first = piece.claimed;
  work.end = piece.end;
  work.fresh = connection.fresh_next;
  work.close = kept_breaks_ >= kKeptBreaksToClose;
  connection.fresh_next = false;
  return work;
}

void PieceScheduler::MergeFollowing(int index, int first) {
  const double rate = ExpectedRate(index);
  const long long latency = ExpectedLatency(index);
  if (rate <= 0 || latency <= 0) return;
  // A server that cuts answers short or drops kept connections would cut a long request too:
  // its owner would then fetch it piece after piece while the other connections wait.
  if (cut_answers_ >= kCutsBeforeNoMerge || kept_breaks_ >= kKeptBreaksToClose) return;
  // A fast connection far from the server spends most of a short request waiting for its
  // first byte: it asks for the pieces that follow too, until the transfer outweighs the wait.
  const double wanted = rate * static_cast<double>(latency) * kMergeFactor;
  Piece& piece = pieces_[first];
  while (static_cast<double>(piece.end - piece.claimed) < wanted &&
         piece.end - piece.start < kMaxMerged) {
    Piece* next = nullptr;
    for (Piece& other : pieces_) {
      if (other.start == piece.end && other.end > other.start) next = &other;
    }
    if (!next || next->owner >= 0 || next->written != next->start || next->tries > 0) return;
    piece.end = next->end;
    next->start = next->written = next->claimed = next->end;
  }
}

int PieceScheduler::TakeFromOthers(int index, long long now) {
  int victim = -1;
  double victim_rate = 0;
  double victim_ticks = -1;
  for (size_t i = 0; i < connections_.size(); ++i) {
    const Connection& other = connections_[i];
    if (static_cast<int>(i) == index || other.piece < 0 || other.cut) continue;
    const Piece& piece = pieces_[other.piece];
    const long long remaining = piece.end - piece.claimed;
    if (remaining <= 0) continue;
    bool known = false;
    const double rate = CurrentRate(other, now, &known);
    if (!known) continue;
    const double ticks = rate > 0 ? static_cast<double>(remaining) / rate : 1e300;
    if (ticks > victim_ticks) {
      victim = static_cast<int>(i);
      victim_rate = rate;
      victim_ticks = ticks;
    }
  }
  const long long latency = ExpectedLatency(index);
  if (victim < 0 || victim_ticks < static_cast<double>(kSplitTicks + latency)) return -1;

  Piece& held = pieces_[connections_[victim].piece];
  const long long remaining = held.end - held.claimed;
  const double measured = connections_[index].rate > 0 ? connections_[index].rate : 0;
  double taker_rate = ExpectedRate(index);
  if (taker_rate <= 0) taker_rate = victim_rate;
  // The victim keeps what lets both sides finish at once: it goes on at its rate while the
  // taker first waits for its answer.
  long long keep = remaining / 2;
  if (victim_rate <= 0) {
    keep = taker_rate > 0 ? 0 : remaining / 2;
  } else if (taker_rate > 0) {
    const double both = victim_rate * taker_rate / (victim_rate + taker_rate);
    keep = static_cast<long long>(
        (static_cast<double>(latency) + static_cast<double>(remaining) / taker_rate) * both);
  }
  keep = std::max(0LL, std::min(keep, remaining));
  long long take = remaining - keep;
  if (keep < kMinSplit || take < kMinSplit) {
    // Too small to share: the whole rest changes hands, but only to a connection that has
    // shown it is clearly faster and only when that saves real time.
    if (measured > 0) {
      const bool faster = measured >= kFasterFactor * victim_rate;
      const double saved =
          victim_ticks - (static_cast<double>(latency) + static_cast<double>(remaining) / measured);
      if (!faster || saved < static_cast<double>(kWorthTicks)) return -1;
    } else {
      // A connection that has shown no rate yet may try a remainder whose owner is clearly
      // slower than the others have been (or than anything, when none has been judged) and
      // far from done; it keeps the rest only if it then proves faster.
      const double others = ExpectedRate(index);
      const bool slower = others <= 0 || victim_rate * kFasterFactor < others;
      if (!slower || victim_ticks < static_cast<double>(kProbeTicks + latency)) return -1;
    }
    keep = 0;
    take = remaining;
  }
  Piece taken;
  taken.start = taken.written = taken.claimed = held.claimed + keep;
  taken.end = held.end;
  held.end = taken.start;
  ++connections_[index].stats.takeovers;
  pieces_.push_back(taken);
  return static_cast<int>(pieces_.size() - 1);
}

void PieceScheduler::Answered(int index, long long now) {
  Connection& connection = connections_[index];
  if (connection.piece < 0) return;
  connection.first_byte_at = now;
  connection.last_data_at = now;
  connection.latency = now - connection.request_start;
}

long long PieceScheduler::Received(int index, long long count, long long now) {
  Connection& connection = connections_[index];
  if (connection.piece < 0 || count <= 0) return 0;
  if (connection.first_byte_at == 0) Answered(index, now);
  connection.request_bytes += count;
  connection.last_data_at = now;
  if (outcome_ == Outcome::Stopped || outcome_ == Outcome::Failed) return 0;
  Piece& piece = pieces_[connection.piece];
  const long long usable = std::max(0LL, std::min(count, piece.end - piece.claimed));
  piece.claimed += usable;
  return usable;
}

void PieceScheduler::Written(int index, long long count, long long now) {
  Connection& connection = connections_[index];
  if (connection.piece < 0 || count <= 0) return;
  Piece& piece = pieces_[connection.piece];
  piece.written = std::min(piece.claimed, piece.written + count);
  connection.stats.bytes += count;
  written_total_ += count;
  last_progress_at_ = now;
  CheckComplete(now);
}

void PieceScheduler::CheckComplete(long long now) {
  if (outcome_ != Outcome::Running) return;
  for (const Piece& piece : pieces_) {
    if (piece.written < piece.end) return;
  }
  outcome_ = Outcome::Complete;
  completed_at_ = now;
}

void PieceScheduler::Ended(int index, Ending ending, int error, bool reused, long long now) {
  Connection& connection = connections_[index];
  if (connection.piece < 0) return;
  Piece& piece = pieces_[connection.piece];
  // Bytes received but never written are not in the file; they are asked for again.
  piece.claimed = piece.written;
  const bool progress = piece.written > connection.request_first;
  if (connection.first_byte_at > 0 && connection.request_bytes > 0) {
    const long long ran = now - connection.first_byte_at;
    // A request read to its end is judged however short it was: on a small file no other
    // would ever be.
    const bool whole = ending == Ending::Done && piece.written >= piece.end;
    if (ran > 0 &&
        (whole || ran >= kJudgeAfterTicks || connection.request_bytes >= kJudgeAfterBytes)) {
      connection.rate = static_cast<double>(connection.request_bytes) / static_cast<double>(ran);
    }
  }
  const int piece_index = connection.piece;
  piece.owner = -1;
  connection.piece = -1;
  connection.cut = false;
  if (over()) return;
  bool cut_short = false;
  switch (ending) {
    case Ending::Done:
      connection.refusals = 0;
      connection.failures = 0;
      connection.delivered = true;
      if (piece.written >= piece.end) ++connection.stats.pieces;
      break;
    case Ending::Broken:
      ++connection.stats.retries;
      last_error_ = error;
      if (reused && connection.request_bytes == 0) ++kept_breaks_;
      if (connection.request_bytes > 0) {
        ++cut_answers_;
        cut_sizes_.push_back(connection.request_bytes);
        if (cut_sizes_.size() > kCutSizesKept) cut_sizes_.pop_front();
        cut_short = true;
      }
      // The server may have dropped a connection kept from an earlier request; a new one is
      // tried before the failure counts. A try that brought bytes counts as progress.
      connection.fresh_next = true;
      connection.refusals = 0;
      if (progress || reused) {
        connection.failures = 0;
        break;
      }
      ++connection.failures;
      if (connection.failures == 1 && connection.delivered) {
        // The first break after good answers is most often a kept connection the server had
        // closed meanwhile (the system's client may hand out such a one as new): the next try
        // goes at once.
        break;
      }
      if (now - last_progress_at_ < settings_.stall) {
        // Others are moving the download: the fault is this connection's path, not the
        // piece's. It waits, and the piece goes to whoever asks first.
        connection.not_before = now + Backoff(connection.failures - 1);
        break;
      }
      SpendTry(piece, error, now);
      break;
    case Ending::Refused: {
      ++connection.stats.retries;
      last_error_ = error;
      bool alone = true;
      for (size_t i = 0; i < connections_.size(); ++i) {
        if (static_cast<int>(i) != index && !connections_[i].left) alone = false;
      }
      if (alone) {
        // The last connection counts refusals as failures once the download has stopped
        // moving, so a server refusing every request ends the attempt.
        if (now - last_progress_at_ < settings_.stall) {
          connection.not_before = now + Backoff(piece.tries);
          break;
        }
        SpendTry(piece, error, now);
        break;
      }
      if (++connection.refusals >= settings_.refusals_to_retire) {
        Leave(index, error);
        return;
      }
      connection.not_before = now + Backoff(connection.refusals - 1);
      break;
    }
    case Ending::Fatal:
      Fail(error);
      break;
    case Ending::Suspect:
      outcome_ = Outcome::Suspect;
      error_ = error;
      break;
  }
  if (cut_short && !over()) SplitAfterCut(piece_index);
}

void PieceScheduler::SplitAfterCut(int index) {
  if (cut_answers_ < kCutsBeforeNoMerge) return;
  // What the server lets one answer carry, from its recent cuts (the largest: an answer on a
  // connection kept from before is cut sooner): the rest of a cut piece becomes pieces of that
  // size, so the connections share it instead of its owner fetching it cut after cut.
  const long long size =
      std::max(kMinCutPiece, *std::max_element(cut_sizes_.begin(), cut_sizes_.end()));
  long long at = pieces_[index].written + size;
  const long long end = pieces_[index].end;
  if (at >= end) return;
  pieces_[index].end = at;
  while (at < end) {
    Piece part;
    part.start = part.written = part.claimed = at;
    part.end = std::min(end, at + size);
    pieces_.push_back(part);
    at = part.end;
  }
}

long long PieceScheduler::Backoff(int count) const {
  return settings_.retry_pause << std::min(std::max(count, 0), 8);
}

void PieceScheduler::SpendTry(Piece& piece, int error, long long now) {
  if (++piece.tries > settings_.retries) {
    Fail(error);
    return;
  }
  piece.not_before = now + Backoff(piece.tries - 1);
}

void PieceScheduler::Leave(int index, int error) {
  Connection& connection = connections_[index];
  if (connection.left) return;
  if (connection.piece >= 0) {
    Piece& piece = pieces_[connection.piece];
    piece.claimed = piece.written;
    piece.owner = -1;
    connection.piece = -1;
  }
  connection.left = true;
  if (error != 0) last_error_ = error;
  for (const Connection& other : connections_) {
    if (!other.left) return;
  }
  // The last connection to leave ends an attempt nothing else ended.
  Fail(last_error_);
}

long long PieceScheduler::Tick(long long now, std::vector<int>* cut) {
  if (over()) return now + kNever;
  long long wake = now + kSecond;
  for (size_t i = 0; i < connections_.size(); ++i) {
    Connection& connection = connections_[i];
    if (connection.piece < 0 || connection.cut) continue;
    const long long deadline = connection.last_data_at + settings_.stall;
    if (now >= deadline) {
      connection.cut = true;
      if (cut) cut->push_back(static_cast<int>(i));
    } else {
      wake = std::min(wake, deadline);
    }
  }
  if (progress_samples_.empty() || now - progress_samples_.back().first >= kSecond) {
    progress_samples_.emplace_back(now, written_total_);
  }
  const long long window_start = now - settings_.floor_window;
  // The newest sample at or before the window's start stays as its base.
  while (progress_samples_.size() > 1 && progress_samples_[1].first <= window_start) {
    progress_samples_.pop_front();
  }
  if (progress_samples_.front().first <= window_start &&
      written_total_ - progress_samples_.front().second < settings_.floor_bytes) {
    Fail(HttpErrTooSlow);
  }
  return wake;
}

void PieceScheduler::Stop(Outcome outcome, int error) {
  if (outcome_ != Outcome::Running) return;
  outcome_ = outcome;
  error_ = error;
}

void PieceScheduler::Fail(int error) {
  if (outcome_ != Outcome::Running) return;
  outcome_ = Outcome::Failed;
  error_ = error != 0 ? error : (last_error_ != 0 ? last_error_ : HttpErrStatus);
}

long long PieceScheduler::Position(int index) const {
  const Connection& connection = connections_[index];
  return connection.piece < 0 ? -1 : pieces_[connection.piece].claimed;
}

bool PieceScheduler::ShouldCut(int index) const {
  const Connection& connection = connections_[index];
  if (over() || connection.cut) return true;
  if (connection.piece < 0) return true;
  const Piece& piece = pieces_[connection.piece];
  return piece.claimed >= piece.end;
}

long long PieceScheduler::Front() const {
  long long front = settings_.size;
  for (const Piece& piece : pieces_) {
    if (piece.written < piece.end) front = std::min(front, piece.written);
  }
  return front;
}

std::vector<PieceScheduler::Stretch> PieceScheduler::DoneStretches() const {
  std::vector<Stretch> done;
  for (const Piece& piece : pieces_) {
    if (piece.written > piece.start) done.push_back({piece.start, piece.written});
  }
  std::sort(done.begin(), done.end(),
            [](const Stretch& a, const Stretch& b) { return a.first < b.first; });
  std::vector<Stretch> merged;
  for (const Stretch& stretch : done) {
    if (!merged.empty() && merged.back().end == stretch.first) {
      merged.back().end = stretch.end;
    } else {
      merged.push_back(stretch);
    }
  }
  return merged;
}

bool PieceScheduler::Consistent(std::string* why) const {
  auto fail = [why](const char* text) {
    if (why) *why = text;
    return false;
  };
  std::vector<const Piece*> order;
  for (const Piece& piece : pieces_) {
    if (!(piece.start <= piece.written && piece.written <= piece.claimed &&
          piece.claimed <= piece.end)) {
      return fail("a piece's positions are out of order");
    }
    if (piece.owner >= static_cast<int>(connections_.size())) return fail("unknown owner");
    if (piece.owner >= 0 && connections_[piece.owner].piece < 0) {
      return fail("a piece's owner holds no piece");
    }
    if (piece.end > piece.start) order.push_back(&piece);
  }
  std::sort(order.begin(), order.end(),
            [](const Piece* a, const Piece* b) { return a->start < b->start; });
  long long at = 0;
  for (const Piece* piece : order) {
    if (piece->start != at) return fail("pieces overlap or leave a gap");
    at = piece->end;
  }
  if (at != std::max(0LL, settings_.size)) return fail("pieces do not end at the file's end");
  for (size_t i = 0; i < connections_.size(); ++i) {
    const int held = connections_[i].piece;
    if (held >= 0 && pieces_[held].owner != static_cast<int>(i)) {
      return fail("a connection's piece names another owner");
    }
  }
  return true;
}
