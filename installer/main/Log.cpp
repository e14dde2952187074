// Formats log lines and appends them, one open/append/close at a time, to the log file.
#include "installer/main/Log.h"

#include <cstdio>
#include <cstdlib>

#include "base/ExceptionPolicy.h"
#include "base/UniqueResource.h"
#include "installer/main/SystemUtil.h"

namespace {

// A window that never paints must not make the log grow in memory without bound.
constexpr size_t kMostHeldBytes = 65536;

}  // namespace

LogSink& LogSink::Instance() {
  // Never destroyed: detached download and analytics threads may still log while the process
  // runs its exit-time destructors.
  static LogSink* sink = new LogSink();
  return *sink;
}

LogSink::LogSink() = default;

LogSink::~LogSink() = default;

void LogSink::SetFilePath(const std::wstring& path) {
  nbase::AutoLock guard(lock_);
  UseFileLocked(path);
}

void LogSink::UseFileLocked(const std::wstring& path) {
  resolve_path_ = nullptr;
  file_path_ = path;
  std::string held;
  held.swap(held_);
  WriteToFileLocked(held);
}

std::wstring LogSink::FilePath() {
  OpenHeldFile();
  nbase::AutoLock guard(lock_);
  return file_path_;
}

void LogSink::HoldFileUntilOpened(std::wstring (*resolve)()) {
  nbase::AutoLock guard(lock_);
  resolve_path_ = resolve;
}

void LogSink::OpenHeldFile() {
  std::wstring (*resolve)() = nullptr;
  {
    nbase::AutoLock guard(lock_);
    resolve = resolve_path_;
  }
  if (!resolve) return;
  // Outside the lock: finding the folder loads libraries, and other threads keep logging.
  const std::wstring path = resolve();
  nbase::AutoLock guard(lock_);
  // Another thread may have opened it meanwhile, with the same path.
  if (resolve_path_ != resolve) return;
  UseFileLocked(path);
}

void LogSink::Write(int level, const std::wstring& line) {
  ::OutputDebugStringW(line.c_str());
  if (level > threshold_.load()) return;
  // An error may be the last thing the process says: it goes to the file at once.
  if (level <= LV_ERR) OpenHeldFile();
  if (AppendToFile(nbase::UTF16ToUTF8(line))) OpenHeldFile();
}

bool LogSink::AppendToFile(const std::string& utf8_line) {
  nbase::AutoLock guard(lock_);
  if (resolve_path_) {
    held_ += utf8_line;
    return held_.size() >= kMostHeldBytes;
  }
  WriteToFileLocked(utf8_line);
  return false;
}

void LogSink::WriteToFileLocked(const std::string& utf8_text) {
  if (file_path_.empty() || utf8_text.empty()) return;
  const bool existed = ::GetFileAttributesW(file_path_.c_str()) != INVALID_FILE_ATTRIBUTES;
  // Binary append: the line already ends in CR LF, and a text-mode stream would turn that
  // into CR CR LF, which editors show as an extra blank line after every entry.
  nbase::UniqueStdioFile file(::_wfopen(file_path_.c_str(), L"a+b"));
  // A locked or unreachable file loses this text only; the next line tries again.
  if (!file) return;
  if (!existed) std::fwrite("\xEF\xBB\xBF", 1, 3, file.get());
  std::fwrite(utf8_text.data(), 1, utf8_text.size(), file.get());
}

const wchar_t* LogLevelTag(int level) {
  switch (level) {
    case LV_ERR:
      return L"LV_ERR";
    case LV_WAR:
      return L"LV_WAR";
    case LV_APP:
      return L"LV_APP";
    case LV_PRO:
      return L"LV_PRO";
    default:
      return L"";
  }
}

LogRecord::LogRecord(const char* source_path, long line) {
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  time_prefix_ = nbase::StringPrintf(L"[%04d-%02d-%02d %02d:%02d:%02d", now.wYear, now.wMonth,
                                     now.wDay, now.wHour, now.wMinute, now.wSecond);
  const std::wstring file_name = sysutil::FileNamePart(nbase::UTF8ToUTF16(source_path));
  position_ = nbase::StringPrintf(L" %ls:%ld ", file_name.c_str(), line);
}

LogRecord& LogRecord::SetLevelAndMessage(int level, std::wstring message) {
  level_ = level;
  message_ = std::move(message);
  return *this;
}

std::wstring LogRecord::Line() const {
  return time_prefix_ + position_ + LogLevelTag(level_) + L"] " + message_ + L"\r\n";
}

void LogRecord::Emit() const {
  LogSink::Instance().Write(level_, Line());
}

namespace {

void LogCaughtException(const char* where, const char* what) {
  LOG_ERR(L"exception caught in %hs: %hs", where, what ? what : "(no message)");
}

std::wstring LogFilePath() {
  const std::wstring local = sysutil::GetLocalAppDataFolder();
  // Without the folder a bare "Temp\\" would name one below whatever the current folder is.
  if (local.empty()) return std::wstring();
  const std::wstring folder = local + L"Temp\\";
  // A folder that cannot be made is not fatal: each line then fails to open on its own.
  if (!sysutil::IsDirectory(folder)) sysutil::CreateDirectoryChain(folder);
  return sysutil::JoinPath(folder, sysutil::GetExeBaseName() + L"_log.txt");
}

}  // namespace

bool StartLog() {
  // The file is not known yet, so this line only reaches the debugger.
  LOG_APP(L"app: started");
  LogSink& sink = LogSink::Instance();
  sink.SetThreshold(LV_APP);
  sink.HoldFileUntilOpened(&LogFilePath);
  nbase::SetExceptionReporter(&LogCaughtException);
  // A process that returns from its entry before the window painted still has its lines kept.
  static const bool registered = std::atexit(&OpenLogFile) == 0;
  (void)registered;
  return true;
}

void OpenLogFile() {
  LogSink::Instance().OpenHeldFile();
}
