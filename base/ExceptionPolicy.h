// The one answer to an exception that reaches a thread, window procedure, timer or posted task.
#pragma once

#include <exception>
#include <utility>

namespace nbase {

// Receives what was caught: where it was caught (a fixed description of the entry point) and
// the exception's message, or nullptr when it carried none. Called on the thread that caught it.
using ExceptionReporter = void (*)(const char* where, const char* what);

// Points the policy at a reporter (the frame points it at its log); nullptr reports nothing.
// Safe from any thread.
void SetExceptionReporter(ExceptionReporter reporter) noexcept;

// Used by RunGuarded; reporting never throws, whatever the reporter does.
void ReportException(const char* where, const char* what) noexcept;

// Runs `body` and keeps any exception from leaving it: nothing may unwind into the system's
// dispatcher, a thread's start routine or the message loop, where it would end the process
// without a word in the log. False when an exception was caught (and reported); the caller
// then answers with its own failure value.
template <typename Body>
bool RunGuarded(const char* where, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (const std::exception& error) {
    ReportException(where, error.what());
  } catch (...) {
    ReportException(where, nullptr);
  }
  return false;
}

}  // namespace nbase
