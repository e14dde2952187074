// A thread's task queue and the run loop that drains it through a message pump.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "base/Lock.h"
#include "base/MessagePump.h"

namespace nbase {

class MessageLoopProxy;
class WinUIMessagePump;

// One task in any of the loop's queues.
struct QueuedTask {
  QueuedTask() = default;
  QueuedTask(std::function<void()> task, int64_t run_time, bool nestable)
      : delayed_run_time(run_time), nestable(nestable), task(std::move(task)) {}

  // TickClock microseconds; 0 for a task that is not delayed.
  int64_t delayed_run_time = 0;
  // Breaks ties between equal run times in posting order.
  int sequence_num = 0;
  bool nestable = true;
  std::function<void()> task;
};

// One active Run; lives on the stack of that Run.
struct LoopRunFrame {
  int run_depth = 1;
  bool quit_received = false;
  Dispatcher* dispatcher = nullptr;
  LoopRunFrame* previous = nullptr;
};

class MessageLoop : public MessagePump::Delegate {
 public:
  enum Type {
    kDefaultMessageLoop = 0,
    kUIMessageLoop = 1,
    // Served by the default pump: the completion-port pump is not built.
    kIOMessageLoop = 2,
    // Served by the default pump: custom loop factories are not built.
    kCustomMessageLoop = 3,
  };

  class TaskObserver {
   public:
    virtual ~TaskObserver() = default;
    virtual void WillProcessTask(const QueuedTask& task) = 0;
    virtual void DidProcessTask(const QueuedTask& task) = 0;
  };

  class DestructionObserver {
   public:
    virtual ~DestructionObserver() = default;
    // Called on the loop's thread after the queues are emptied, while current() still
    // returns the loop.
    virtual void WillDestroyCurrentMessageLoop() = 0;
  };

  // Becomes the calling thread's current loop. A UI loop must live on a thread that pumps
  // window messages only through it.
  explicit MessageLoop(Type type = kDefaultMessageLoop);
  ~MessageLoop() override;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // The calling thread's loop, or null.
  static MessageLoop* current();

  // Callable from any thread while the loop exists. Delays are microseconds; a delayed task
  // runs no earlier than TickClock now + delay. Non-nestable tasks never run inside a nested
  // Run: they wait until the outermost Run is idle.
  void PostTask(std::function<void()> task);
  void PostNonNestableTask(std::function<void()> task);
  void PostDelayedTask(std::function<void()> task, int64_t delay_us);
  void PostNonNestableDelayedTask(std::function<void()> task, int64_t delay_us);

  // Runs until Quit is called for this run (or, on a UI loop, WM_QUIT arrives or the
  // dispatcher refuses a message). Runs may nest; a nested Run from inside a task only runs
  // tasks while nestable tasks are allowed (see ScopedNestableTaskAllower).
  void Run(Dispatcher* dispatcher = nullptr);
  // Ends the innermost active Run once it has nothing left to do. Loop thread only.
  void Quit();

  Type type() const { return type_; }
  bool IsNested() const { return run_frame_ && run_frame_->run_depth > 1; }
  int run_depth() const { return run_frame_ ? run_frame_->run_depth : 0; }

  // Cleared while a task runs, so a nested loop entered from a task does not run tasks unless
  // the task allows it explicitly.
  void SetNestableTasksAllowed(bool allowed);
  bool NestableTasksAllowed() const { return nestable_tasks_allowed_; }

  // Set by the UI code around system modal loops (menus, window dragging).
  void set_os_modal_loop(bool in_modal_loop) { os_modal_loop_ = in_modal_loop; }
  bool os_modal_loop() const { return os_modal_loop_; }

  // Observers are not owned and must be removed before they die. Loop thread only.
  void AddTaskObserver(TaskObserver* observer);
  void RemoveTaskObserver(TaskObserver* observer);
  void AddDestructionObserver(DestructionObserver* observer);
  void RemoveDestructionObserver(DestructionObserver* observer);

  // The handle other threads keep to post here; it outlives the loop safely.
  std::shared_ptr<MessageLoopProxy> message_loop_proxy() const { return proxy_; }

  // The UI pump, for its message observers; null on other loop types.
  WinUIMessagePump* ui_message_pump() const;

 protected:
  // MessagePump::Delegate
  bool DoWork() override;
  bool DoDelayedWork(int64_t* next_run_time) override;
  bool DoIdleWork() override;
  bool IsInOsModalLoop() const override { return os_modal_loop_; }

 private:
  void AddToIncomingQueue(QueuedTask task);
  void ReloadWorkQueue();
  void AddToDelayedWorkQueue(QueuedTask task);
  bool DeferOrRunTask(QueuedTask task);
  void RunTask(QueuedTask task);
  bool DeletePendingTasks();
  static int64_t RunTimeAfter(int64_t delay_us);

  const Type type_;
  std::shared_ptr<MessagePump> pump_;
  LoopRunFrame* run_frame_ = nullptr;
  bool os_modal_loop_ = false;
  bool nestable_tasks_allowed_ = true;

  // The only state other threads touch.
  Lock incoming_lock_;
  std::deque<QueuedTask> incoming_queue_;

  std::deque<QueuedTask> work_queue_;
  std::deque<QueuedTask> deferred_non_nestable_queue_;
  // A binary heap; see the comparison in the implementation.
  std::vector<QueuedTask> delayed_work_queue_;
  int next_sequence_num_ = 0;
  int64_t recent_time_ = 0;

  std::vector<TaskObserver*> task_observers_;
  std::vector<DestructionObserver*> destruction_observers_;

  std::shared_ptr<MessageLoopProxy> proxy_;
};

// Lets a task that runs a nested loop have tasks run inside it; restores the old setting.
class ScopedNestableTaskAllower {
 public:
  explicit ScopedNestableTaskAllower(MessageLoop* loop)
      : loop_(loop), old_state_(loop->NestableTasksAllowed()) {
    loop_->SetNestableTasksAllowed(true);
  }
  ~ScopedNestableTaskAllower() { loop_->SetNestableTasksAllowed(old_state_); }
  ScopedNestableTaskAllower(const ScopedNestableTaskAllower&) = delete;
  ScopedNestableTaskAllower& operator=(const ScopedNestableTaskAllower&) = delete;

 private:
  MessageLoop* loop_;
  bool old_state_;
};

}  // namespace nbase
