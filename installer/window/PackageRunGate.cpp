// The package run's gate between its checks and its start.
#include "installer/window/PackageRunGate.h"

namespace {
// A held start is looked at again this often, so no wait is unbounded however long the
// question stays open.
constexpr DWORD kHeldRecheckMs = 1000;
}  // namespace

PackageRunGate::PackageRunGate() : cancel_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool PackageRunGate::Hold() {
  nbase::AutoLock lock(lock_);
  if (state_ == State::kStarted) return false;
  held_ = true;
  return true;
}

void PackageRunGate::Release() {
  {
    nbase::AutoLock lock(lock_);
    held_ = false;
  }
  changed_.WakeAll();
}

bool PackageRunGate::Stop() {
  {
    nbase::AutoLock lock(lock_);
    if (state_ == State::kStarted) return false;
    state_ = State::kStopped;
    held_ = false;
  }
  if (cancel_) ::SetEvent(cancel_.get());
  changed_.WakeAll();
  return true;
}

bool PackageRunGate::Pass() {
  nbase::AutoLock lock(lock_);
  while (!changed_.WaitFor(lock_, kHeldRecheckMs,
                           [this] { return !held_ || state_ == State::kStopped; })) {
  }
  if (state_ == State::kStopped) return false;
  state_ = State::kStarted;
  return true;
}

void PackageRunGate::Finish() {
  {
    nbase::AutoLock lock(lock_);
    finished_ = true;
  }
  changed_.WakeAll();
}

bool PackageRunGate::WaitFinished(DWORD timeout_ms) {
  nbase::AutoLock lock(lock_);
  return changed_.WaitFor(lock_, timeout_ms, [this] { return finished_; });
}

bool PackageRunGate::Started() const {
  nbase::AutoLock lock(lock_);
  return state_ == State::kStarted;
}
