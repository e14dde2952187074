// A process-wide TLS index that is allocated by whichever thread needs it first.
#pragma once

#include <windows.h>

#include <atomic>

namespace nbase {

// Must be a namespace-scope (constant-initialised) object so that it exists before any thread
// can touch it; the index is allocated on first use and freed at process exit.
class ThreadLocalSlot {
 public:
  constexpr ThreadLocalSlot() = default;
  ~ThreadLocalSlot();
  ThreadLocalSlot(const ThreadLocalSlot&) = delete;
  ThreadLocalSlot& operator=(const ThreadLocalSlot&) = delete;

  void* Get();
  void Set(void* value);

 private:
  enum State { kUnallocated = 0, kAllocating = 1, kReady = 2 };
  DWORD Index();

  std::atomic<int> state_{kUnallocated};
  DWORD index_ = TLS_OUT_OF_INDEXES;
};

}  // namespace nbase
