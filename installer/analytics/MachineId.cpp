// Machine identifiers from the registry or the system management tool (with a WMI fallback),
// and the client id derived from them.
#include "installer/analytics/MachineId.h"

#include <windows.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <algorithm>

#include "base/ComIds.h"
#include "base/StringUtil.h"
#include "base/Thread.h"
#include "base/UniqueResource.h"
#include "installer/HttpClient/Sha256.h"

namespace machine_id {
namespace {

// What one read may hold and what the identifier may keep, as the tool's output is small.
constexpr size_t kMaxToolOutput = 10000;
constexpr size_t kMaxIdLength = 511;
// A tool that hangs must not keep the first event waiting; the management service answers the
// same question when the tool is too slow.
constexpr unsigned kToolTimeoutMs = 500;
// Each row of the management service's answer is waited for at most this long.
constexpr LONG kWmiRowTimeoutMs = 3000;

struct ToolQuery {
  const wchar_t* arguments;
  const char* key;
  const wchar_t* wql;
  const wchar_t* property;
};

ToolQuery QueryFor(MachineIdKind kind) {
  if (kind == MachineIdKind::kProcessor) {
    return {L"cpu get processorid", "ProcessorId", L"SELECT ProcessorId FROM Win32_Processor",
            L"ProcessorId"};
  }
  return {L"diskdrive get serialnumber", "SerialNumber",
          L"SELECT SerialNumber FROM Win32_DiskDrive", L"SerialNumber"};
}

// By full path: an elevated installer started from a downloads folder must never run a
// "wmic.exe" that someone placed beside it or on the search path.
std::wstring ToolPath() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(folder, length) + L"\\wbem\\wmic.exe";
}

bool LooksLikeUtf16(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return true;
  }
  // ASCII text in UTF-16LE has a zero in every odd byte.
  if (bytes.size() < 4) return false;
  size_t zeros = 0;
  const size_t pairs = bytes.size() / 2;
  for (size_t i = 0; i < pairs; ++i) zeros += bytes[2 * i + 1] == '\0';
  return zeros * 2 > pairs;
}

// Reads the child's output on a thread of its own so the caller can give up on a silent child.
// Owned by RunCapturingOutput, which joins the thread before the object goes.
struct PipeReader {
  HANDLE pipe;
  size_t max_bytes;
  std::string collected;

  void Run() {
    char buffer[4096];
    while (collected.size() < max_bytes) {
      DWORD read = 0;
      const DWORD want = static_cast<DWORD>(std::min(sizeof(buffer), max_bytes - collected.size()));
      if (!::ReadFile(pipe, buffer, want, &read, nullptr) || read == 0) break;
      collected.append(buffer, read);
    }
  }
};

}  // namespace

std::string ToolOutputToNarrow(const std::string& bytes) {
  if (!LooksLikeUtf16(bytes)) return bytes.substr(0, bytes.find('\0'));
  size_t start = 0;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    start = 2;
  }
  std::wstring wide((bytes.size() - start) / 2, L'\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[start + 2 * i]) |
                                   (static_cast<unsigned char>(bytes[start + 2 * i + 1]) << 8));
  }
  wide = wide.substr(0, wide.find(L'\0'));
  return nbase::UTF16ToUTF8(wide);
}

bool ExtractAfterKey(const std::string& narrow_output, const char* key, std::string& id) {
  const size_t found = narrow_output.find(key);
  if (found == std::string::npos) return false;
  std::string value;
  for (size_t i = found + std::char_traits<char>::length(key);
       i < narrow_output.size() && value.size() < kMaxIdLength; ++i) {
    const char c = narrow_output[i];
    if (c != ' ' && c != '\r' && c != '\n') value.push_back(c);
  }
  id = value;
  return true;
}

bool RunCapturingOutput(const std::wstring& application, const std::wstring& command_line,
                        unsigned timeout_ms, size_t max_bytes, std::string& output, bool& started) {
  started = false;
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  nbase::UniqueHandle read_end;
  nbase::UniqueHandle write_end;
  if (!::CreatePipe(read_end.put(), write_end.put(), &inheritable, 0)) return false;
  // Only the child's copy of the write end may be inherited.
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {};
  ::GetStartupInfoW(&startup);
  startup.hStdOutput = write_end.get();
  startup.hStdError = write_end.get();
  startup.hStdInput = nullptr;
  startup.wShowWindow = SW_HIDE;
  startup.dwFlags |= STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info = {};
  std::wstring mutable_command = command_line;
  if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), &mutable_command[0],
                        nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  started = true;
  nbase::UniqueHandle process(info.hProcess);
  nbase::UniqueHandle thread(info.hThread);
  // With our copy of the write end gone, the read ends when the child closes its copy.
  write_end.reset();

  PipeReader reader{read_end.get(), max_bytes, {}};
  nbase::UniqueHandle reader_thread =
      nbase::StartThread("tool output reader", [&reader] { reader.Run(); });
  if (!reader_thread) {
    ::TerminateProcess(process.get(), 1);
    return true;
  }
  if (::WaitForSingleObject(process.get(), timeout_ms) == WAIT_TIMEOUT) {
    ::TerminateProcess(process.get(), 1);
  }
  // The child is gone, yet a grandchild may still hold the pipe open; do not wait on it.
  using CancelSynchronousIoFn = BOOL(WINAPI*)(HANDLE);
  static const auto cancel_io = reinterpret_cast<CancelSynchronousIoFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CancelSynchronousIo")));
  while (::WaitForSingleObject(reader_thread.get(), 200) == WAIT_TIMEOUT) {
    if (cancel_io) cancel_io(reader_thread.get());
  }
  output.swap(reader.collected);
  return true;
}

