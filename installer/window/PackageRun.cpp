// The package run's thread: verify, rename by handle, run elevated, report by a posted message.
#include "installer/window/PackageRun.h"

#include <cstdio>
#include <vector>

#include "base/StringUtil.h"
#include "base/Thread.h"
#include "installer/main/ElevatedRun.h"
#include "installer/main/Log.h"
#include "installer/main/SystemUtil.h"
#include "installer/window/SetupRules.h"

namespace {

// Gives the held file its final name while it stays held, so no one can slip another file under
// that name between the check and the start.
bool RenameHeld(HANDLE file, const std::wstring& target) {
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), info->FileName);
  return ::SetFileInformationByHandle(file, FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

void WriteLanguageMarker(const PackageRunJob& job) {
  const std::wstring path = job.product.LanguageMarkerPath();
  nbase::UniqueStdioFile file(::_wfopen(path.c_str(), L"w+"));
  if (!file) return;
  const std::string name = nbase::UTF16ToUTF8(job.language_name);
  std::fwrite(name.data(), 1, name.size(), file.get());
}

// Verifies the downloaded file and puts it in place; false (with `code`) when it must not run.
bool VerifyAndPlace(PackageRunJob& job, DWORD& code) {
  if (::WaitForSingleObject(job.gate->cancel_event(), 0) == WAIT_OBJECT_0) {
    code = kVerifyCancelled;
    LOG_APP(L"the user quit before the package was verified; it is not run");
    DiscardHeldPackage(nbase::UniqueFileHandle(), job.download_path);
    return false;
  }
  nbase::UniqueFileHandle held = HoldPackageFile(job.download_path);
  if (!held) {
    code = ::GetLastError();
    LOG_ERR(L"cannot hold the package %ls (error %lu)", job.download_path.c_str(),
            static_cast<unsigned long>(code));
    sysutil::DeleteFilePath(job.download_path);
    return false;
  }
  const PackageVerdict verdict = PackageVerifier(job.pins).Verify(
      held.get(), job.download_path, job.gate->cancel_event(), &job.downloaded);
  if (verdict.code == kVerifyCancelled) {
    code = verdict.code;
    LOG_APP(L"the user quit during the package's verification; it is not run");
    DiscardHeldPackage(std::move(held), job.download_path);
    return false;
  }
  LOG_APP(L"package signer: %ls; root sha256: %hs", verdict.signer.c_str(),
          verdict.root_sha256.c_str());
  if (!verdict.trusted) {
    code = verdict.code;
    LOG_ERR(L"package refused (0x%08lX): %ls", static_cast<unsigned long>(code),
            verdict.reason.c_str());
    DiscardHeldPackage(std::move(held), job.download_path);
    return false;
  }
  LOG_APP(L"package verified: %ls; %llu bytes read for the checks%ls", verdict.reason.c_str(),
          verdict.bytes_read,
          verdict.digest_from_download ? L", the pinned digest the download's own" : L"");
  if (job.target_path != job.download_path && !RenameHeld(held.get(), job.target_path)) {
    code = ::GetLastError();
    LOG_ERR(L"cannot give the package its name %ls (error %lu)", job.target_path.c_str(),
            static_cast<unsigned long>(code));
    DiscardHeldPackage(std::move(held), job.download_path);
    return false;
  }
  // While it runs, it is held for reading only: the program loader opens the image sharing
  // read access, and not everywhere delete access. The new handle is opened before the old one
  // closes, so the file is never without a holder that refuses writers and deleters.
  nbase::UniqueFileHandle reading(::ReOpenFile(held.get(), GENERIC_READ, FILE_SHARE_READ, 0));
  job.held = reading ? std::move(reading) : std::move(held);
  return true;
}

// Tells the gate the run is over however its thread leaves, so a window waiting for a stopped
// run is not kept waiting for the whole bound.
struct FinishOnExit {
  std::shared_ptr<PackageRunGate> gate;
  ~FinishOnExit() { gate->Finish(); }
};

void RunPackage(std::unique_ptr<PackageRunJob> job) {
  const FinishOnExit finish{job->gate};
  auto result = std::make_unique<PackageRunResult>();
  const HWND window = job->window;
  if (!job->held && !VerifyAndPlace(*job, result->code)) {
    result->outcome = result->code == kVerifyCancelled ? PackageRunOutcome::kStopped
                                                       : PackageRunOutcome::kUntrusted;
  } else if (!job->gate->Pass()) {
    LOG_APP(L"the user quit before the verified package started; it is not run");
    result->outcome = PackageRunOutcome::kStopped;
    result->code = kVerifyCancelled;
    DiscardHeldPackage(std::move(job->held), job->target_path);
  } else {
    sysutil::CreateDirectoryChain(job->install_folder);
    // The package stays held (no write, rename or delete) until its process has ended.
    const ElevatedRunResult run =
        RunElevatedAndWait(job->target_path, setup::SilentInstallParameters(job->install_folder),
                           job->working_folder, kSetupTimeoutMs);
    if (run.start_error == ERROR_CANCELLED) {
      LOG_WAR(L"the elevation prompt was refused");
      result->outcome = PackageRunOutcome::kElevationRefused;
      result->code = run.start_error;
    } else if (run.start_error != 0) {
      LOG_ERR(L"the package did not start (error %lu)",
              static_cast<unsigned long>(run.start_error));
      result->outcome = PackageRunOutcome::kStartFailed;
      result->code = run.start_error;
    } else if (!run.Succeeded()) {
      LOG_ERR(L"the package ended with code %lu%ls", static_cast<unsigned long>(run.exit_code),
              run.timed_out ? L" (still running when the wait ended)" : L"");
      result->outcome = PackageRunOutcome::kSetupFailed;
      result->code = run.exit_code;
    } else {
      LOG_APP(L"------- finish silent install -------");
      result->outcome = PackageRunOutcome::kInstalled;
      WriteLanguageMarker(*job);
    }
    if (result->outcome == PackageRunOutcome::kElevationRefused) {
      result->job = std::move(job);
    } else {
      DiscardHeldPackage(std::move(job->held), job->target_path);
    }
  }
  // The window's own thread decides what follows; a window already gone cannot take the result,
  // which is then dropped here (a package still held is released and deleted with it).
  PackageRunResult* raw = result.release();
  if (!::PostMessageW(window, WM_SILENT_INSTALL_DONE, 0, reinterpret_cast<LPARAM>(raw))) {
    std::unique_ptr<PackageRunResult> dropped(raw);
    if (dropped->job) DiscardHeldPackage(std::move(dropped->job->held), dropped->job->target_path);
  }
}

}  // namespace

void DiscardHeldPackage(nbase::UniqueFileHandle held, const std::wstring& path) {
  if (held) {
    FILE_DISPOSITION_INFO dispose = {TRUE};
    if (::SetFileInformationByHandle(held.get(), FileDispositionInfo, &dispose, sizeof(dispose))) {
      return;  // gone when the handle closes, right here
    }
    held.reset();
  }
  sysutil::DeleteFilePath(path);
}

bool StartPackageRun(std::unique_ptr<PackageRunJob> job) {
  // Handed over as a raw pointer so that a thread that never starts leaves the job here, where
  // its held package is discarded.
  PackageRunJob* const handed = job.get();
  if (!nbase::StartDetachedThread(
          "package run", [handed] { RunPackage(std::unique_ptr<PackageRunJob>(handed)); })) {
    LOG_ERR(L"cannot start the silent install (errno %d)", errno);
    DiscardHeldPackage(std::move(job->held), job->target_path);
    return false;
  }
  (void)job.release();  // the thread owns it now
  return true;
}
