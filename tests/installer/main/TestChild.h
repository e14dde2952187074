// Lets this test program act as its own child process ("--child NAME ARGS..."), and start one.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/UniqueResource.h"

namespace testing_support {

using ChildMain = int (*)(int argc, char** argv);

// Registers a child entry under a name at static-initialisation time.
struct ChildRegistrar {
  ChildRegistrar(const char* name, ChildMain entry);
};

// Result of running a program to its end.
struct ChildResult {
  bool started = false;
  bool timed_out = false;
  DWORD exit_code = 0;
  DWORD start_error = ERROR_SUCCESS;  // why it did not start, as the system said
};

// A program started and left running; its handles close with it, the program goes on.
struct StartedProgram {
  nbase::UniqueHandle process;
  nbase::UniqueHandle thread;
  DWORD process_id = 0;
  DWORD start_error = ERROR_SUCCESS;
  explicit operator bool() const { return process.valid(); }
};

// Starts `program` with `arguments` (already quoted as needed); empty when it could not start.
StartedProgram StartProgram(const std::wstring& program, const std::wstring& arguments);

// Called about every 100 ms while the program runs, with its process id, to drive it.
using WhileRunning = std::function<void(DWORD process_id)>;

// Runs `program` with `arguments` (already quoted as needed) and waits at most `timeout_ms`;
// a program still running then is terminated and reported as timed out, so no test hangs.
ChildResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                       DWORD timeout_ms = 60000, const WhileRunning& while_running = {});

// Path of this running test program.
std::wstring SelfPath();

}  // namespace testing_support

#define TEST_CHILD(name)                                                                     \
  static int name##_child_main(int argc, char** argv);                                       \
  static ::testing_support::ChildRegistrar name##_child_registrar(#name, name##_child_main); \
  static int name##_child_main([[maybe_unused]] int argc, [[maybe_unused]] char** argv)
