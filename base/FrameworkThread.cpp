// The framework thread's body, start-up handshake and orderly stop.
#include "base/FrameworkThread.h"

#include "base/MessageLoopProxy.h"
#include "base/ThreadRegistry.h"

namespace nbase {

FrameworkThread::FrameworkThread(const char* name)
    : started_event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)), name_(name ? name : "") {}

FrameworkThread::~FrameworkThread() {
  if (started_.load()) Stop();
}

bool FrameworkThread::StartWithLoop(int loop_type) {
  if (message_loop() || thread_handle()) return false;
  loop_type_ = loop_type;
  dispatcher_ = nullptr;
  // A body run earlier on the calling thread leaves the auto-reset event signalled.
  ::ResetEvent(started_event_.get());
  if (!Create()) return false;
  ::WaitForSingleObject(started_event_.get(), INFINITE);
  started_.store(true);
  return true;
}

void FrameworkThread::RunOnCurrentThread(int loop_type, Dispatcher* dispatcher) {
  loop_type_ = loop_type;
  dispatcher_ = dispatcher;
  started_.store(true);
  ThreadMain();
}

std::shared_ptr<MessageLoopProxy> FrameworkThread::message_loop_proxy() const {
  return proxy_;
}

FrameworkThread* FrameworkThread::current() {
  ThreadLocalRecord* record = ThreadLocalRecord::Current();
  return record ? record->thread : nullptr;
}

void FrameworkThread::Stop() {
  if (!started_.load()) return;
  bool expected = false;
  if (stopping_.compare_exchange_strong(expected, true) && message_loop() && proxy_) {
    // Non-nestable, so a nested loop (a modal dialog on the thread) is left alone; weak, so
    // the request dies with this object should the loop outlive it.
    proxy_->PostNonNestableTask(ToWeakCallback(&FrameworkThread::QuitLoopProperly));
  }
  // Joining ourselves would never return; a Stop from another thread does that part.
  if (thread_id() == ::GetCurrentThreadId()) return;
  Close();
  started_.store(false);
  stopping_.store(false);
}

void FrameworkThread::QuitLoopProperly() {
  if (MessageLoop* loop = MessageLoop::current()) loop->Quit();
  if (ThreadLocalRecord* record = ThreadLocalRecord::Current()) record->quit_properly = true;
}

void FrameworkThread::ThreadMain() {
  ThreadLocalRecord* record = ThreadLocalRecord::Current();
  const bool own_record = record == nullptr;
  if (own_record) {
    record = new ThreadLocalRecord;
    record->thread = this;
    ThreadLocalRecord::SetCurrent(record);
  }
  record->quit_properly = false;
  set_thread_id(::GetCurrentThreadId());

  auto loop = std::make_unique<MessageLoop>(static_cast<MessageLoop::Type>(loop_type_));
  proxy_ = loop->message_loop_proxy();
  message_loop_.store(loop.get(), std::memory_order_release);
  Init();
  ::SetEvent(started_event_.get());
  loop->Run(dispatcher_);
  Cleanup();
  message_loop_.store(nullptr, std::memory_order_release);
  loop.reset();

  set_thread_id(0);
  if (own_record) {
    // An identifier left registered would point at a thread that no longer runs.
    while (ThreadRegistry::UnregisterThread()) {
    }
    ThreadLocalRecord::SetCurrent(nullptr);
    delete record;
  }
}

}  // namespace nbase
