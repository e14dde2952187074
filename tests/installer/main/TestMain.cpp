// Entry of the frame test program: either runs the tests or, with "--child", one child entry.
#include "tests/installer/main/TestChild.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "base/UniqueResource.h"

namespace testing_support {
namespace {

std::map<std::string, ChildMain>& Children() {
  static std::map<std::string, ChildMain> children;
  return children;
}

}  // namespace

ChildRegistrar::ChildRegistrar(const char* name, ChildMain entry) {
  Children()[name] = entry;
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

StartedProgram StartProgram(const std::wstring& program, const std::wstring& arguments) {
  StartedProgram started;
  std::wstring command_line = L"\"" + program + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (::CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info)) {
    started.process.reset(info.hProcess);
    started.thread.reset(info.hThread);
    started.process_id = info.dwProcessId;
  } else {
    started.start_error = ::GetLastError();
  }
  return started;
}

ChildResult RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeout_ms,
                       const WhileRunning& while_running) {
  ChildResult result;
  const StartedProgram child = StartProgram(program, arguments);
  if (!child) {
    result.start_error = child.start_error;
    return result;
  }
  const nbase::UniqueHandle& process = child.process;
  result.started = true;
  const DWORD started = ::GetTickCount();
  DWORD wait = WAIT_TIMEOUT;
  while (wait == WAIT_TIMEOUT && ::GetTickCount() - started < timeout_ms) {
    const DWORD left = timeout_ms - (::GetTickCount() - started);
    wait = ::WaitForSingleObject(process.get(), while_running ? std::min<DWORD>(left, 100) : left);
    if (wait == WAIT_TIMEOUT && while_running) while_running(child.process_id);
  }
  if (wait != WAIT_OBJECT_0) {
    result.timed_out = true;
    ::TerminateProcess(process.get(), 99);
    ::WaitForSingleObject(process.get(), 5000);
  }
  ::GetExitCodeProcess(process.get(), &result.exit_code);
  return result;
}

}  // namespace testing_support

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
    auto& children = testing_support::Children();
    auto found = children.find(argv[2]);
    if (found == children.end()) return 125;
    return found->second(argc - 3, argv + 3);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
