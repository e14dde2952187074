// A folder that only Administrators and SYSTEM may change, for the package on its way to running.
#pragma once

#include <windows.h>

#include <string>

namespace protected_folder {

// "<the machine's program data folder>\<name>\"; empty when the system names no such folder.
std::wstring LocationFor(const std::wstring& name);

// Makes `folder` (ending in "\") usable: a folder already there is kept only when it is a plain
// directory owned by Administrators or SYSTEM whose protected access list grants only those
// two; anything else there (a folder planted in advance, a file) is moved aside and removed,
// and the folder is made again with that access list. A link (junction, symbolic link) there is
// removed as a link, never renamed or followed; where the system cannot take hold of the link
// itself, the folder is refused (false, ERROR_CANT_ACCESS_FILE) and the link and what it points
// at are left untouched. True when `folder` is then such a folder. Call elevated: an ordinary
// user cannot set that owner.
bool Prepare(const std::wstring& folder);

// Whether `folder` is a plain directory with the owner and access list Prepare gives it.
bool IsProtected(const std::wstring& folder);
// The rule IsProtected applies to a folder's security: owner Administrators or SYSTEM, a
// protected access list, and only "allow" entries for those two.
bool IsProtectedDescriptor(PSECURITY_DESCRIPTOR descriptor);
// The security Prepare creates the folder with, as SDDL.
std::wstring DescriptorText();

// Deletes everything inside `folder` (what the installation left there), links without
// following them; true when no file remains. A `folder` that is itself a link is left alone
// (false).
bool Empty(const std::wstring& folder);

}  // namespace protected_folder
