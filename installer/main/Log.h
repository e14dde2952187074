// The installer's one log: debugger output for every line, a UTF-8 file for the important ones.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "base/Lock.h"
#include "base/StringUtil.h"

enum LogLevel : int {
  LV_ERR = 0,
  LV_WAR = 1,
  LV_APP = 2,
  LV_PRO = 3,
};

// Process-wide destination of log lines. Lines at or below the threshold are appended to the
// file, which is opened and closed per line so that it is complete whenever someone reads it.
// While the file is held back (from HoldFileUntilOpened to OpenHeldFile), those lines are kept
// in memory and written in one go when it opens.
class LogSink {
 public:
  static LogSink& Instance();

  // Names the file; lines held back until now are written to it first.
  void SetFilePath(const std::wstring& path);
  // The file's path, opening a held-back file first so that it holds every line so far.
  std::wstring FilePath();
  // Keeps the file's lines in memory until OpenHeldFile, which asks `resolve` for the path.
  void HoldFileUntilOpened(std::wstring (*resolve)());
  // Names a held-back file and writes what was kept; nothing when the file is not held back.
  void OpenHeldFile();
  void SetThreshold(int level) { threshold_.store(level); }
  int Threshold() const { return threshold_.load(); }

  // Sends a finished line (with its line end) to the debugger and, by level, to the file.
  void Write(int level, const std::wstring& line);

 private:
  LogSink();
  ~LogSink();
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

  // Appends to the file, or keeps the text while the file is held back; true when so much is
  // kept that the file should open now.
  bool AppendToFile(const std::string& utf8_line);
  // Names the file, ends any holding back and writes what was kept.
  void UseFileLocked(const std::wstring& path);
  void WriteToFileLocked(const std::string& utf8_text);

  nbase::Lock lock_;
  std::wstring file_path_;
  std::wstring (*resolve_path_)() = nullptr;  // set while the file is held back
  std::string held_;
  std::atomic<int> threshold_{LV_ERR};
};

// One log line in the making: stamped with the time and call site when made, then given a
// level and text and emitted once. Call sites use the LOG_* macros below.
class LogRecord {
 public:
  LogRecord(const char* source_path, long line);

  LogRecord& SetLevelAndMessage(int level, std::wstring message);
  // The whole line as it is written, ending in CR LF.
  std::wstring Line() const;
  void Emit() const;

 private:
  std::wstring time_prefix_;
  std::wstring position_;
  int level_ = LV_PRO;
  std::wstring message_;
};

// Tag written for a level; empty for levels outside the table.
const wchar_t* LogLevelTag(int level);

// Points the log at "<local app data>\\Temp\\<exe base name>_log.txt" and lets LV_ERR to
// LV_APP through to it. Called once, first thing in the entry. The file itself opens with
// OpenLogFile (or an error line, or the process's exit): finding the folder loads the shell,
// which the window's first paint has no use for.
bool StartLog();

// Opens the log's file, writing the lines kept since StartLog. Called once the window has
// painted and before the process ends; later calls do nothing.
void OpenLogFile();

// printf-style with wide formats (wide text arguments as %ls).
#define LOG_AT_LEVEL(level, ...)                                       \
  ::LogRecord(__FILE__, __LINE__)                                      \
      .SetLevelAndMessage((level), ::nbase::StringPrintf(__VA_ARGS__)) \
      .Emit()
#define LOG_ERR(...) LOG_AT_LEVEL(::LV_ERR, __VA_ARGS__)
#define LOG_WAR(...) LOG_AT_LEVEL(::LV_WAR, __VA_ARGS__)
#define LOG_APP(...) LOG_AT_LEVEL(::LV_APP, __VA_ARGS__)
#define LOG_PRO(...) LOG_AT_LEVEL(::LV_PRO, __VA_ARGS__)
