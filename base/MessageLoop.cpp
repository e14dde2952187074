// Task queues, run frames and the delegate side of the pumps.
#include "base/MessageLoop.h"

#include <algorithm>
#include <utility>

#include "base/DefaultMessagePump.h"
#include "base/ExceptionPolicy.h"
#include "base/MessageLoopProxy.h"
#include "base/ThreadLocalSlot.h"
#include "base/TickClock.h"
#include "base/WinUIMessagePump.h"

namespace nbase {
namespace {

ThreadLocalSlot g_current_loop;

// Destroying tasks may post new ones (a task's bound objects posting their own cleanup);
// each pass deletes what the previous one produced, but a task that always reposts itself
// must not keep the loop from dying.
const int kMaxDestructionPasses = 100;

// Heap order: true when `a` should run after `b`, so the earliest run time (and among equal
// times the earliest posted) is on top. Sequence numbers are compared by difference so the
// order survives their wrap-around.
bool RunsLater(const QueuedTask& a, const QueuedTask& b) {
  if (a.delayed_run_time != b.delayed_run_time) return a.delayed_run_time > b.delayed_run_time;
  return static_cast<int>(static_cast<unsigned>(a.sequence_num) -
                          static_cast<unsigned>(b.sequence_num)) > 0;
}

std::shared_ptr<MessagePump> CreatePump(MessageLoop::Type type) {
  if (type == MessageLoop::kUIMessageLoop) return std::make_shared<WinUIMessagePump>();
  return std::make_shared<DefaultMessagePump>();
}

}  // namespace

MessageLoop::MessageLoop(Type type)
    : type_(type), pump_(CreatePump(type)), proxy_(MessageLoopProxy::Create(this)) {
  g_current_loop.Set(this);
}

MessageLoop::~MessageLoop() {
  for (int pass = 0; pass < kMaxDestructionPasses; ++pass) {
    {
      AutoLock hold(incoming_lock_);
      for (QueuedTask& task : incoming_queue_) work_queue_.push_back(std::move(task));
      incoming_queue_.clear();
    }
    if (!DeletePendingTasks()) break;
  }
  const std::vector<DestructionObserver*> observers = destruction_observers_;
  for (DestructionObserver* observer : observers) observer->WillDestroyCurrentMessageLoop();
  // From here on posts through the proxy fail instead of reaching a dying loop.
  proxy_->WillDestroyCurrentMessageLoop();
  if (g_current_loop.Get() == this) g_current_loop.Set(nullptr);
}

MessageLoop* MessageLoop::current() {
  return static_cast<MessageLoop*>(g_current_loop.Get());
}

int64_t MessageLoop::RunTimeAfter(int64_t delay_us) {
  const int64_t run_time = TickClock::NowMicroseconds() + std::max<int64_t>(delay_us, 0);
  return run_time != 0 ? run_time : 1;  // 0 would mean "not delayed".
}

void MessageLoop::PostTask(std::function<void()> task) {
  AddToIncomingQueue(QueuedTask(std::move(task), 0, true));
}

void MessageLoop::PostNonNestableTask(std::function<void()> task) {
  AddToIncomingQueue(QueuedTask(std::move(task), 0, false));
}

void MessageLoop::PostDelayedTask(std::function<void()> task, int64_t delay_us) {
  AddToIncomingQueue(QueuedTask(std::move(task), RunTimeAfter(delay_us), true));
}

void MessageLoop::PostNonNestableDelayedTask(std::function<void()> task, int64_t delay_us) {
  AddToIncomingQueue(QueuedTask(std::move(task), RunTimeAfter(delay_us), false));
}

void MessageLoop::AddToIncomingQueue(QueuedTask task) {
  std::shared_ptr<MessagePump> pump;
  {
    AutoLock hold(incoming_lock_);
    const bool was_empty = incoming_queue_.empty();
    incoming_queue_.push_back(std::move(task));
    // A non-empty queue means the pump was woken already and has not drained it yet.
    if (!was_empty) return;
    pump = pump_;
  }
  // Woken outside the lock: the loop thread may be about to take it to reload.
  pump->ScheduleWork();
}

void MessageLoop::Run(Dispatcher* dispatcher) {
  LoopRunFrame frame;
  frame.previous = run_frame_;
  frame.run_depth = run_frame_ ? run_frame_->run_depth + 1 : 1;
  frame.dispatcher = dispatcher;
  run_frame_ = &frame;
  if (dispatcher && type_ == kUIMessageLoop) {
    static_cast<WinUIMessagePump*>(pump_.get())->RunWithDispatcher(this, dispatcher);
  } else {
    pump_->Run(this);
  }
  run_frame_ = frame.previous;
}

void MessageLoop::Quit() {
  if (run_frame_) run_frame_->quit_received = true;
}

void MessageLoop::SetNestableTasksAllowed(bool allowed) {
  if (nestable_tasks_allowed_ == allowed) return;
  nestable_tasks_allowed_ = allowed;
  // Tasks that arrived meanwhile were refused; wake the pump so they are looked at again.
  if (allowed) pump_->ScheduleWork();
}

void MessageLoop::AddTaskObserver(TaskObserver* observer) {
  task_observers_.push_back(observer);
}

void MessageLoop::RemoveTaskObserver(TaskObserver* observer) {
  task_observers_.erase(std::remove(task_observers_.begin(), task_observers_.end(), observer),
                        task_observers_.end());
}

void MessageLoop::AddDestructionObserver(DestructionObserver* observer) {
  destruction_observers_.push_back(observer);
}

void MessageLoop::RemoveDestructionObserver(DestructionObserver* observer) {
  destruction_observers_.erase(
      std::remove(destruction_observers_.begin(), destruction_observers_.end(), observer),
      destruction_observers_.end());
}

WinUIMessagePump* MessageLoop::ui_message_pump() const {
  return type_ == kUIMessageLoop ? static_cast<WinUIMessagePump*>(pump_.get()) : nullptr;
}

void MessageLoop::ReloadWorkQueue() {
  if (!work_queue_.empty()) return;
  AutoLock hold(incoming_lock_);
  if (incoming_queue_.empty()) return;
  incoming_queue_.swap(work_queue_);
}

void MessageLoop::AddToDelayedWorkQueue(QueuedTask task) {
  task.sequence_num = next_sequence_num_++;
  delayed_work_queue_.push_back(std::move(task));
  std::push_heap(delayed_work_queue_.begin(), delayed_work_queue_.end(), RunsLater);
}

bool MessageLoop::DoWork() {
  if (!nestable_tasks_allowed_) return false;
  ReloadWorkQueue();
  while (!work_queue_.empty()) {
    QueuedTask task = std::move(work_queue_.front());
    work_queue_.pop_front();
    if (task.delayed_run_time != 0) {
      const int sequence_num = next_sequence_num_;
      AddToDelayedWorkQueue(std::move(task));
      // Only a new earliest task changes when the pump must wake.
      if (delayed_work_queue_.front().sequence_num == sequence_num) {
        pump_->ScheduleDelayedWork(delayed_work_queue_.front().delayed_run_time);
      }
    } else if (DeferOrRunTask(std::move(task))) {
      return true;
    }
    ReloadWorkQueue();
  }
  return false;
}

bool MessageLoop::DoDelayedWork(int64_t* next_run_time) {
  if (!nestable_tasks_allowed_ || delayed_work_queue_.empty()) {
    recent_time_ = *next_run_time = 0;
    return false;
  }
  // The clock is read only when the cached time says the top is not due, which keeps a
  // burst of due tasks from reading it once per task.
  const int64_t top_run_time = delayed_work_queue_.front().delayed_run_time;
  if (top_run_time > recent_time_) {
    recent_time_ = TickClock::NowMicroseconds();
    if (top_run_time > recent_time_) {
      *next_run_time = top_run_time;
      return false;
    }
  }
  std::pop_heap(delayed_work_queue_.begin(), delayed_work_queue_.end(), RunsLater);
  QueuedTask task = std::move(delayed_work_queue_.back());
  delayed_work_queue_.pop_back();
  if (!delayed_work_queue_.empty()) *next_run_time = delayed_work_queue_.front().delayed_run_time;
  return DeferOrRunTask(std::move(task));
}

bool MessageLoop::DoIdleWork() {
  if (run_frame_ && run_frame_->run_depth == 1 && !deferred_non_nestable_queue_.empty()) {
    QueuedTask task = std::move(deferred_non_nestable_queue_.front());
    deferred_non_nestable_queue_.pop_front();
    RunTask(std::move(task));
    return true;
  }
  if (run_frame_ && run_frame_->quit_received) pump_->Quit();
  return false;
}

bool MessageLoop::DeferOrRunTask(QueuedTask task) {
  if (task.nestable || (run_frame_ && run_frame_->run_depth == 1)) {
    RunTask(std::move(task));
    return true;
  }
  deferred_non_nestable_queue_.push_back(std::move(task));
  return false;
}

void MessageLoop::RunTask(QueuedTask task) {
  // A task that runs a nested loop must not have other tasks run under it by accident.
  nestable_tasks_allowed_ = false;
  if (!task_observers_.empty()) {
    const std::vector<TaskObserver*> observers = task_observers_;
    for (TaskObserver* observer : observers) observer->WillProcessTask(task);
  }
  if (task.task) RunGuarded("posted task", task.task);
  if (!task_observers_.empty()) {
    const std::vector<TaskObserver*> observers = task_observers_;
    for (TaskObserver* observer : observers) observer->DidProcessTask(task);
  }
  nestable_tasks_allowed_ = true;
}

bool MessageLoop::DeletePendingTasks() {
  // Moved out first: the tasks' destructors may post, which must not touch a container that
  // is being cleared.
  std::deque<QueuedTask> work;
  work.swap(work_queue_);
  std::deque<QueuedTask> deferred;
  deferred.swap(deferred_non_nestable_queue_);
  std::vector<QueuedTask> delayed;
  delayed.swap(delayed_work_queue_);
  const bool did_work = !work.empty() || !deferred.empty() || !delayed.empty();
  work.clear();
  deferred.clear();
  delayed.clear();
  return did_work;
}

}  // namespace nbase
