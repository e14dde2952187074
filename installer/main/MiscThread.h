// The framework's worker thread ("Global Misc Thread") with an event-driven loop.
#pragma once

#include "base/FrameworkThread.h"

// Created, started, stopped and destroyed by MainThread on the UI thread; its own loop and
// Init/Cleanup run on the worker's OS thread.
class MiscThread : public nbase::FrameworkThread {
 public:
  MiscThread(int thread_id, const char* name);
  ~MiscThread() override;

  MiscThread(const MiscThread&) = delete;
  MiscThread& operator=(const MiscThread&) = delete;

 private:
  void Init() override;
  void Cleanup() override;

  const int thread_id_;
};
