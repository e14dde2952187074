// What every HTTP client keeps alike: the progress sink, the extra request headers, the last
// error and status code, and its end by Release.
#pragma once

#include "installer/HttpClient/HttpHeader.h"
#include "installer/HttpClient/HttpInterface.h"

// Owned, like the client built on it, by the one thread that runs its operations.
template <typename Interface>
class HttpClientBase : public Interface {
 public:
  void SetProgressSink(IHttpCallback* sink, void* param) override {
    sink_ = sink;
    param_ = param;
  }
  void Release() override { delete this; }
  HttpInterfaceError LastError() override { return last_error_; }
  // Empty names or values are ignored rather than sent as a malformed line.
  void AddRequestHeader(const char* name, const char* value) override {
    if (!name || !value || !*name || !*value) return;
    header_.AddRequestHeader(name, value);
  }
  int StatusCode() override { return status_code_; }

 protected:
  HttpClientBase() = default;
  virtual ~HttpClientBase() = default;

  int status_code_ = 0;
  CHttpHeader header_;
  void* param_ = nullptr;
  IHttpCallback* sink_ = nullptr;
  HttpInterfaceError last_error_ = HttpOk;
};
