// Creation and checking of the package folder's owner and access list.
#include "installer/trust/ProtectedFolder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <vector>

#include "base/UniqueResource.h"
#include "installer/main/ShellFunctions.h"

namespace protected_folder {
namespace {

// Owner Administrators; a protected list (nothing inherited from the parent, where ordinary
// users may create things) granting full control to Administrators and SYSTEM, for the folder
// and everything made in it.
constexpr wchar_t kSecurity[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type memory) noexcept { ::LocalFree(memory); }
};
using UniqueLocalMemory = nbase::UniqueResource<LocalMemoryTraits>;

bool IsAdministratorsOrSystem(PSID sid) {
  return sid && ::IsValidSid(sid) &&
         (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
          ::IsWellKnownSid(sid, WinLocalSystemSid));
}

std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

bool IsLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens the entry itself, a link as the link. What the handle then names is checked again: a
// system that opens a link's target even when asked for the link (Wine with a Unix symbolic
// link) must not have the target deleted or renamed through it.
nbase::UniqueFileHandle OpenEntry(const std::wstring& path, DWORD access) {
  return nbase::UniqueFileHandle(::CreateFileW(
      path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool HandleIsLink(HANDLE entry) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  return ::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof(tag)) &&
         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Deletes a link as a link, never what it points at; false (ERROR_CANT_ACCESS_FILE) where the
// system cannot take hold of the link itself, which is then left as it is.
bool RemoveLink(const std::wstring& path) {
  nbase::UniqueFileHandle link = OpenEntry(path, DELETE);
  if (!link) return false;
  if (!HandleIsLink(link.get())) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  FILE_DISPOSITION_INFO dispose = {TRUE};
  return ::SetFileInformationByHandle(link.get(), FileDispositionInfo, &dispose, sizeof(dispose)) !=
         FALSE;
}

// Removes a tree without following links: a link found anywhere in it is removed as a link (or
// left alone), never entered, so nothing outside the tree is touched with administrator rights.
void RemoveTree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (IsLinkAttributes(attributes)) {
    RemoveLink(path);
    return;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW found = {};
  HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring entry = path + L"\\" + name;
      if (IsLinkAttributes(found.dwFileAttributes)) {
        RemoveLink(entry);
      } else {
        RemoveTree(entry);
      }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(path.c_str());
}

// Renames a plain directory out of the way through a handle on it, so the object checked is the
// object moved; a link is never renamed (one system's rename of a directory link moves its
// target).
bool MoveAside(const std::wstring& path, const std::wstring& aside) {
  nbase::UniqueFileHandle entry = OpenEntry(path, DELETE);
  if (!entry || HandleIsLink(entry.get()) || IsLinkAttributes(::GetFileAttributesW(path.c_str())))
    return false;
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + aside.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(aside.size() * sizeof(wchar_t));
  std::copy(aside.begin(), aside.end(), info->FileName);
  return ::SetFileInformationByHandle(entry.get(), FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

bool CreateProtected(const std::wstring& path) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecurity, SDDL_REVISION_1, &raw,
                                                              nullptr)) {
    return false;
  }
  UniqueLocalMemory descriptor(raw);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
  // Fails when anything got there first; the caller then looks again.
  return ::CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

}  // namespace

std::wstring LocationFor(const std::wstring& name) {
  wchar_t data[MAX_PATH] = {};
  const ShellApi& shell = ShellFunctions();
  if (!shell.complete ||
      FAILED(shell.SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                                    data)) ||
      !data[0]) {
    return std::wstring();
  }
  std::wstring folder = data;
  if (folder.back() != L'\\') folder += L'\\';
  return folder + name + L"\\";
}

bool IsProtectedDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor) return false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  BOOL owner_defaulted = FALSE;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  BOOL dacl_defaulted = FALSE;
  if (!::GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !(control & SE_DACL_PROTECTED) ||
      !::GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) ||
      !IsAdministratorsOrSystem(owner) ||
      !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &dacl_defaulted) || !present ||
      !dacl || dacl->AceCount == 0) {
    return false;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (!IsAdministratorsOrSystem(reinterpret_cast<PSID>(&allowed->SidStart))) return false;
  }
  return true;
}

bool IsProtected(const std::wstring& folder) {
  const std::wstring path = WithoutTrailingSeparator(folder);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
    return false;
  }
  UniqueLocalMemory descriptor(raw);
  return IsProtectedDescriptor(raw);
}

std::wstring DescriptorText() {
  return kSecurity;
}

bool Prepare(const std::wstring& folder) {
  const std::wstring path = WithoutTrailingSeparator(folder);
  if (path.empty()) return false;
  // The parent (the program data folder itself) exists on every system; it is not made here.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (IsProtected(path)) return true;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (IsLinkAttributes(attributes)) {
      // A link planted where the folder belongs: removed as a link, or the folder is refused.
      if (!RemoveLink(path)) return false;
    } else if (attributes != INVALID_FILE_ATTRIBUTES) {
      // Moved aside first, so a tree that cannot be removed at once is out of the way anyway.
      const std::wstring aside = path + L".old-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(::GetTickCount());
      if (MoveAside(path, aside)) {
        RemoveTree(aside);
      } else {
        RemoveTree(path);
      }
    }
    // Made by this call with the list set at creation, so nobody else's folder can be in its
    // place. (Read back, the list is not always what was set: Wine keeps none.)
    if (CreateProtected(path)) return true;
  }
  return false;
}

bool Empty(const std::wstring& folder) {
  const std::wstring path = WithoutTrailingSeparator(folder);
  // A folder that has become a link since it was prepared is not entered: its listing would be
  // the target's.
  if (IsLinkAttributes(::GetFileAttributesW(path.c_str()))) return false;
  bool empty = true;
  WIN32_FIND_DATAW found = {};
  HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring entry = path + L"\\" + name;
    if (IsLinkAttributes(found.dwFileAttributes)) {
      if (!RemoveLink(entry)) empty = false;
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(entry);
    } else if (!::DeleteFileW(entry.c_str())) {
      empty = false;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return empty;
}

}  // namespace protected_folder
