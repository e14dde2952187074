// Per-thread records of framework threads and the process-wide identifier → thread map.
#pragma once

#include <functional>
#include <memory>

namespace nbase {

class FrameworkThread;
class MessageLoopProxy;

// Owned by its framework thread's body and reachable through a process-wide TLS slot.
struct ThreadLocalRecord {
  FrameworkThread* thread = nullptr;
  // Set when the loop ended because the thread was stopped, not on its own.
  bool quit_properly = false;
  int registration_count = 0;
  int identifier = -1;
  void* custom_data = nullptr;

  // The calling thread's record, or null on threads that are not framework threads.
  static ThreadLocalRecord* Current();
  static void SetCurrent(ThreadLocalRecord* record);
};

// Lets code reach a well-known thread (the UI thread, the worker) by a small number instead
// of passing thread objects around.
class ThreadRegistry {
 public:
  // Registers the calling framework thread under `identifier` (≥ 0). Registering the same
  // identifier again on the same thread only counts up. False if another thread holds the
  // identifier, the calling thread holds a different one, or it is not a framework thread.
  static bool RegisterThread(int identifier);
  // Counts one registration down; at zero the identifier is released. False if the calling
  // thread had nothing registered.
  static bool UnregisterThread();

  // The identifier of the calling thread, or -1.
  static int CurrentThreadIdentifier();
  // The thread registered under `identifier`, or null. The pointer is only safe to use while
  // that thread is known to stay registered.
  static FrameworkThread* ThreadByIdentifier(int identifier);
  // The posting handle of the thread registered under `identifier`, or null.
  static std::shared_ptr<MessageLoopProxy> GetMessageLoopProxy(int identifier);
  // Posts to the thread registered under `identifier`; false if there is none or its loop is
  // gone.
  static bool PostTask(int identifier, std::function<void()> task);
};

}  // namespace nbase
