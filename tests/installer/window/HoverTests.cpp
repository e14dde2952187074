// The built installer as a user first meets it: the pointer passes over every control and
// leaves, and the screen shows the window exactly as before.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/UniqueResource.h"
#include "tests/installer/main/TestChild.h"
#include "tests/installer/window/SetupTestSupport.h"
#include "tests/ui/WindowInput.h"
#include "tools/demo/driver/InstallerDriver.h"
#include "ui/render/GdiHandles.h"

namespace {

using setup_test::FromBuildPath;

// What the screen shows of a window, in screen pixels (0xXXRRGGBB).
std::vector<DWORD> CaptureScreen(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  std::vector<DWORD> pixels;
  if (width <= 0 || height <= 0) return pixels;
  HDC screen = ::GetDC(nullptr);
  ui::UniqueMemoryDC memory(::CreateCompatibleDC(screen));
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  ui::UniqueBitmap bitmap(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (memory && bitmap && bits) {
    HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory.get(), old);
    const auto* first = static_cast<const DWORD*>(bits);
    pixels.assign(first, first + static_cast<size_t>(width) * height);
    for (DWORD& pixel : pixels) pixel &= 0x00FFFFFF;
  }
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

int CountDiffering(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
  if (a.size() != b.size()) return -1;
  int count = 0;
  for (size_t i = 0; i < a.size(); ++i) count += a[i] != b[i];
  return count;
}

// Waits for `done` while checking again and again; false once `timeout_ms` has passed.
bool PollUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeout_ms) return false;
    ::Sleep(50);
  }
  return true;
}

TEST(Hover, PointerOverEveryControlAndAwayLeavesTheWindowAsItWas) {
  demo::ControlPoints points;
  {
    setup_test::SkinCopy skin({});
    points = demo::MeasureControls(L"resources\\");
  }
  ASSERT_TRUE(points.valid);
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring exe = std::wstring(temp) + L"Clipmint_hover.exe";
  ASSERT_TRUE(::CopyFileW(FromBuildPath(INSTALLER_EXE_PATH).c_str(), exe.c_str(), FALSE));
  const testing_support::StartedProgram installer = testing_support::StartProgram(exe, L"");
  ASSERT_TRUE(installer);
  struct EndProcess {
    HANDLE process;
    ~EndProcess() {
      ::TerminateProcess(process, 0);
      ::WaitForSingleObject(process, 10000);
    }
  } end_process{installer.process.get()};

  HWND window = nullptr;
  ASSERT_TRUE(PollUntil(
      [&] {
        window = demo::FindSetupWindow(installer.process_id);
        return window && ::IsWindowVisible(window);
      },
      30000))
      << "no setup window";
  RECT frame = {};
  ::GetWindowRect(window, &frame);
  const POINT away = {frame.right + 30 < ::GetSystemMetrics(SM_CXSCREEN) ? frame.right + 30 : 5,
                      frame.bottom + 30 < ::GetSystemMetrics(SM_CYSCREEN) ? frame.bottom + 30 : 5};
  ui_test::SendPointerMove(away);
  // The first layout and paint are done once the screen shows the same picture twice running
  // and Install Now's green is on it.
  std::vector<DWORD> before;
  const POINT install = {frame.left + points.install.x, frame.top + points.install.y};
  ASSERT_TRUE(PollUntil(
      [&] {
        std::vector<DWORD> now = CaptureScreen(frame);
        const bool settled = !now.empty() && now == before;
        before = std::move(now);
        const size_t at = static_cast<size_t>(install.y - frame.top) * (frame.right - frame.left) +
                          (install.x - frame.left - 60);
        return settled && at < before.size() && (before[at] & 0xFF00) > 0x9000;
      },
      30000))
      << "the window never showed a settled first picture";
  const std::wstring shots = FromBuildPath(BUILD_DIR_PATH "/screenshots");
  ::CreateDirectoryW(shots.c_str(), nullptr);
  demo::SaveWindowPng(window, shots + L"\\hover_before.png");

  // Across the whole window in a grid, then onto Install Now until its hover shows: input is
  // taken in order, so every move of the sweep has been handled by then.
  for (LONG y = frame.top + 6; y < frame.bottom; y += 18) {
    for (LONG x = frame.left + 6; x < frame.right; x += 24) ui_test::SendPointerMove({x, y});
  }
  ui_test::SendPointerMove(install);
  // Only the button itself (240 by 48 at this scale) may look different while it is hot.
  const LONG width = frame.right - frame.left;
  const RECT button = {install.x - frame.left - 122, install.y - frame.top - 26,
                       install.x - frame.left + 122, install.y - frame.top + 26};
  int inside = 0;
  int elsewhere = 0;
  auto compare_hovered = [&] {
    const std::vector<DWORD> now = CaptureScreen(frame);
    inside = 0;
    elsewhere = 0;
    for (size_t i = 0; i < now.size() && i < before.size(); ++i) {
      if (now[i] == before[i]) continue;
      const POINT at = {static_cast<LONG>(i % width), static_cast<LONG>(i / width)};
      ++(::PtInRect(&button, at) ? inside : elsewhere);
    }
    return inside > 0 && elsewhere == 0;
  };
  // Late reports of the sweep may make other controls hot for a while first; the last one
  // puts the pointer on Install Now again.
  const bool only_the_button = PollUntil(compare_hovered, 30000);
  demo::SaveWindowPng(window, shots + L"\\hover_install.png");
  ASSERT_TRUE(inside > 0) << "hovering Install Now never showed";
  EXPECT_TRUE(only_the_button) << "hovering Install Now changed " << elsewhere
                               << " pixels of the window around it";

  // The display reports this process's moves to the installer a second time, late; such a
  // stale report can put the pointer back over the window after it left. Leaving again after
  // each one ends them, so the window must come back to its first picture, and stay there
  // once a move away changes nothing more.
  int differing = -1;
  bool restored = false;
  for (int attempt = 0; attempt < 20 && !restored; ++attempt) {
    ui_test::SendPointerMove({away.x, away.y + attempt % 2});
    restored = PollUntil(
        [&] {
          differing = CountDiffering(CaptureScreen(frame), before);
          return differing == 0;
        },
        20000);
    if (!restored) break;
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    restored = !::PtInRect(&frame, cursor);
  }
  demo::SaveWindowPng(window, shots + L"\\hover_after.png");
  EXPECT_TRUE(restored) << differing << " pixels still differ after the pointer left";
}

}  // namespace
