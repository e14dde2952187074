// Thread creation, priority mapping and joining.
#include "base/Thread.h"

#include <process.h>

namespace nbase {
namespace {

int OsPriority(int priority) {
  switch (priority) {
    case 1:
      return THREAD_PRIORITY_LOWEST;
    case 2:
      return THREAD_PRIORITY_BELOW_NORMAL;
    case 3:
      return THREAD_PRIORITY_HIGHEST;
    case 4:
      return THREAD_PRIORITY_TIME_CRITICAL;
    default:
      return THREAD_PRIORITY_BELOW_NORMAL;
  }
}

}  // namespace

Thread::~Thread() {
  Close();
}

bool Thread::Create() {
  if (handle_) return false;
  unsigned id = 0;
  // _beginthreadex rather than CreateThread so the C runtime's per-thread data is set up and
  // torn down with the thread. Suspended, so id and priority are in place before the body
  // can read or clear them.
  const uintptr_t handle =
      ::_beginthreadex(nullptr, 0, &Thread::ThreadProc, this, CREATE_SUSPENDED, &id);
  if (handle < 2) {
    set_thread_id(0);
    return false;
  }
  handle_.reset(reinterpret_cast<HANDLE>(handle));
  set_thread_id(id);
  if (priority_ > 0) ::SetThreadPriority(handle_.get(), OsPriority(priority_));
  ::ResumeThread(handle_.get());
  return true;
}

void Thread::Close() {
  if (!handle_) return;
  if (thread_id() != ::GetCurrentThreadId()) {
    if (::WaitForSingleObject(handle_.get(), INFINITE) == WAIT_FAILED) {
      ::TerminateThread(handle_.get(), 0);
    }
  }
  handle_.reset();
  set_thread_id(0);
}

unsigned __stdcall Thread::ThreadProc(void* argument) noexcept {
  static_cast<Thread*>(argument)->ThreadMain();
  ::_endthreadex(0);
  return 0;
}

}  // namespace nbase
