// An OS thread wrapper: a virtual body started through the C runtime, joined on close; and the
// one way to start a thread that runs a single callable.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <type_traits>
#include <utility>

#include "base/ExceptionPolicy.h"
#include "base/UniqueResource.h"

namespace nbase {

class Thread {
 public:
  Thread() = default;
  // Joins a thread that is still running; subclasses must end their body before this runs.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts ThreadMain on a new thread. False if a thread is already held or creation failed.
  bool Create();
  // Waits for the thread without limit (terminating it if the wait itself fails), then
  // forgets it. Called on the thread itself it only lets go of the handle.
  void Close();

  DWORD thread_id() const { return thread_id_.load(std::memory_order_acquire); }
  HANDLE thread_handle() const { return handle_.get(); }

  // 0 leaves the OS default; 1 lowest, 2 below normal, 3 highest, 4 time-critical, any
  // other positive value below normal. Applies to threads created afterwards.
  void set_priority(int priority) { priority_ = priority; }
  int priority() const { return priority_; }

 protected:
  virtual void ThreadMain() = 0;
  void set_thread_id(DWORD id) { thread_id_.store(id, std::memory_order_release); }

 private:
  static unsigned __stdcall ThreadProc(void* argument) noexcept;

  // Written by the creating thread and by the body, read from any thread.
  std::atomic<DWORD> thread_id_{0};
  UniqueHandle handle_;
  int priority_ = 0;
};

namespace internal {

// Starts `proc` through the C runtime (so its per-thread data is set up and torn down with
// the thread); an empty handle on failure.
UniqueHandle BeginThread(unsigned(__stdcall* proc)(void*), void* argument, unsigned flags,
                         unsigned* id);

template <typename Body>
struct ThreadStart {
  const char* purpose;
  Body body;

  static unsigned __stdcall Run(void* argument) noexcept {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
    return RunGuarded(start->purpose, start->body) ? 0 : 1;
  }
};

}  // namespace internal

// Runs `body` on a new thread under the exception policy; `purpose` names it in a report and
// must outlive the thread (a literal). The handle lets the caller wait for it (its exit code
// is 1 when the body threw); dropping it detaches the thread. On failure the body is destroyed
// unrun, so a caller that must undo something keeps what it needs outside the body.
template <typename Body>
UniqueHandle StartThread(const char* purpose, Body&& body, unsigned* id = nullptr) {
  using Start = internal::ThreadStart<std::decay_t<Body>>;
  auto start = std::make_unique<Start>(Start{purpose, std::forward<Body>(body)});
  UniqueHandle thread = internal::BeginThread(&Start::Run, start.get(), 0, id);
  if (thread) (void)start.release();  // the thread owns it now
  return thread;
}

// A thread nobody waits for. False if it could not be started.
template <typename Body>
bool StartDetachedThread(const char* purpose, Body&& body) {
  return StartThread(purpose, std::forward<Body>(body)).valid();
}

}  // namespace nbase
