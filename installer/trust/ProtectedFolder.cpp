// Creation and checking of the package folder's owner and access list.
#include "installer/trust/ProtectedFolder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "base/UniqueResource.h"

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

// Removes a tree without following links: a junction planted inside is removed as a link, never
// entered, so nothing outside the tree is touched with administrator rights.
void RemoveTree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::DeleteFileW(path.c_str());
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
  }
  ::RemoveDirectoryW(path.c_str());
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
  if (FAILED(
          ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data)) ||
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
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      // Moved aside first, so a tree that cannot be removed at once is out of the way anyway.
      const std::wstring aside = path + L".old-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(::GetTickCount());
      const std::wstring doomed = ::MoveFileExW(path.c_str(), aside.c_str(), 0) ? aside : path;
      RemoveTree(doomed);
    }
    // Made by this call with the list set at creation, so nobody else's folder can be in its
    // place. (Read back, the list is not always what was set: Wine keeps none.)
    if (CreateProtected(path)) return true;
  }
  return false;
}

bool Empty(const std::wstring& folder) {
  const std::wstring path = WithoutTrailingSeparator(folder);
  bool empty = true;
  WIN32_FIND_DATAW found = {};
  HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring entry = path + L"\\" + name;
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
      RemoveTree(entry);
    } else if (!::DeleteFileW(entry.c_str())) {
      empty = false;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return empty;
}

}  // namespace protected_folder
