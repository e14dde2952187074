// The application's main thread: start-up and teardown around the UI loop.
#include "installer/main/MainThread.h"

#include <windows.h>

#include "base/MessageLoop.h"
#include "base/MessageLoopProxy.h"
#include "base/ThreadRegistry.h"

MainThread::MainThread() : nbase::FrameworkThread("MainThread") {}

MainThread::~MainThread() = default;

void MainThread::Init() {
  nbase::ThreadRegistry::RegisterThread(kThreadUI);

  // A worker left from an earlier run of this thread would otherwise leak its OS thread.
  misc_thread_.reset();
  misc_thread_ = std::make_unique<MiscThread>(kThreadGlobalMisc, "Global Misc Thread");
  misc_thread_->Start();

  // The skin archive, the UI resource service and the setup window attach here.
  QuitWithoutWindow();
}

void MainThread::Cleanup() {
  if (misc_thread_) {
    misc_thread_->Stop();
    misc_thread_.reset();
  }
  nbase::ThreadRegistry::UnregisterThread();
}

void MainThread::QuitWithoutWindow() {
  nbase::MessageLoop* misc_loop = misc_thread_ ? misc_thread_->message_loop() : nullptr;
  auto ui_proxy = nbase::MessageLoop::current()->message_loop_proxy();
  auto quit = ToWeakCallback([] { ::PostQuitMessage(0); });
  if (!misc_loop) {
    ui_proxy->PostTask(quit);
    return;
  }
  misc_loop->message_loop_proxy()->PostTask([ui_proxy, quit] { ui_proxy->PostTask(quit); });
}
