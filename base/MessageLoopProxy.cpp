// Forwarding of posts to a loop that may be dying on another thread.
#include "base/MessageLoopProxy.h"

#include "base/MessageLoop.h"

namespace nbase {

std::shared_ptr<MessageLoopProxy> MessageLoopProxy::Create(MessageLoop* target) {
  return std::shared_ptr<MessageLoopProxy>(new MessageLoopProxy(target),
                                           [](MessageLoopProxy* proxy) { proxy->OnDestruct(); });
}

bool MessageLoopProxy::PostTask(std::function<void()> task) {
  return Post(std::move(task), 0, true);
}

bool MessageLoopProxy::PostDelayedTask(std::function<void()> task, int64_t delay_us) {
  return Post(std::move(task), delay_us, true);
}

bool MessageLoopProxy::PostNonNestableTask(std::function<void()> task) {
  return Post(std::move(task), 0, false);
}

bool MessageLoopProxy::PostNonNestableDelayedTask(std::function<void()> task, int64_t delay_us) {
  return Post(std::move(task), delay_us, false);
}

bool MessageLoopProxy::Post(std::function<void()> task, int64_t delay_us, bool nestable) {
  {
    AutoLock hold(lock_);
    if (target_loop_) {
      if (delay_us == 0) {
        nestable ? target_loop_->PostTask(std::move(task))
                 : target_loop_->PostNonNestableTask(std::move(task));
      } else {
        nestable ? target_loop_->PostDelayedTask(std::move(task), delay_us)
                 : target_loop_->PostNonNestableDelayedTask(std::move(task), delay_us);
      }
      return true;
    }
  }
  // Dropped outside the lock: the task's destructor may post again through this proxy.
  task = nullptr;
  return false;
}

bool MessageLoopProxy::BelongsToCurrentThread() {
  AutoLock hold(lock_);
  return target_loop_ != nullptr && target_loop_ == MessageLoop::current();
}

void MessageLoopProxy::WillDestroyCurrentMessageLoop() {
  AutoLock hold(lock_);
  target_loop_ = nullptr;
}

void MessageLoopProxy::OnDestruct() {
  bool delete_now = true;
  {
    AutoLock hold(lock_);
    if (target_loop_ && target_loop_ != MessageLoop::current()) {
      // The task owns the proxy: if the loop dies before running it, dropping the task still
      // deletes the proxy rather than leaking it.
      auto owner = std::make_shared<std::unique_ptr<MessageLoopProxy>>(this);
      target_loop_->PostNonNestableTask(ToWeakCallback([owner] { owner->reset(); }));
      delete_now = false;
    }
  }
  if (delete_now) delete this;
}

}  // namespace nbase
