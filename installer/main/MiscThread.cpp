// The framework's worker thread: registers itself for its lifetime.
#include "installer/main/MiscThread.h"

#include "base/ThreadRegistry.h"

MiscThread::MiscThread(int thread_id, const char* name)
    : nbase::FrameworkThread(name), thread_id_(thread_id) {}

MiscThread::~MiscThread() {
  Stop();
}

void MiscThread::Init() {
  nbase::ThreadRegistry::RegisterThread(thread_id_);
}

void MiscThread::Cleanup() {
  nbase::ThreadRegistry::UnregisterThread();
}
