// The application's main thread: runs the UI loop on the entry's thread and owns the worker.
#pragma once

#include <memory>

#include "base/FrameworkThread.h"
#include "installer/main/MiscThread.h"

class SetupForm;

// Thread identifiers under which the program's two framework threads register.
enum ThreadId : int {
  kThreadUI = 0,
  kThreadGlobalMisc = 1,
};

// Owned by the entry; every member is touched only on the UI thread.
class MainThread : public nbase::FrameworkThread {
 public:
  MainThread();
  ~MainThread() override;

  MainThread(const MainThread&) = delete;
  MainThread& operator=(const MainThread&) = delete;

 private:
  void Init() override;
  void Cleanup() override;
  void StartWorker();

  std::unique_ptr<MiscThread> misc_thread_;
  std::unique_ptr<SetupForm> setup_form_;
};
