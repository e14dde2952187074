// The thread record slot and the identifier map with its lock.
#include "base/ThreadRegistry.h"

#include <map>

#include "base/FrameworkThread.h"
#include "base/Lock.h"
#include "base/MessageLoopProxy.h"
#include "base/ThreadLocalSlot.h"

namespace nbase {
namespace {

ThreadLocalSlot g_thread_record;

struct Registry {
  Lock lock;
  std::map<int, FrameworkThread*> threads;
};

Registry& GetRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

ThreadLocalRecord* ThreadLocalRecord::Current() {
  return static_cast<ThreadLocalRecord*>(g_thread_record.Get());
}

void ThreadLocalRecord::SetCurrent(ThreadLocalRecord* record) {
  g_thread_record.Set(record);
}

bool ThreadRegistry::RegisterThread(int identifier) {
  ThreadLocalRecord* record = ThreadLocalRecord::Current();
  if (identifier < 0 || !record || !record->thread) return false;
  // One identifier per thread: a second one would be left behind in the map, pointing at a
  // dead thread, when the first is unregistered.
  if (record->identifier >= 0 && record->identifier != identifier) return false;
  Registry& registry = GetRegistry();
  AutoLock hold(registry.lock);
  const auto inserted = registry.threads.emplace(identifier, record->thread);
  if (!inserted.second && inserted.first->second != record->thread) return false;
  ++record->registration_count;
  record->identifier = identifier;
  return true;
}

bool ThreadRegistry::UnregisterThread() {
  ThreadLocalRecord* record = ThreadLocalRecord::Current();
  if (!record || record->registration_count <= 0) return false;
  if (--record->registration_count == 0) {
    Registry& registry = GetRegistry();
    AutoLock hold(registry.lock);
    registry.threads.erase(record->identifier);
    record->identifier = -1;
  }
  return true;
}

int ThreadRegistry::CurrentThreadIdentifier() {
  ThreadLocalRecord* record = ThreadLocalRecord::Current();
  return record ? record->identifier : -1;
}

FrameworkThread* ThreadRegistry::ThreadByIdentifier(int identifier) {
  Registry& registry = GetRegistry();
  AutoLock hold(registry.lock);
  const auto found = registry.threads.find(identifier);
  return found == registry.threads.end() ? nullptr : found->second;
}

std::shared_ptr<MessageLoopProxy> ThreadRegistry::GetMessageLoopProxy(int identifier) {
  Registry& registry = GetRegistry();
  // The lock keeps the thread from unregistering (and so from finishing) while its proxy is
  // copied out; the proxy itself is safe to use afterwards.
  AutoLock hold(registry.lock);
  const auto found = registry.threads.find(identifier);
  return found == registry.threads.end() ? nullptr : found->second->message_loop_proxy();
}

bool ThreadRegistry::PostTask(int identifier, std::function<void()> task) {
  const std::shared_ptr<MessageLoopProxy> proxy = GetMessageLoopProxy(identifier);
  return proxy && proxy->PostTask(std::move(task));
}

}  // namespace nbase
