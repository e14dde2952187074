// A thread that owns a message loop: started, fed with tasks and stopped from outside.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "base/MessageLoop.h"
#include "base/Thread.h"
#include "base/UniqueResource.h"
#include "base/WeakCallback.h"

namespace nbase {

class FrameworkThread : public Thread, public virtual SupportWeakCallback {
 public:
  explicit FrameworkThread(const char* name);
  // Stops the thread if it is still started.
  ~FrameworkThread() override;

  // Runs a default loop on a new thread; returns once Init has run there. False if a loop
  // exists already or the thread cannot be created.
  bool Start() { return StartWithLoop(MessageLoop::kDefaultMessageLoop); }
  bool StartWithLoop(int loop_type);
  // Runs the thread body on the calling thread and returns when its loop has ended and
  // Cleanup has run.
  void RunOnCurrentThread(int loop_type, Dispatcher* dispatcher = nullptr);
  // Quits the loop once it is idle at the outermost level and joins the thread. Does nothing
  // on a thread that was never started. Called on the thread itself it only asks the loop to
  // quit; a later Stop from elsewhere joins.
  void Stop();

  // Null before the loop exists and after it ended.
  MessageLoop* message_loop() const { return message_loop_.load(std::memory_order_acquire); }
  // The loop's posting handle; stays usable (posts fail) after the loop is gone. Null until
  // the thread body has created the first loop.
  std::shared_ptr<MessageLoopProxy> message_loop_proxy() const;

  const std::string& name() const { return name_; }
  int loop_type() const { return loop_type_; }

  // The framework thread running the calling code, or null.
  static FrameworkThread* current();

 protected:
  // Run on the thread before its loop starts and after it ended.
  virtual void Init() {}
  virtual void Cleanup() {}

  void ThreadMain() override;

 private:
  static void QuitLoopProperly();

  std::atomic<bool> started_{false};
  std::atomic<bool> stopping_{false};
  int loop_type_ = MessageLoop::kDefaultMessageLoop;
  Dispatcher* dispatcher_ = nullptr;
  std::atomic<MessageLoop*> message_loop_{nullptr};
  // Written by the body before `started_event_` is signalled; read by other threads after.
  std::shared_ptr<MessageLoopProxy> proxy_;
  UniqueHandle started_event_;
  std::string name_;
};

}  // namespace nbase
