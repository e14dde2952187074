// The point where a package run passes from checking the package to starting it, shared by the
// window (which may hold or stop the run) and the run's thread (which asks to pass it).
#pragma once

#include <windows.h>

#include "base/ConditionVariable.h"
#include "base/Lock.h"
#include "base/UniqueResource.h"

// Any thread. The decision between "stopped" and "started" is made once, under one lock, so a
// quit confirmed at the very moment the verification ends either stops the run or finds the
// package already started, never both.
class PackageRunGate {
 public:
  PackageRunGate();
  PackageRunGate(const PackageRunGate&) = delete;
  PackageRunGate& operator=(const PackageRunGate&) = delete;

  // Set once the run is to stop; the verifier's waits end at it.
  HANDLE cancel_event() const { return cancel_.get(); }

  // Keeps the package from starting while the user is asked whether to quit. False when it has
  // already started: that run cannot be held or stopped any more.
  bool Hold();
  // The user stays: the run may go on to the start.
  void Release();
  // Stops the run unless its package has started; true when it never will start.
  bool Stop();

  // The run's thread, checks done: waits while the start is held, then true when the package
  // may start (and counts as started from here), false when the run was stopped.
  bool Pass();
  // The run's thread, at its very end.
  void Finish();
  // Waits up to `timeout_ms` for Finish; true when the run's thread got there.
  bool WaitFinished(DWORD timeout_ms);

  bool Started() const;

 private:
  enum class State { kChecking, kStarted, kStopped };

  nbase::UniqueHandle cancel_;
  mutable nbase::Lock lock_;
  nbase::ConditionVariable changed_;
  State state_ = State::kChecking;
  bool held_ = false;
  bool finished_ = false;
};
