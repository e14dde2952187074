// A critical-section lock and its scoped holder, the one lock type the threading code uses.
#pragma once

#include <windows.h>

namespace nbase {

class ConditionVariable;

// Critical sections rather than kernel mutexes: every lock here is held for a few instructions
// and never across a wait (a ConditionVariable wait lets go of it), so the user-mode fast path
// is what matters.
class Lock {
 public:
  Lock() noexcept { ::InitializeCriticalSection(&section_); }
  ~Lock() { ::DeleteCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire() noexcept { ::EnterCriticalSection(&section_); }
  void Release() noexcept { ::LeaveCriticalSection(&section_); }

 private:
  friend class ConditionVariable;

  CRITICAL_SECTION section_;
};

class AutoLock {
 public:
  explicit AutoLock(Lock& lock) noexcept : lock_(lock) { lock_.Acquire(); }
  ~AutoLock() { lock_.Release(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  Lock& lock_;
};

}  // namespace nbase
