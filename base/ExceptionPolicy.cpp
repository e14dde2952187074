// The exception reporter's slot.
#include "base/ExceptionPolicy.h"

#include <atomic>

namespace nbase {
namespace {

std::atomic<ExceptionReporter> g_reporter{nullptr};

}  // namespace

void SetExceptionReporter(ExceptionReporter reporter) noexcept {
  g_reporter.store(reporter, std::memory_order_release);
}

void ReportException(const char* where, const char* what) noexcept {
  ExceptionReporter reporter = g_reporter.load(std::memory_order_acquire);
  if (!reporter) return;
  try {
    reporter(where, what);
  } catch (...) {
    // A reporter that fails has nowhere left to report to.
  }
}

}  // namespace nbase
