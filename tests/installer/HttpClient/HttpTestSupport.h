// Shared helpers of the HTTP tests: the servers started for the test run, output folders, and
// a window that records the downloader's messages.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/UniqueResource.h"
#include "installer/HttpClient/HttpDownloader.h"

struct TestServers {
  int nginx = 0;
  int fault = 0;
  int proxy = 0;      // forwards to loopback servers, logging each request
  int proxy407 = 0;   // answers every request with 407
  bool ipv6 = false;  // nginx also listens on [::1]
  // Forward like `proxy` once a request signs in as alice / "wonder land!" (Basic, Digest).
  int proxy_basic = 0;
  int proxy_digest = 0;
  std::map<std::string, std::string> sha256;  // file name -> hex digest
  std::wstring www;                           // served files, as a Windows path ending in "\\"
  std::wstring state;                         // the fixture's folder, ending in "\\"
};

// Read once from the file the server fixture writes into the build folder; ports stay 0
// when the fixture did not run.
const TestServers& Servers();

std::wstring NginxUrl(const std::wstring& path);
std::wstring FaultUrl(const std::wstring& path);
// A distinct query, so the fault server's per-path counters start afresh.
std::wstring Nonce();

// An empty folder for one test's files, ending in "\\".
std::wstring FreshFolder(const std::wstring& name);
std::string ReadWholeFile(const std::wstring& path);
// The bytes of a file the servers serve (named as in their www folder).
std::string ServedFile(const char* name);
bool FileExists(const std::wstring& path);

// One fresh client of kType per test, seen as Client, reporting to a Sink (which is also the
// parameter it gets back), and an empty folder of the test's own.
template <typename Client, typename Sink, int kType>
class HttpClientTest : public ::testing::Test {
 protected:
  explicit HttpClientTest(const wchar_t* folder_name) : folder_name_(folder_name) {}

  void SetUp() override {
    ASSERT_NE(Servers().fault, 0) << "the HTTP server fixture did not run";
    IHttpBase* client = nullptr;
    ASSERT_TRUE(CreateHttpClient(&client, kType));
    client_ = nbase::ComPtr<Client>(static_cast<Client*>(client));
    client_->SetProgressSink(&sink_, &sink_);
    folder_ = FreshFolder(folder_name_);
  }

  nbase::ComPtr<Client> client_;
  Sink sink_;
  std::wstring folder_;

 private:
  const wchar_t* folder_name_;
};

// Message-only window on the test's thread; records progress percents and the outcome.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  HWND hwnd() const { return hwnd_; }
  // Pumps messages until the finished message arrives; false after timeout_ms without it.
  bool WaitFinished(DWORD timeout_ms);
  void Reset();

  std::vector<int> percents;
  int finished_count = 0;
  LPARAM outcome = -1;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  HWND hwnd_ = nullptr;
};
