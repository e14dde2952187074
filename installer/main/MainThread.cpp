// The application's main thread: start-up and teardown around the UI loop.
#include "installer/main/MainThread.h"

#include <windows.h>

#include "base/ThreadRegistry.h"
#include "installer/window/SetupForm.h"
#include "ui/core/GlobalManager.h"

namespace {

constexpr UINT kSkinResourceId = 133;

}  // namespace

MainThread::MainThread() : nbase::FrameworkThread("MainThread") {}

MainThread::~MainThread() = default;

void MainThread::Init() {
  nbase::ThreadRegistry::RegisterThread(kThreadUI);

  ui::GlobalManager& resources = ui::GlobalManager::Instance();
  // Without the package the resource service falls back to files beside the working folder,
  // and the window reports the layout it could not load.
  resources.OpenResZip(kSkinResourceId, L"ZIP", std::string());
  resources.Startup(L"resources\\", nullptr, true, L"themes\\default", L"lang\\English");

  setup_form_ = std::make_unique<SetupForm>();
  // Created with the style it keeps (the skin draws the title bar) and placed centered as it
  // takes its size: each later change of style or place would cost the first paint a round
  // trip to the display.
  if (!setup_form_->Create(nullptr, kSetupWindowName, setup_form_->GetStyle(), 0, true, RECT())) {
    // Nothing to show (the layout did not load and the user was told): end the loop the way a
    // closed window does, so the process still exits with 0.
    ::PostQuitMessage(0);
  } else {
    setup_form_->ShowWindow(true, true);
  }

  // Started on the loop's first turn, once the window has painted (it draws before it shows)
  // and has answered what it was sent meanwhile: nothing is handed to the worker before then,
  // a thread coming up while the window was being created made the creation take half as long
  // again, and its start would only delay the window's first answer. A worker left from an
  // earlier run of this thread would otherwise leak its OS thread.
  misc_thread_.reset();
  if (!nbase::ThreadRegistry::PostTask(kThreadUI, [this] { StartWorker(); })) StartWorker();
}

void MainThread::StartWorker() {
  if (misc_thread_) return;
  misc_thread_ = std::make_unique<MiscThread>(kThreadGlobalMisc, "Global Misc Thread");
  misc_thread_->Start();
}

void MainThread::Cleanup() {
  // The window's controls hold the resource service's images and fonts: they go first.
  setup_form_.reset();
  ui::GlobalManager::Instance().Shutdown();
  if (misc_thread_) {
    misc_thread_->Stop();
    misc_thread_.reset();
  }
  nbase::ThreadRegistry::UnregisterThread();
}
