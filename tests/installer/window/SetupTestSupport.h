// Helpers for the setup window's tests: message-box answering, clicks, a tiny ranged HTTP
// server, skin copies with chosen URLs, and paths of the build.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Lock.h"
#include "base/UniqueResource.h"
#include "tests/support/TestFiles.h"
#include "tools/demo/driver/InstallerDriver.h"

namespace setup_test {

using demo::ReadFileBytes;
using test_files::FromBuildPath;
using test_files::RemoveTree;

// Watches the top-level message boxes of one process from its own thread, records each box's
// text once, and answers it with what `decide` returns (a button id; 0 leaves it open).
// Owned by the test's thread; the watcher thread only touches the guarded fields.
class BoxAnswerer {
 public:
  using Decide = std::function<int(const std::wstring& text)>;
  BoxAnswerer(DWORD process_id, Decide decide);
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  std::vector<std::wstring> Texts() const;
  // Boxes showing at the same moment, at most, since the start.
  int MostAtOnce() const { return most_at_once_.load(); }

 private:
  void Run();

  const DWORD process_id_;
  Decide decide_;
  std::atomic<bool> quit_{false};
  std::atomic<int> most_at_once_{0};
  mutable std::mutex lock_;
  std::vector<std::wstring> texts_;
  std::map<HWND, bool> seen_;
  std::thread thread_;
};

// Calls `visit` with every descendant window of `parent` and its class name.
void ForEachChild(HWND parent, const std::function<void(HWND, const std::wstring&)>& visit);
std::wstring WindowText(HWND window);

// Serves one file over HTTP/1.1 on 127.0.0.1 with HEAD and byte ranges, a thread per
// connection. Start/Stop from the test's thread; the accept thread owns the sockets, and Stop
// waits for every connection's thread, so none outlives the server or sees the next body.
class TinyHttpServer {
 public:
  TinyHttpServer();
  ~TinyHttpServer();
  TinyHttpServer(const TinyHttpServer&) = delete;
  TinyHttpServer& operator=(const TinyHttpServer&) = delete;

  // A free port, chosen once and kept across Stop/Start so a URL stays valid.
  int Port() const { return port_; }
  bool Start(const std::string& body);
  void Stop();
  int Requests() const { return requests_.load(); }
  // The length HEAD reports, when it should differ from the body's (a huge package).
  void SetDeclaredSize(long long size) { declared_size_ = size; }
  // Holds back every body this long, as a slow network would.
  void SetBodyDelay(DWORD milliseconds) { body_delay_ms_ = milliseconds; }
  // Answers every request as a proxy that wants credentials does; with `account`
  // ("user:password"), a request signed in with it is served as usual.
  void AskForProxyCredentials(const std::string& account = std::string()) {
    proxy_account_ = account;
    proxy_auth_ = true;
  }
  // Body bytes sent so far.
  long long BytesServed() const { return bytes_served_.load(); }
  // After `bytes` more body bytes the server is gone: the answer under way breaks off there and
  // every later request is cut off unanswered; a negative count serves again. Counted in bytes,
  // not answers, because the downloader may ask for several pieces in one request.
  void CutOffAfter(long long bytes) { bytes_left_ = bytes; }
  // Answers every request with a network's sign-in page instead of the file, until cleared.
  void AnswerWithSignInPage(bool on) { sign_in_page_ = on; }

 private:
  void Serve(SOCKET client, const std::string& body);

  int port_ = 0;
  // The body the connections accepted from now on are served; each keeps its own copy.
  nbase::Lock lock_;
  std::shared_ptr<const std::string> body_;
  std::vector<nbase::UniqueHandle> serving_;
  SOCKET listener_ = INVALID_SOCKET;
  nbase::UniqueHandle accept_thread_;
  std::atomic<bool> sign_in_page_{false};
  std::string proxy_account_;
  std::atomic<long long> bytes_served_{0};
  std::atomic<long long> bytes_left_{-1};
  std::atomic<int> requests_{0};
  std::atomic<long long> declared_size_{-1};
  std::atomic<DWORD> body_delay_ms_{0};
  std::atomic<bool> proxy_auth_{false};
};

// A copy of the skin's files under a fresh folder, with the URLs of both language tables
// replaced and product.ini given this build's publisher pins (then `product`'s values); the
// folder becomes the working folder so the resource service finds it there.
class SkinCopy {
 public:
  explicit SkinCopy(const std::map<std::wstring, std::wstring>& urls,
                    const std::map<std::wstring, std::wstring>& product = {});
  ~SkinCopy();
  const std::wstring& folder() const { return folder_; }

 private:
  std::wstring folder_;
  std::wstring previous_cwd_;
};

// Runs the thread's messages until `done` holds or `timeout_ms` passed (then false). A quit
// message, which only the window under test posts, is counted instead of ending anything.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);
int QuitMessagesSeen();

// Waits until the test browser of the Wine session was asked to open `url` (see the harness's
// session script); false after `timeout_ms`.
bool WaitForOpenedUrl(const std::wstring& url, DWORD timeout_ms);

// Event labels the demo collector (this build's port, demo settings) received, in file-name order;
// the caller takes a snapshot first and compares.
std::vector<std::string> CollectorEventLabels();

// Saves every visible message box of this process into the build's screenshots folder as
// `name`.png (the first) or `name`_N.png.
void ShootMessageBoxes(const std::wstring& name);

// Whole-file writes under the name the setup tests know.
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  return test_files::WriteAll(path, bytes);
}
bool PathExists(const std::wstring& path);

}  // namespace setup_test
