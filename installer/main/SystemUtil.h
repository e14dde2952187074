// Thin wrappers of the Windows services the installer needs: names, folders, processes, launches.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sysutil {

// Base name of the running executable: its file name split at "." into non-empty pieces, the
// first piece when there are exactly two, otherwise the whole file name ("setup.exe" ->
// "setup", "setup_1.2.exe" -> "setup_1.2.exe").
std::wstring GetExeBaseName();
// The name one instance holds: the base name in lower case, so "Setup.exe" and "setup.exe"
// started side by side are still one installer.
std::wstring GetInstanceName();
// Exposed for tests: the base name for a file name, as GetExeBaseName describes.
std::wstring ExeBaseNameOf(const std::wstring& file_name);

// The system libraries that the installer's own system libraries load later, while they work
// (the image codecs and the property store behind the shell, the security packages behind
// HTTPS, the certificate checks, the web browser's frame), each after the libraries it imports.
// Nothing the installer binds names them, so without help they are looked for wherever the
// loader looks for a dependency.
const std::vector<const wchar_t*>& LateSystemLibraries();
// They come in two groups. What the window's first paint pulls in by name (the theme, the text
// shaping and rich edit, the picture codecs and their property store) is loaded before anything
// else runs; returns the names this system does not have.
std::vector<std::wstring> PreloadLibrariesBeforeTheWindow();
// The rest (networking, security packages, certificate checks, the shell's frame), in load
// order: the window loads them once it has painted, one at a time between its messages, before
// the download, the analytics or anything the user can start, which are what pull them in.
const std::vector<const wchar_t*>& LibrariesAfterFirstPaint();

// Text after the last "\\" or "/"; a path without separator comes back whole.
std::wstring FileNamePart(const std::wstring& path);
// Text up to and including the last "\\" or "/"; empty (failure) when there is no separator.
std::wstring DirectoryPart(const std::wstring& path);
// Directory part of `folder_path` followed by `file_name`; empty when `folder_path` has no
// separator.
std::wstring JoinPath(const std::wstring& folder_path, const std::wstring& file_name);

// The user's local application data folder, created when missing, ending in "\\". Cached
// once a non-empty answer came back.
std::wstring GetLocalAppDataFolder();
// The Program Files folder this (32-bit) process sees, followed by "/". Cached.
std::wstring GetProgramFilesFolder();
// The system's own Program Files folder, followed by "/": on a 64-bit system the 64-bit one,
// even for a 32-bit process; elsewhere the same as GetProgramFilesFolder. Cached.
std::wstring GetNativeProgramFilesFolder();

// For example "Windows 7 64-bit"; "Unknow" for systems the installer has no name for. Cached.
std::wstring GetOSName();
// Whether the system (not this process) is 64-bit.
bool Is64BitSystem();

// Exposed for tests: the name for a version record and a native processor architecture.
std::wstring OSNameFor(DWORD platform_id, DWORD major, DWORD minor, BYTE product_type,
                       WORD native_architecture);

bool IsDirectory(const std::wstring& path);
// Creates every missing folder along `path`; true when it is a directory afterwards.
bool CreateDirectoryChain(const std::wstring& path);
// Same through the shell, which also accepts a folder that is already there.
bool ShellCreateDirectory(const std::wstring& path);
bool DeleteFilePath(const std::wstring& path);

// Ids of the processes whose executable file name equals `name` exactly (case-sensitive).
bool ProcessesByName(const std::wstring& name, std::vector<DWORD>& process_ids);
bool IsProcessRunning(const std::wstring& name);
void TerminateProcesses(const std::wstring& name);

// False only when the system positively says it is offline; any failure to ask gives true,
// so a broken network service never blocks the installation.
bool IsInternetConnected();

// Free space of the drive of an absolute drive-letter path, in MB; 0 for anything else.
double FreeDiskSpaceMB(const std::wstring& path);

// The top-level window of class `window_class` that a process of this
// executable's instance name owns, waiting up to `timeout_ms` for one that is still being
// made; null when there is none.
HWND FindInstanceWindow(const wchar_t* window_class, DWORD timeout_ms);
// Shows `window` restored (when minimised or hidden) and in front.
void BringToFront(HWND window);

}  // namespace sysutil
