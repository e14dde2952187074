// A thread-safe posting handle to one message loop that stays valid after the loop is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/Lock.h"
#include "base/WeakCallback.h"

namespace nbase {

class MessageLoop;

class MessageLoopProxy : public SupportWeakCallback {
 public:
  ~MessageLoopProxy() override = default;

  // Each returns false, dropping the task, once the loop is being destroyed. A zero delay
  // posts an ordinary task. Delays are microseconds.
  virtual bool PostTask(std::function<void()> task);
  virtual bool PostDelayedTask(std::function<void()> task, int64_t delay_us);
  virtual bool PostNonNestableTask(std::function<void()> task);
  virtual bool PostNonNestableDelayedTask(std::function<void()> task, int64_t delay_us);

  // True on the loop's own thread while the loop exists.
  virtual bool BelongsToCurrentThread();

 protected:
  explicit MessageLoopProxy(MessageLoop* target) : target_loop_(target) {}

  // Called by the loop as it dies; later posts fail.
  virtual void WillDestroyCurrentMessageLoop();
  // Runs when the last owner lets go. Off the loop's thread, while the loop lives, the
  // deletion is handed to the loop so the proxy dies where it is used.
  virtual void OnDestruct();

 private:
  friend class MessageLoop;
  static std::shared_ptr<MessageLoopProxy> Create(MessageLoop* target);

  bool Post(std::function<void()> task, int64_t delay_us, bool nestable);

  Lock lock_;
  // Guarded by lock_, which stays held while a post is forwarded so the loop cannot finish
  // dying in between.
  MessageLoop* target_loop_;
};

}  // namespace nbase
