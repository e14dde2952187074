// An OS thread wrapper: a virtual body started through the C runtime, joined on close.
#pragma once

#include <windows.h>

#include <atomic>

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

}  // namespace nbase
