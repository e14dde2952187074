// Reads the machine identifiers that analytics derives its client id from, and derives it.
#pragma once

#include <string>

enum class MachineIdKind {
  kInstallation,  // the identifier Windows gives its installation when it is set up
  kProcessor,     // "ProcessorId" of the processors
  kDiskSerial,    // "SerialNumber" of the disk drives
};

// Runs the system management tool for `kind` and extracts the value after its key. True when
// the key was found; `id` then holds the value with blanks and line breaks removed (possibly
// empty). Where the tool cannot be started or gives no answer within 500 ms, the same value is
// read through WMI, each of its rows waited for a bounded time. `id` is left unchanged on false.
// The installation's identifier is read from the registry instead, without any tool.
bool QueryMachineId(MachineIdKind kind, std::string& id);

// The client id analytics sends for `identifier` of `kind`: 32 upper-case hexadecimal digits of
// a SHA-256 over the product's name, the kind and the identifier. The same machine gives the
// same id on every run; nothing of the identifier can be read back from it, and another
// product's id for the same machine is unrelated.
std::string ClientIdFor(const std::string& product, MachineIdKind kind,
                        const std::string& identifier);

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
