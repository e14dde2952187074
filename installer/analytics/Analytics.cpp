// Measurement-protocol events: one POST with a small JSON body per event, on its own thread.
#include "installer/analytics/Analytics.h"

#include "base/StringUtil.h"
#include "base/Thread.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpInterface.h"
#include "installer/analytics/MachineId.h"

namespace {

constexpr char kDefaultEndpoint[] = "https://www.google-analytics.com/mp/collect";
constexpr char kDefaultMeasurementId[] = "G-R3XW7K2QPD";
constexpr char kDefaultApiSecret[] = "Qv7LmZt-2RbKxw9PaYcHnE";
constexpr char kFallbackClientId[] = "6058";
// How long the first event waits for the machine identifier before it goes out with the
// fallback; the tool itself is given 500 ms, its management-service fallback a few seconds.
constexpr DWORD kClientIdWaitMs = 5000;

}  // namespace

std::string JsonEscape(const std::string& value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '"':
        escaped += "\\\"";
        break;
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\t':
        escaped += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          escaped += nbase::StringPrintf("\\u%04x", static_cast<unsigned char>(c));
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

CAnalytics& CAnalytics::Instance() {
  // Deliberately never destroyed: detached senders may still read it while the process ends.
  static CAnalytics* instance = new CAnalytics();
  return *instance;
}

CAnalytics::CAnalytics()
    : endpoint_(kDefaultEndpoint),
      measurement_id_(kDefaultMeasurementId),
      api_secret_(kDefaultApiSecret),
      client_id_(kFallbackClientId) {}

void CAnalytics::Init(const std::string& category, const std::string& name) {
  category_ = category;
  name_ = name;
  unsigned generation = 0;
  {
    nbase::AutoLock hold(client_id_lock_);
    client_id_ready_ = false;
    generation = ++client_id_generation_;
  }
  // Detached: the reporter it writes to is never destroyed.
  if (!nbase::StartDetachedThread("machine id", [this, generation] { ReadClientId(generation); })) {
    SetClientId(kFallbackClientId);
  }
}

void CAnalytics::ReadClientId(unsigned generation) {
  // The installation's identifier tells machines apart and is there without starting a tool;
  // the disk serial number stands in where it is missing. The processor identifier is not
  // used: every processor of one model reports the same, so it tells models apart, not
  // machines. Only a digest leaves the machine, never an identifier itself.
  std::string id = kFallbackClientId;
  for (const MachineIdKind kind : {MachineIdKind::kInstallation, MachineIdKind::kDiskSerial}) {
    std::string identifier;
    if (QueryMachineId(kind, identifier) && !identifier.empty()) {
      id = ClientIdFor(category_, kind, identifier);
      break;
    }
  }
  nbase::AutoLock hold(client_id_lock_);
  if (generation != client_id_generation_) return;
  client_id_ = id;
  client_id_ready_ = true;
  client_id_known_.WakeAll();
}

void CAnalytics::SetClientId(const std::string& client_id) {
  nbase::AutoLock hold(client_id_lock_);
  ++client_id_generation_;
  client_id_ = client_id;
  client_id_ready_ = true;
  client_id_known_.WakeAll();
}

bool CAnalytics::WaitForClientId(DWORD timeout_ms) {
  nbase::AutoLock hold(client_id_lock_);
  return client_id_known_.WaitFor(client_id_lock_, timeout_ms, [this] { return client_id_ready_; });
}

std::string CAnalytics::client_id() const {
  nbase::AutoLock hold(client_id_lock_);
  return client_id_;
}

void CAnalytics::Configure(const std::string& endpoint, const std::string& measurement_id,
                           const std::string& api_secret) {
  if (!endpoint.empty()) endpoint_ = endpoint;
  if (!measurement_id.empty()) measurement_id_ = measurement_id;
  if (!api_secret.empty()) api_secret_ = api_secret;
}

void CAnalytics::ConfigureFromProductTable(const nbase::StringTable& product) {
  Configure(nbase::UTF16ToUTF8(product.GetValue(L"GA_ENDPOINT")),
            nbase::UTF16ToUTF8(product.GetValue(L"GA_MEASUREMENT_ID")),
            nbase::UTF16ToUTF8(product.GetValue(L"GA_API_SECRET")));
}

std::string CAnalytics::RequestUrl() const {
  return nbase::StringPrintf("%s?measurement_id=%s&api_secret=%s", endpoint_.c_str(),
                             measurement_id_.c_str(), api_secret_.c_str());
}

std::string CAnalytics::RequestBody(const std::string& label, const std::string& suffix) const {
  const std::string event_label =
      suffix.empty() ? label : nbase::StringPrintf("%s_%s", label.c_str(), suffix.c_str());
  std::string body = "{";
  body += nbase::StringPrintf("\"client_id\":\"%s\",", JsonEscape(client_id()).c_str());
  body += "\"events\":[";
  body += "{";
  body += nbase::StringPrintf("\"name\":\"%s\",", JsonEscape(name_).c_str());
  body += "\"params\":{";
  body += nbase::StringPrintf("\"event_category\":\"%s\",", JsonEscape(category_).c_str());
  body += nbase::StringPrintf("\"event_label\":\"%s\"}", JsonEscape(event_label).c_str());
  body += "}";
  body += "]}";
  return body;
}

void CAnalytics::SendEvent(const std::string& label, const std::string& suffix) {
  {
    nbase::AutoLock hold(in_flight_lock_);
    ++in_flight_;
  }
  if (!nbase::StartDetachedThread("analytics event", [this, label, suffix] {
        // Counted as done however the send ends, even by an exception the thread's guard
        // catches: the entry's wait for events in flight must not run to its bound for nothing.
        struct Done {
          CAnalytics* reporter;
          ~Done() { reporter->EventDone(); }
        } done{this};
        Send(label, suffix);
      })) {
    EventDone();
  }
}

void CAnalytics::Send(const std::string& label, const std::string& suffix) {
  // The first events of a run may be ready before the machine identifier; they wait a little
  // for it here, off the UI thread, and otherwise go out with the fallback.
  WaitForClientId(kClientIdWaitMs);
  nbase::ComPtr<IHttpBase> client;
  if (CreateHttpClient(client.put(), HttpClientWininet) && client) {
    static_cast<IWininetHttp*>(client.get())
        ->ExchangeA(RequestUrl().c_str(), 1, RequestBody(label, suffix).c_str(), nullptr);
  }
}

void CAnalytics::EventDone() {
  nbase::AutoLock hold(in_flight_lock_);
  if (--in_flight_ == 0) idle_.WakeAll();
}

bool CAnalytics::WaitForPendingEvents(DWORD timeout_ms) {
  nbase::AutoLock hold(in_flight_lock_);
  return idle_.WaitFor(in_flight_lock_, timeout_ms, [this] { return in_flight_ == 0; });
}

void EndProcessAfterEvents(UINT exit_code, DWORD wait_ms) {
  CAnalytics::Instance().WaitForPendingEvents(wait_ms);
  // Ends every other thread first, then the process: nothing is torn down under a sender.
  ::ExitProcess(exit_code);
}
