// The interface between a message loop and the thing that waits for its work.
#pragma once

#include <windows.h>

#include <cstdint>

namespace nbase {

// Receives the window messages of a UI loop run with a dispatcher instead of the default
// translate-and-dispatch. Returning false ends that run.
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  virtual bool Dispatch(const MSG& msg) = 0;
};

// A pump owns the waiting: it calls back into its delegate (the loop) whenever there may be
// work, and sleeps otherwise. Run times are TickClock microseconds.
class MessagePump {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // Runs at most one immediate task; true if one ran.
    virtual bool DoWork() = 0;
    // Runs at most one due delayed task; true if one ran. Leaves in `next_run_time` the run
    // time of the earliest pending delayed task, or 0 when there is none.
    virtual bool DoDelayedWork(int64_t* next_run_time) = 0;
    // Called when nothing else is pending; true if it found something to do.
    virtual bool DoIdleWork() = 0;
    // True while a system modal loop (a menu, a size/move drag, a message box) runs the
    // thread's messages; the UI pump then lets only paint and timer messages overtake work.
    virtual bool IsInOsModalLoop() const { return false; }
  };

  virtual ~MessagePump() = default;
  virtual void Run(Delegate* delegate) = 0;
  // Ends the innermost Run at its next check; only called on the pump's thread.
  virtual void Quit() = 0;
  // Wakes the pump; callable from any thread.
  virtual void ScheduleWork() = 0;
  // Asks for a DoDelayedWork call at `run_time`; only called on the pump's thread.
  virtual void ScheduleDelayedWork(int64_t run_time) = 0;
};

}  // namespace nbase
