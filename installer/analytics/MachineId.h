// Reads the machine identifier that analytics uses as its client id.
#pragma once

#include <string>

enum class MachineIdKind {
  kProcessor,   // "ProcessorId" of the processors
  kDiskSerial,  // "SerialNumber" of the disk drives
};

// Runs the system management tool for `kind` and extracts the value after its key. True when
// the key was found; `id` then holds the value with blanks and line breaks removed (possibly
// empty). Where the tool cannot be started or gives no answer within 500 ms, the same value is
// read through WMI, each of its rows waited for a bounded time. `id` is left unchanged on false.
bool QueryMachineId(MachineIdKind kind, std::string& id);

// The pieces, exposed for tests.
namespace machine_id {

// The tool writes UTF-16LE when its output is a pipe; narrow output passes unchanged.
std::string ToolOutputToNarrow(const std::string& bytes);

// The text after the first `key` with every space, CR and LF dropped, at most 511 characters.
bool ExtractAfterKey(const std::string& narrow_output, const char* key, std::string& id);

// Runs `command_line` hidden with its output in a pipe. Collects at most `max_bytes` until the
// child ends or `timeout_ms` passes (the child is then ended). False when it cannot be started;
// `started` tells that case apart from a child that ran.
bool RunCapturingOutput(const std::wstring& application, const std::wstring& command_line,
                        unsigned timeout_ms, size_t max_bytes, std::string& output, bool& started);

// Reads the same properties through WMI, concatenated as the tool prints them.
bool QueryThroughWmi(MachineIdKind kind, std::string& id);

}  // namespace machine_id
