// A condition variable that waits on an nbase::Lock, every wait bounded.
#pragma once

#include <windows.h>

#include "base/Lock.h"

namespace nbase {

// Any thread may wait or wake; the waiter holds `lock` (through an AutoLock) around the call.
class ConditionVariable {
 public:
  ConditionVariable() noexcept { ::InitializeConditionVariable(&variable_); }
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  // Waits until `done()` holds or `timeout_ms` has passed in all, across spurious and stolen
  // wake-ups. Returns what `done()` last said. `lock` must be held; it is again on return.
  template <typename Predicate>
  bool WaitFor(Lock& lock, DWORD timeout_ms, Predicate done) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    while (!done()) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) return false;
      ::SleepConditionVariableCS(&variable_, &lock.section_, static_cast<DWORD>(deadline - now));
    }
    return true;
  }

  void WakeAll() noexcept { ::WakeAllConditionVariable(&variable_); }

 private:
  CONDITION_VARIABLE variable_;
};

}  // namespace nbase
