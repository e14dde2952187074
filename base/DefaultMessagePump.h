// The pump of worker loops: no window messages, it sleeps on one auto-reset event.
#pragma once

#include "base/MessagePump.h"
#include "base/UniqueResource.h"

namespace nbase {

class DefaultMessagePump : public MessagePump {
 public:
  DefaultMessagePump();
  ~DefaultMessagePump() override = default;

  void Run(Delegate* delegate) override;
  void Quit() override { should_quit_ = true; }
  void ScheduleWork() override;
  void ScheduleDelayedWork(int64_t run_time) override { delayed_work_time_ = run_time; }

 private:
  void Wait();

  UniqueHandle event_;
  // Both only touched on the pump's own thread.
  bool should_quit_ = false;
  int64_t delayed_work_time_ = 0;
};

}  // namespace nbase
