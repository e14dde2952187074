// The pump of UI loops: interleaves window messages with task work on one thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <vector>

#include "base/MessagePump.h"

namespace nbase {

// Work is signalled by posting one private message to a message-only window, so tasks also
// run while a system modal loop (menus, dragging, message boxes) owns the message queue.
// Delayed work rides on a window timer of the same window.
class WinUIMessagePump : public MessagePump {
 public:
  // Sees every window message the pump itself dispatches.
  class UIObserver {
   public:
    virtual ~UIObserver() = default;
    virtual void WillProcessMessage(const MSG& msg) = 0;
    virtual void DidProcessMessage(const MSG& msg) = 0;
  };

  // Must be created and destroyed on the thread it pumps.
  WinUIMessagePump();
  ~WinUIMessagePump() override;

  void Run(Delegate* delegate) override { RunWithDispatcher(delegate, nullptr); }
  // With a dispatcher, window messages go to it instead of TranslateMessage/DispatchMessage.
  void RunWithDispatcher(Delegate* delegate, Dispatcher* dispatcher);
  void Quit() override;
  void ScheduleWork() override;
  void ScheduleDelayedWork(int64_t run_time) override;

  void AddObserver(UIObserver* observer);
  void RemoveObserver(UIObserver* observer);

  HWND message_window() const { return message_window_; }

 private:
  struct RunState {
    Delegate* delegate = nullptr;
    Dispatcher* dispatcher = nullptr;
    bool should_quit = false;
    int run_depth = 0;
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept;
  void HandleWorkMessage();
  void HandleTimerMessage();
  void DoRunLoop();
  void WaitForWork();
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& msg);
  bool ProcessPumpReplacementMessage();
  DWORD MillisecondsUntilDelayedWork() const;

  HWND message_window_ = nullptr;
  // 1 while a have-work message is in the queue, so at most one is ever outstanding.
  std::atomic<long> have_work_{0};
  int64_t delayed_work_time_ = 0;
  RunState* state_ = nullptr;
  std::vector<UIObserver*> observers_;
};

}  // namespace nbase
