// Analytics: identifier extraction from the tool's output, the request's exact bytes on the
// wire, and the bounded wait for events still in flight.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/Thread.h"
#include "base/UniqueResource.h"
#include "installer/analytics/Analytics.h"
#include "installer/analytics/MachineId.h"
#include "tests/installer/main/TestChild.h"

namespace {

std::string Utf16WithBom(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

TEST(MachineIdTest, ExtractsValueFromNarrowAndUtf16Output) {
  const std::string output = "ProcessorId       \r\r\nBFEBFBFF000906EA  \r\r\n\r\r\n";
  for (const std::string& bytes : {output, Utf16WithBom(output), Utf16WithBom(output).substr(2)}) {
    std::string id = "unchanged";
    ASSERT_TRUE(
        machine_id::ExtractAfterKey(machine_id::ToolOutputToNarrow(bytes), "ProcessorId", id));
    EXPECT_EQ("BFEBFBFF000906EA", id);
  }
}

TEST(MachineIdTest, KeyRulesAndLimits) {
  std::string id = "unchanged";
  // Key followed by blanks only: found, empty.
  EXPECT_TRUE(machine_id::ExtractAfterKey("SerialNumber  \r\n  \r\n", "SerialNumber", id));
  EXPECT_EQ("", id);
  // No key (an error text of the tool): not found, the identifier untouched.
  id = "unchanged";
  EXPECT_FALSE(machine_id::ExtractAfterKey("No Instance(s) Available.\r\n", "SerialNumber", id));
  EXPECT_EQ("unchanged", id);
  // Several drives: their serial numbers joined.
  EXPECT_TRUE(machine_id::ExtractAfterKey("SerialNumber\r\nAB 12\r\nCD34\r\n", "SerialNumber", id));
  EXPECT_EQ("AB12CD34", id);
  // More than 511 characters after the key: 511 kept.
  EXPECT_TRUE(
      machine_id::ExtractAfterKey("ProcessorId\n" + std::string(2000, 'x'), "ProcessorId", id));
  EXPECT_EQ(511u, id.size());
}

TEST_CHILD(silent_forever) {
  ::Sleep(INFINITE);
  return 0;
}

TEST_CHILD(print_utf16) {
  const std::string bytes = Utf16WithBom("ProcessorId  \r\nC0FFEE\r\n");
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
  return 0;
}

std::wstring ChildCommand(const wchar_t* child) {
  return L"\"" + testing_support::SelfPath() + L"\" --child " + child;
}

TEST(MachineIdTest, ChildOutputIsReadAndASilentChildIsGivenUp) {
  std::string output;
  bool started = false;
  ASSERT_TRUE(machine_id::RunCapturingOutput(
      testing_support::SelfPath(), ChildCommand(L"print_utf16"), 10000, 10000, output, started));
  std::string id;
  ASSERT_TRUE(
      machine_id::ExtractAfterKey(machine_id::ToolOutputToNarrow(output), "ProcessorId", id));
  EXPECT_EQ("C0FFEE", id);

  // Without the parent's write end closed this would block for ever.
  output = "stale";
  ASSERT_TRUE(machine_id::RunCapturingOutput(
      testing_support::SelfPath(), ChildCommand(L"silent_forever"), 300, 10000, output, started));
  EXPECT_TRUE(started);
  EXPECT_EQ("", output);

  EXPECT_FALSE(machine_id::RunCapturingOutput(L"C:\\no\\such\\tool.exe", L"tool.exe", 300, 10000,
                                              output, started));
  EXPECT_FALSE(started);
}

TEST(MachineIdTest, RealToolAndWmiAgree) {
  std::string id;
  ASSERT_TRUE(QueryMachineId(MachineIdKind::kProcessor, id));
  EXPECT_FALSE(id.empty());
  EXPECT_EQ(std::string::npos, id.find_first_of(" \r\n"));
  // The fallback for systems without the tool must give the same client id.
  std::string through_wmi;
  ASSERT_TRUE(machine_id::QueryThroughWmi(MachineIdKind::kProcessor, through_wmi));
  EXPECT_EQ(id, through_wmi);
}

bool IsUpperHex(const std::string& text) {
  return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

TEST(ClientIdTest, OneMachineOneIdThatRevealsNothing) {
  const std::string processor = "1F8BFBFF000A0671";
  const std::string id = ClientIdFor("Nolt_Clipmint", MachineIdKind::kDiskSerial, processor);
  EXPECT_EQ(32u, id.size());
  EXPECT_TRUE(IsUpperHex(id)) << id;
  EXPECT_EQ(id, ClientIdFor("Nolt_Clipmint", MachineIdKind::kDiskSerial, processor));
  EXPECT_EQ(std::string::npos, id.find(processor));
  // Any other input is another id: a neighbouring identifier, another product, another kind,
  // and pieces that only run together the same way.
  EXPECT_NE(id, ClientIdFor("Nolt_Clipmint", MachineIdKind::kDiskSerial, "1F8BFBFF000A0672"));
  EXPECT_NE(id, ClientIdFor("Nolt_Other", MachineIdKind::kDiskSerial, processor));
  EXPECT_NE(id, ClientIdFor("Nolt_Clipmint", MachineIdKind::kInstallation, processor));
  EXPECT_NE(ClientIdFor("ab", MachineIdKind::kDiskSerial, "c"),
            ClientIdFor("a", MachineIdKind::kDiskSerial, "bc"));
}

// Prints the reporter's client id, so two processes can be compared.
TEST_CHILD(print_client_id) {
  CAnalytics& reporter = CAnalytics::Instance();
  reporter.Init("Nolt_Clipmint", "Clipmint_Free_Installer");
  if (!reporter.WaitForClientId(30000)) return 1;
  std::printf("%s", reporter.client_id().c_str());
  return 0;
}

TEST(ClientIdTest, ThisMachineGetsTheSameDigestInEveryRunAndNoIdentifier) {
  std::string installation;
  ASSERT_TRUE(QueryMachineId(MachineIdKind::kInstallation, installation));
  ASSERT_FALSE(installation.empty());
  std::string processor;
  QueryMachineId(MachineIdKind::kProcessor, processor);

  std::string runs[2];
  for (std::string& run : runs) {
    bool started = false;
    ASSERT_TRUE(machine_id::RunCapturingOutput(
        testing_support::SelfPath(), ChildCommand(L"print_client_id"), 30000, 10000, run, started));
  }
  EXPECT_EQ(runs[0], runs[1]) << "the id changed between runs";
  EXPECT_EQ(ClientIdFor("Nolt_Clipmint", MachineIdKind::kInstallation, installation), runs[0]);
  EXPECT_EQ(std::string::npos, runs[0].find(installation));
  if (!processor.empty()) {
    EXPECT_EQ(std::string::npos, runs[0].find(processor));
  }
}

// A collector on 127.0.0.1 that records each request whole and answers 204, or never answers.
class Collector {
 public:
  explicit Collector(bool answer) : answer_(answer) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listener_, 16);
    int length = sizeof(address);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = nbase::StartThread("collector", [this] { Serve(); });
  }
  ~Collector() {
    ::closesocket(listener_);
    ::WaitForSingleObject(thread_.get(), 10000);
    for (SOCKET s : held_) ::closesocket(s);
    ::WSACleanup();
  }
  int port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  void Serve() {
    for (;;) {
      SOCKET client = ::accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      if (!answer_) {
        held_.push_back(client);
        continue;
      }
      std::string request = ReadRequest(client);
      {
        // Recorded before the answer: once the sender has its answer, the request must be
        // among those a test reads (under load the reader came first and missed the last).
        std::lock_guard<std::mutex> hold(lock_);
        requests_.push_back(request);
      }
      const char reply[] =
          "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      ::send(client, reply, sizeof(reply) - 1, 0);
      ::closesocket(client);
    }
  }

  static std::string ReadRequest(SOCKET client) {
    std::string request;
    char buffer[4096];
    size_t expected = std::string::npos;
    while (expected == std::string::npos || request.size() < expected) {
      const int got = ::recv(client, buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      request.append(buffer, got);
      const size_t head_end = request.find("\r\n\r\n");
      if (expected == std::string::npos && head_end != std::string::npos) {
        size_t length = 0;
        const size_t field = request.find("Content-Length: ");
        if (field != std::string::npos && field < head_end)
          length = std::stoul(request.substr(field + 16));
        expected = head_end + 4 + length;
      }
    }
    return request;
  }

  bool answer_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  nbase::UniqueHandle thread_;
  std::vector<SOCKET> held_;
  std::mutex lock_;
  std::vector<std::string> requests_;
};

std::string Body(const std::string& request) {
  const size_t head_end = request.find("\r\n\r\n");
  return head_end == std::string::npos ? std::string() : request.substr(head_end + 4);
}

TEST(AnalyticsTest, EventsArriveWithExactRequestLineAndBody) {
  Collector collector(true);
  CAnalytics& reporter = CAnalytics::Instance();
  reporter.Init("Nolt_Clipmint", "Clipmint_Free_Installer");
  reporter.SetClientId("C0FFEE");
  reporter.Configure("http://127.0.0.1:" + std::to_string(collector.port()) + "/mp/collect",
                     "G-TEST", "secret");

  reporter.SendEvent("Start_Install", "");
  reporter.SendEvent("Install_Time", "30s");
  reporter.SendEvent("Say \"hi\"", "");
  for (int i = 0; i < 5; ++i) reporter.SendEvent("Burst", std::to_string(i));
  ASSERT_TRUE(reporter.WaitForPendingEvents(30000));

  const std::vector<std::string> requests = collector.Requests();
  ASSERT_EQ(8u, requests.size());
  std::vector<std::string> bodies;
  for (const std::string& request : requests) {
    EXPECT_EQ(0u,
              request.find("POST /mp/collect?measurement_id=G-TEST&api_secret=secret HTTP/1.1\r\n"))
        << request;
    bodies.push_back(Body(request));
  }
  auto sent = [&](const std::string& body) {
    return std::find(bodies.begin(), bodies.end(), body) != bodies.end();
  };
  const std::string prefix =
      "{\"client_id\":\"C0FFEE\",\"events\":[{\"name\":\"Clipmint_Free_Installer\",\"params\":"
      "{\"event_category\":\"Nolt_Clipmint\",\"event_label\":\"";
  EXPECT_TRUE(sent(prefix + "Start_Install\"}}]}"));
  EXPECT_TRUE(sent(prefix + "Install_Time_30s\"}}]}"));
  EXPECT_TRUE(sent(prefix + "Say \\\"hi\\\"\"}}]}"));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(sent(prefix + "Burst_" + std::to_string(i) + "\"}}]}"));
}

TEST(AnalyticsTest, ProductTableOverridesOnlyWhatItSets) {
  CAnalytics& reporter = CAnalytics::Instance();
  reporter.Configure("https://collector.test/mp/collect", "G-BUILTIN", "builtin-secret");
  const std::string ini =
      "GA_MEASUREMENT_ID=G-PRODUCT\nGA_API_SECRET=\nGA_ENDPOINT = https://other.test/mp/collect\n";
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, ini.size());
  std::memcpy(::GlobalLock(block), ini.data(), ini.size());
  ::GlobalUnlock(block);
  nbase::StringTable product;
  product.LoadFromMemory(block);
  ::GlobalFree(block);
  reporter.ConfigureFromProductTable(product);
  // An empty value leaves the built-in secret in place.
  EXPECT_EQ("https://other.test/mp/collect?measurement_id=G-PRODUCT&api_secret=builtin-secret",
            reporter.RequestUrl());
}

TEST(AnalyticsTest, JsonEscapingLeavesPlainTextAlone) {
  EXPECT_EQ("Install_Completed", JsonEscape("Install_Completed"));
  EXPECT_EQ("a\\\"b\\\\c\\n\\u0001", JsonEscape("a\"b\\c\n\x01"));
}

TEST_CHILD(send_to_silent_collector) {
  auto* collector = new Collector(false);
  CAnalytics& reporter = CAnalytics::Instance();
  reporter.SetClientId("C0FFEE");
  reporter.Configure("http://127.0.0.1:" + std::to_string(collector->port()) + "/mp/collect", "",
                     "");
  reporter.SendEvent("Cancel_Install", "");
  // Still in flight when the bound runs out; the process must end all the same.
  const bool idle = reporter.WaitForPendingEvents(2000);
  // The collector drops the connection now, as a slow one gives up: the sender fails its
  // request (an exception inside the HTTP client) at the very moment the process ends. Ended
  // the way the installer's entry ends, nothing may be torn down under it.
  delete collector;
  EndProcessAfterEvents(idle ? 1 : 42, 0);
}

TEST(AnalyticsTest, SilentCollectorNeitherBlocksNorKeepsTheProcessAlive) {
  // The race was lost about one run in four; several runs give the test a fair chance.
  for (int run = 0; run < 4; ++run) {
    const auto child = testing_support::RunProgram(testing_support::SelfPath(),
                                                   L"--child send_to_silent_collector", 30000);
    ASSERT_TRUE(child.started);
    EXPECT_FALSE(child.timed_out);
    EXPECT_EQ(42u, child.exit_code) << "run " << run << " (3 is an abort)";
  }
}

TEST(AnalyticsTest, InitReturnsAtOnceAndTheIdFollows) {
  CAnalytics& reporter = CAnalytics::Instance();
  reporter.Init("Nolt_Clipmint", "Clipmint_Free_Installer");
  // Whatever the tool does, the id arrives within the tool's bound plus the bounded fallback.
  ASSERT_TRUE(reporter.WaitForClientId(30000));
  EXPECT_FALSE(reporter.client_id().empty());
  // A fixed id wins over a reading still under way.
  reporter.Init("Nolt_Clipmint", "Clipmint_Free_Installer");
  reporter.SetClientId("FIXED");
  ASSERT_TRUE(reporter.WaitForClientId(0));
  EXPECT_EQ("FIXED", reporter.client_id());
}

}  // namespace