bool QueryThroughWmi(MachineIdKind kind, std::string& id) {
  const ToolQuery query = QueryFor(kind);
  nbase::ScopedCoInitialize com;
  if (FAILED(com.result())) return false;
  nbase::ComPtr<IWbemLocator> locator;
  if (FAILED(::CoCreateInstance(nbase::kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                nbase::kIidWbemLocator, locator.put_void()))) {
    return false;
  }
  BSTR name_space = ::SysAllocString(L"ROOT\\CIMV2");
  nbase::ComPtr<IWbemServices> services;
  const HRESULT connected = locator->ConnectServer(name_space, nullptr, nullptr, nullptr, 0,
                                                   nullptr, nullptr, services.put());
  ::SysFreeString(name_space);
  if (FAILED(connected)) return false;
  ::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                      RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);

  BSTR language = ::SysAllocString(L"WQL");
  BSTR wql = ::SysAllocString(query.wql);
  nbase::ComPtr<IEnumWbemClassObject> rows;
  const HRESULT queried = services->ExecQuery(
      language, wql, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, rows.put());
  ::SysFreeString(wql);
  ::SysFreeString(language);
  if (FAILED(queried) || !rows) return false;

  std::string value;
  for (;;) {
    nbase::ComPtr<IWbemClassObject> row;
    ULONG returned = 0;
    if (rows->Next(kWmiRowTimeoutMs, 1, row.put(), &returned) != S_OK || returned == 0) {
      break;
    }
    VARIANT property;
    ::VariantInit(&property);
    if (SUCCEEDED(row->Get(query.property, 0, &property, nullptr, nullptr)) &&
        property.vt == VT_BSTR && property.bstrVal) {
      value += nbase::UTF16ToUTF8(property.bstrVal);
    }
    ::VariantClear(&property);
  }
  // Same shape as the tool's output, so the same rules pick the value.
  return ExtractAfterKey(std::string(query.key) + "\r\n" + value, query.key, id);
}

// Set when Windows is installed and kept for its life; only the 64-bit registry view holds it.
bool ReadInstallationId(std::string& id) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t value[128] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  DWORD type = 0;
  const bool read = ::RegQueryValueExW(key, L"MachineGuid", nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  ::RegCloseKey(key);
  if (!read) return false;
  id = nbase::UTF16ToUTF8(value);
  return true;
}

}  // namespace machine_id

std::string ClientIdFor(const std::string& product, MachineIdKind kind,
                        const std::string& identifier) {
  // Each piece with its length in front, so no two different inputs hash the same bytes.
  CSha256Digest digest;
  const auto feed = [&digest](const std::string& piece) {
    const std::string length = std::to_string(piece.size()) + ":";
    digest.Update(length.data(), length.size());
    digest.Update(piece.data(), piece.size());
  };
  feed("client id");
  feed(product);
  feed(std::to_string(static_cast<int>(kind)));
  feed(identifier);
  std::string id = digest.HexDigest().substr(0, 32);
  for (char& c : id) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
  return id;
}

bool QueryMachineId(MachineIdKind kind, std::string& id) {
  if (kind == MachineIdKind::kInstallation) return machine_id::ReadInstallationId(id);
  const machine_id::ToolQuery query = machine_id::QueryFor(kind);
  const std::wstring tool = machine_id::ToolPath();
  std::string raw;
  bool started = false;
  if (!tool.empty() &&
      machine_id::RunCapturingOutput(tool, L"\"" + tool + L"\" " + query.arguments,
                                     machine_id::kToolTimeoutMs, machine_id::kMaxToolOutput, raw,
                                     started) &&
      machine_id::ExtractAfterKey(machine_id::ToolOutputToNarrow(raw), query.key, id)) {
    return true;
  }
  // Recent systems no longer ship the tool, and a slow one was cut off; the management service
  // still answers.
  return machine_id::QueryThroughWmi(kind, id);
}
