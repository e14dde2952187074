// Once-per-process TLS allocation without a lock that itself would need initialising.
#include "base/ThreadLocalSlot.h"

namespace nbase {

ThreadLocalSlot::~ThreadLocalSlot() {
  if (state_.load(std::memory_order_acquire) == kReady && index_ != TLS_OUT_OF_INDEXES) {
    ::TlsFree(index_);
  }
}

DWORD ThreadLocalSlot::Index() {
  int state = state_.load(std::memory_order_acquire);
  if (state == kReady) return index_;
  int expected = kUnallocated;
  if (state_.compare_exchange_strong(expected, kAllocating, std::memory_order_acq_rel)) {
    index_ = ::TlsAlloc();
    state_.store(kReady, std::memory_order_release);
    return index_;
  }
  // Another thread is allocating; it finishes within a few instructions.
  while (state_.load(std::memory_order_acquire) != kReady) ::Sleep(0);
  return index_;
}

void* ThreadLocalSlot::Get() {
  const DWORD index = Index();
  return index == TLS_OUT_OF_INDEXES ? nullptr : ::TlsGetValue(index);
}

void ThreadLocalSlot::Set(void* value) {
  const DWORD index = Index();
  if (index != TLS_OUT_OF_INDEXES) ::TlsSetValue(index, value);
}

}  // namespace nbase
