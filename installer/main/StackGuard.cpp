// The stack protector's guard value and its failure handlers, defined by the program itself.
#include <windows.h>
#include <ntsecapi.h>

#include <cstdint>

// The runtime's own version asks a CryptoAPI provider for the value in a constructor, which
// loads the cryptographic libraries before the window can show; the system's generator behind
// RtlGenRandom needs none of them. The clock and process values are mixed in as the system's
// own compilers do, in case the generator is unavailable.
extern "C" {

uintptr_t __stack_chk_guard = 0x2ba53a17;

// Stack or buffer contents are not to be trusted any more: nothing else runs, not even the
// log, and the exit code tells what happened, as the system's own check does.
[[noreturn]] void __stack_chk_fail() {
  ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}
[[noreturn]] void __stack_chk_fail_local() {
  __stack_chk_fail();
}
[[noreturn]] void __chk_fail() {
  __stack_chk_fail();
}

}  // extern "C"

namespace {

// Runs before every other constructor, and is itself unprotected: no protected frame is live
// while the value changes.
__attribute__((constructor(101), no_stack_protector)) void SetStackGuard() {
  uintptr_t value = 0;
  if (!RtlGenRandom(&value, sizeof(value))) value = 0;
  FILETIME time = {};
  ::GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter = {};
  ::QueryPerformanceCounter(&counter);
  value ^= time.dwLowDateTime ^ time.dwHighDateTime ^ ::GetCurrentProcessId() ^
           (static_cast<uintptr_t>(::GetCurrentThreadId()) << 16) ^ ::GetTickCount() ^
           counter.LowPart ^ counter.HighPart ^ reinterpret_cast<uintptr_t>(&value);
  // A zero byte first stops string copies from writing the guard they overran with.
  __stack_chk_guard = value & ~static_cast<uintptr_t>(0xFF);
}

}  // namespace