namespace {

// The HTTPS collector started by the test run: its folder (as a Windows path) and ports.
struct HttpsCollector {
  std::wstring folder;
  int valid_port = 0;
  int expired_port = 0;
};

HttpsCollector FindHttpsCollector() {
  HttpsCollector collector;
  wchar_t build[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"INSTALLER_BUILD_DIR", build, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return collector;
  std::wstring folder = build;
  for (wchar_t& c : folder) c = c == L'/' ? L'\\' : c;
  if (!folder.empty() && folder[0] == L'\\') folder = L"Z:" + folder;
  collector.folder = folder + L"\\https-collector\\";
  FILE* ports = ::_wfopen((collector.folder + L"ports.txt").c_str(), L"r");
  if (!ports) return collector;
  char line[64];
  while (std::fgets(line, sizeof(line), ports)) {
    std::sscanf(line, "valid=%d", &collector.valid_port);
    std::sscanf(line, "expired=%d", &collector.expired_port);
  }
  std::fclose(ports);
  return collector;
}

// Every request the collector stored for `port`: request line, blank line, body.
std::vector<std::string> StoredRequests(const HttpsCollector& collector, int port) {
  std::vector<std::string> requests;
  const std::wstring pattern = collector.folder + L"requests\\" + std::to_wstring(port) + L"-*.txt";
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return requests;
  do {
    FILE* file = ::_wfopen((collector.folder + L"requests\\" + data.cFileName).c_str(), L"rb");
    if (!file) continue;
    std::string bytes;
    for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<char>(c));
    std::fclose(file);
    requests.push_back(bytes);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return requests;
}

TEST(AnalyticsHttpsTest, CollectorReceivesExactBytesAndExpiredCertificatesAreRefused) {
  const HttpsCollector collector = FindHttpsCollector();
  ASSERT_NE(0, collector.valid_port) << "the HTTPS collector fixture did not run";
  CAnalytics& reporter = CAnalytics::Instance();
  reporter.Init("Nolt_Clipmint", "Clipmint_Free_Installer");
  reporter.SetClientId("6058");

  // WinINet checks the certificate against the name, so the host is "localhost".
  reporter.Configure("https://localhost:" + std::to_string(collector.valid_port) + "/mp/collect",
                     "G-R3XW7K2QPD", "Qv7LmZt-2RbKxw9PaYcHnE");
  reporter.SendEvent("Install_Completed", "");
  reporter.SendEvent("Install_Time", "60s");
  reporter.SendEvent("Quote\"d", "");
  ASSERT_TRUE(reporter.WaitForPendingEvents(30000));

  reporter.Configure("https://localhost:" + std::to_string(collector.expired_port) + "/mp/collect",
                     "", "");
  reporter.SendEvent("Cancel_Install", "");
  ASSERT_TRUE(reporter.WaitForPendingEvents(30000));

  const std::string request_line =
      "POST /mp/collect?measurement_id=G-R3XW7K2QPD&api_secret=Qv7LmZt-2RbKxw9PaYcHnE "
      "HTTP/1.1\r\n\r\n";
  const std::string prefix =
      request_line +
      "{\"client_id\":\"6058\",\"events\":[{\"name\":\"Clipmint_Free_Installer\",\"params\":"
      "{\"event_category\":\"Nolt_Clipmint\",\"event_label\":\"";
  // Other test programs report to the same collector; only this reporter's requests count.
  auto own_requests = [&](int port) {
    std::vector<std::string> own;
    for (const std::string& request : StoredRequests(collector, port)) {
      if (request.compare(0, prefix.size(), prefix) == 0) own.push_back(request);
    }
    std::sort(own.begin(), own.end());
    return own;
  };
  const std::vector<std::string> valid = own_requests(collector.valid_port);
  std::vector<std::string> expected = {prefix + "Install_Completed\"}}]}",
                                       prefix + "Install_Time_60s\"}}]}",
                                       prefix + "Quote\\\"d\"}}]}"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, valid);
  // The API secret never goes to a server whose certificate has expired.
  EXPECT_TRUE(own_requests(collector.expired_port).empty());
}

}  // namespace
