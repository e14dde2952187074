// Reports installation events to the measurement-protocol collection endpoint.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "base/StringTable.h"

// One process-wide reporter. Init and Configure run on the UI thread before the first
// SendEvent; each event is then sent on a detached thread of its own that only reads the
// configuration, which is why the reporter is never destroyed.
class CAnalytics {
 public:
  static CAnalytics& Instance();

  // Stores category and event name, then picks the client id: the processor identifier, else
  // the disk serial number, else "6058".
  void Init(const std::string& category, const std::string& name);
  // Replaces the built-in endpoint, measurement id and api secret where a value is not empty.
  void Configure(const std::string& endpoint, const std::string& measurement_id,
                 const std::string& api_secret);
  // The same from the product table's GA_ENDPOINT, GA_MEASUREMENT_ID and GA_API_SECRET, so a
  // product's analytics property is configuration rather than code.
  void ConfigureFromProductTable(const nbase::StringTable& product);
  void SetClientId(const std::string& client_id) { client_id_ = client_id; }

  // Returns at once; the event goes out on its own thread. Failures are not reported.
  void SendEvent(const std::string& label, const std::string& suffix);

  // Waits until no event is in flight or `timeout_ms` has passed; true when none is left.
  // Called once at shutdown so the last events are not cut off by the process ending.
  bool WaitForPendingEvents(DWORD timeout_ms);

  // The request's URL and body for one event, as sent.
  std::string RequestUrl() const;
  std::string RequestBody(const std::string& label, const std::string& suffix) const;

  const std::string& client_id() const { return client_id_; }

 private:
  CAnalytics();
  ~CAnalytics() = delete;

  static DWORD WINAPI RunJob(void* job);
  void EventDone();

  std::string category_;
  std::string name_;
  std::string endpoint_;
  std::string measurement_id_;
  std::string api_secret_;
  std::string client_id_;

  // Events started and not yet finished; the shutdown wait watches it reach zero.
  std::mutex in_flight_lock_;
  std::condition_variable idle_;
  int in_flight_ = 0;
};

// Quotes a value for a JSON string: quote, backslash and control characters are escaped.
std::string JsonEscape(const std::string& value);
