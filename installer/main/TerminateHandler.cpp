// The program's own last-resort handler for an exception nothing caught.
#include <windows.h>

#include <cstdlib>

namespace __gnu_cxx {

// Replaces the runtime's verbose handler, which prints the exception's type by name and so
// pulls the whole C++ demangler into the image. Nothing is lost: every thread, window and
// timer boundary already reports and stops what it catches, so reaching this is a fault the
// log shows by its absence of a clean end.
void __verbose_terminate_handler() {
  ::OutputDebugStringW(L"uncaught exception: terminating");
  std::abort();
}

}  // namespace __gnu_cxx
