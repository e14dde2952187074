// Reports installation events to the measurement-protocol collection endpoint.
#pragma once

#include <windows.h>

#include <string>

#include "base/ConditionVariable.h"
#include "base/Lock.h"
#include "base/StringTable.h"

// One process-wide reporter. Init and Configure run on the UI thread before the first
// SendEvent; each event is then sent on a detached thread of its own that only reads the
// configuration, which is why the reporter is never destroyed. The machine identifier is read
// on a detached thread of its own that Init starts; the client id is guarded by its lock.
class CAnalytics {
 public:
  static CAnalytics& Instance();

  // Stores category and event name and returns at once; the client id is picked on a thread of
  // its own: a digest (ClientIdFor) of the installation's identifier under the category as the
  // product's name, else of the disk serial number, else "6058". Reading the serial number
  // starts a system tool, which must not hold up the window's first paint.
  void Init(const std::string& category, const std::string& name);
  // Replaces the built-in endpoint, measurement id and api secret where a value is not empty.
  void Configure(const std::string& endpoint, const std::string& measurement_id,
                 const std::string& api_secret);
  // The same from the product table's GA_ENDPOINT, GA_MEASUREMENT_ID and GA_API_SECRET, so a
  // product's analytics property is configuration rather than code.
  void ConfigureFromProductTable(const nbase::StringTable& product);
  // Fixes the client id; an identifier still being read is then discarded.
  void SetClientId(const std::string& client_id);
  // Waits at most `timeout_ms` for the client id; true when it is known.
  bool WaitForClientId(DWORD timeout_ms);

  // Returns at once; the event goes out on its own thread. Failures are not reported.
  void SendEvent(const std::string& label, const std::string& suffix);

  // Waits until no event is in flight or `timeout_ms` has passed; true when none is left.
  // Called once at shutdown so the last events are not cut off by the process ending.
  bool WaitForPendingEvents(DWORD timeout_ms);

  // The request's URL and body for one event, as sent.
  std::string RequestUrl() const;
  std::string RequestBody(const std::string& label, const std::string& suffix) const;

  std::string client_id() const;

 private:
  CAnalytics();
  ~CAnalytics() = delete;

  void ReadClientId(unsigned generation);
  void Send(const std::string& label, const std::string& suffix);
  void EventDone();

  std::string category_;
  std::string name_;
  std::string endpoint_;
  std::string measurement_id_;
  std::string api_secret_;
  mutable nbase::Lock client_id_lock_;
  nbase::ConditionVariable client_id_known_;
  std::string client_id_;
  bool client_id_ready_ = true;
  // Bumped by each Init and SetClientId, so only the latest reading may set the id.
  unsigned client_id_generation_ = 0;

  // Events started and not yet finished; the shutdown wait watches it reach zero.
  nbase::Lock in_flight_lock_;
  nbase::ConditionVariable idle_;
  int in_flight_ = 0;
};

// Ends the process with `exit_code` once no event is in flight or `wait_ms` has passed. The
// system stops the senders still running before any of the process is torn down; returning
// from the entry instead runs the static destructors and the runtime's teardown while a sender
// may still be failing its request and unwinding an exception through what is being destroyed,
// which ends the process with an abort instead of its own code.
[[noreturn]] void EndProcessAfterEvents(UINT exit_code, DWORD wait_ms);

// Quotes a value for a JSON string: quote, backslash and control characters are escaped.
std::string JsonEscape(const std::string& value);
