// The silent installation on a thread of its own: the downloaded package verified while held,
// put in place, run elevated and waited for, with an honest outcome for the window.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "base/UniqueResource.h"
#include "installer/main/ProductInfo.h"
#include "installer/trust/PackageVerifier.h"
#include "installer/window/PackageRunGate.h"

// Posted by the run's thread to its window; lParam is a PackageRunResult* that the window's
// procedure takes ownership of.
constexpr UINT WM_SILENT_INSTALL_DONE = WM_USER + 103;

enum class PackageRunOutcome {
  kInstalled,         // the package ran and ended with 0
  kUntrusted,         // refused before running: not verified, or not put in place
  kElevationRefused,  // the user said no to the elevation prompt
  kStartFailed,       // the package could not be started
  kSetupFailed,       // it ran and ended with a non-zero code (or outlived the wait)
  kStopped,           // the user quit before the package started; nothing was started
};

// What the run needs, copied on the UI thread so the thread never touches the window's fields.
struct PackageRunJob {
  HWND window = nullptr;
  std::wstring download_path;  // where the downloader wrote the bytes
  std::wstring target_path;    // the package's final name in the same folder
  std::wstring working_folder;
  std::wstring install_folder;  // as typed into the folder field
  PackagePins pins;
  // What the download hashed as it wrote the file; the pinned digest's check.
  TakenDigest downloaded;
  std::wstring language_name;
  ProductInfo product;
  // Set once the package is verified and in place: it stays held, so a retry (after a refused
  // elevation prompt) runs the very bytes that were checked.
  nbase::UniqueFileHandle held;
  // Between the window and the run's thread: a quit stops the run until the package starts.
  std::shared_ptr<PackageRunGate> gate = std::make_shared<PackageRunGate>();
};

struct PackageRunResult {
  PackageRunOutcome outcome = PackageRunOutcome::kUntrusted;
  // The verifier's code, the start error or the package's exit code; 0 when installed.
  DWORD code = 0;
  // Kept (with the package held) only after a refused elevation, for the retry.
  std::unique_ptr<PackageRunJob> job;
};

// How long an installation may take before the wait gives up on it.
constexpr DWORD kSetupTimeoutMs = 60 * 60 * 1000;

// Starts the run on a detached thread, which owns the job from then on. False when no thread
// could be started; the job is then dropped (a held package is released and deleted).
bool StartPackageRun(std::unique_ptr<PackageRunJob> job);

// Deletes a held package through its handle where the handle allows it, else right after
// letting it go.
void DiscardHeldPackage(nbase::UniqueFileHandle held, const std::wstring& path);
