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

namespace internal {

UniqueHandle BeginThread(unsigned(__stdcall* proc)(void*), void* argument, unsigned flags,
                         unsigned* id) {
  unsigned thread_id = 0;
  // _beginthreadex rather than CreateThread, whose threads run without the C runtime's
  // per-thread data (errno, strtok, locale state) being set up.
  const uintptr_t handle = ::_beginthreadex(nullptr, 0, proc, argument, flags, &thread_id);
  if (id) *id = handle ? thread_id : 0;
  return UniqueHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace internal

bool Thread::Create() {
  if (handle_) return false;
  unsigned id = 0;
  // Suspended, so id and priority are in place before the body can read or clear them.
  handle_ = internal::BeginThread(&Thread::ThreadProc, this, CREATE_SUSPENDED, &id);
  if (!handle_) {
    set_thread_id(0);
    return false;
  }
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
  Thread* thread = static_cast<Thread*>(argument);
  const bool ran_through = RunGuarded("thread body", [thread] { thread->ThreadMain(); });
  ::_endthreadex(ran_through ? 0 : 1);
  return 0;
}

}  // namespace nbase
