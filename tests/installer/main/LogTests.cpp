// Tests of the log: the start-up sequence and file format, and concurrent writers.
#include "installer/main/Log.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "tests/installer/main/FrameTestSupport.h"

namespace {

using frame_test::ReadAll;

constexpr char kBom[] = "\xEF\xBB\xBF";

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_CHILD(start_log) {
  if (!StartLog()) return 1;
  LOG_APP(L"child %ls \x00E9", L"line");
  LOG_PRO(L"child trace");
  LogRecord(__FILE__, __LINE__).Emit();  // default level
  return 0;
}

TEST(LogTest, StartLogWritesBesideLocalAppDataWithoutStartupLine) {
  frame_test::ScratchFolder folder(L"startlog");
  const std::wstring stem = L"logstart" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring exe = folder.CopySelfAs(stem + L".exe");
  wchar_t local[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)));
  const std::wstring log = std::wstring(local) + L"\\Temp\\" + stem + L"_log.txt";
  ::DeleteFileW(log.c_str());

  // Two runs: the second appends to the file the first created.
  for (int run = 0; run < 2; ++run) {
    const auto result = testing_support::RunProgram(exe, L"--child start_log");
    ASSERT_TRUE(result.started && !result.timed_out);
    EXPECT_EQ(0u, result.exit_code);
  }
  const std::string text = ReadAll(log);
  ::DeleteFileW(log.c_str());
  EXPECT_EQ(0u, text.rfind(kBom, 0));
  EXPECT_EQ(1u, Count(text, kBom));
  EXPECT_EQ(0u, Count(text, "app: started"));
  // Exactly the two LV_APP lines, each naming only the file of its call site.
  const std::regex line(
      "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d LogTests\\.cpp:\\d+ LV_APP\\] child line "
      "\xC3\xA9\r\n");
  const std::string body = text.size() > 3 ? text.substr(3) : std::string();
  EXPECT_EQ(2u, Count(body, "\n"));
  EXPECT_EQ(2, std::distance(std::sregex_iterator(body.begin(), body.end(), line),
                             std::sregex_iterator()));
}

TEST(LogTest, ConcurrentWritersNeverInterleaveLines) {
  frame_test::ScratchFolder folder(L"log");
  LogSink& sink = LogSink::Instance();
  const std::wstring saved_path = sink.FilePath();
  const int saved_threshold = sink.Threshold();
  sink.SetFilePath(folder.path() + L"threads_log.txt");
  sink.SetThreshold(LV_APP);
  constexpr int kThreads = 8;
  constexpr int kLines = 1000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LOG_APP(L"writer %d line %d %ls.", t, i, std::wstring(60, L'x').c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  sink.SetFilePath(saved_path);
  sink.SetThreshold(saved_threshold);

  const std::string text = ReadAll(folder.path() + L"threads_log.txt");
  ASSERT_EQ(0u, text.rfind(kBom, 0));
  std::set<int> seen;
  size_t line_count = 0;
  for (size_t start = 3, end; start < text.size(); start = end + 1, ++line_count) {
    end = text.find('\n', start);
    ASSERT_NE(std::string::npos, end);
    std::string line = text.substr(start, end - start);
    ASSERT_EQ('\r', line.back()) << "line must end in exactly CR LF";
    line.pop_back();
    const size_t message = line.find("LV_APP] writer ");
    ASSERT_NE(std::string::npos, message) << line;
    ASSERT_EQ(0u, line.rfind('[', message)) << line;
    // Whole only if the 60 x's and the closing dot end the line.
    int t = -1, i = -1, parsed = 0;
    std::sscanf(line.c_str() + message, "LV_APP] writer %d line %d %*60[x].%n", &t, &i, &parsed);
    ASSERT_EQ(line.size(), message + parsed) << line;
    seen.insert(t * kLines + i);
  }
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), line_count);
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), seen.size());
}

// Where the held-back file of the test below opens, and how often it was asked for.
std::wstring held_path;
int held_path_asked = 0;
std::wstring HeldPath() {
  ++held_path_asked;
  return held_path;
}

size_t LinesIn(const std::string& text) {
  return Count(text, "\r\n");
}

TEST(LogTest, LinesKeptBeforeTheFileOpensReachItInOrder) {
  frame_test::ScratchFolder folder(L"held");
  LogSink& sink = LogSink::Instance();
  const std::wstring saved_path = sink.FilePath();
  const int saved_threshold = sink.Threshold();
  sink.SetThreshold(LV_APP);
  held_path = folder.path() + L"held_log.txt";
  held_path_asked = 0;

  sink.HoldFileUntilOpened(&HeldPath);
  LOG_APP(L"held one");
  LOG_PRO(L"below the threshold");
  LOG_WAR(L"held two");
  EXPECT_EQ(0, held_path_asked) << "the folder is looked up before anyone needs it";
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(held_path.c_str()));
  // An error may be the process's last word: it opens the file, behind what was kept.
  LOG_ERR(L"an error");
  LOG_APP(L"after it");
  OpenLogFile();
  EXPECT_EQ(1, held_path_asked);
  const std::string text = ReadAll(held_path);
  EXPECT_EQ(0u, text.rfind(kBom, 0));
  EXPECT_EQ(4u, LinesIn(text));
  const size_t one = text.find("] held one\r\n");
  const size_t two = text.find("] held two\r\n");
  const size_t error = text.find("LV_ERR] an error\r\n");
  const size_t after = text.find("] after it\r\n");
  ASSERT_TRUE(one != std::string::npos && two != std::string::npos && error != std::string::npos &&
              after != std::string::npos)
      << text;
  EXPECT_TRUE(one < two && two < error && error < after) << text;

  // A window that never paints: past a bound the file opens by itself, and no line is lost.
  held_path = folder.path() + L"bounded_log.txt";
  sink.HoldFileUntilOpened(&HeldPath);
  constexpr int kLines = 100;
  const std::wstring filler(1000, L'y');
  for (int i = 0; i < kLines; ++i) LOG_APP(L"line %d %ls", i, filler.c_str());
  EXPECT_EQ(2, held_path_asked);
  EXPECT_EQ(static_cast<size_t>(kLines), LinesIn(ReadAll(held_path)));

  sink.SetFilePath(saved_path);
  sink.SetThreshold(saved_threshold);
}

}  // namespace
