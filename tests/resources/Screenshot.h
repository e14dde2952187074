// Saves a window's painted surface as a PNG, as it would look over a plain desktop.
#pragma once

#include <windows.h>

#include <string>

namespace skin_test {

// `bits` are the top-down, premultiplied BGRA pixels of a layered window's surface. They are
// blended over `desktop` (0xRRGGBB), because the shadow margin is meant to be seen over
// something, and written through the system's image encoder. False when nothing was written.
bool SavePng(const BYTE* bits, int width, int height, DWORD desktop, const std::wstring& path);

// The folder the screenshots go to, created when missing; a Unix path from the build system
// is mapped to the drive that shows the Unix root.
std::wstring ScreenshotFolder();

}  // namespace skin_test
