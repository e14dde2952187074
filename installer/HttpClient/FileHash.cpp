// File digests with the AES provider of CryptoAPI, the one that carries SHA-256 since XP SP3.
#include "installer/HttpClient/FileHash.h"

#include <cctype>
#include <vector>

#include "base/Thread.h"
#include "base/UniqueResource.h"

namespace {

std::string Normalized(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace

CSha256::CSha256() {
  failed_ = !::CryptAcquireContextW(provider_.put(), nullptr, nullptr, PROV_RSA_AES,
                                    CRYPT_VERIFYCONTEXT | CRYPT_SILENT) ||
            !::CryptCreateHash(provider_.get(), CALG_SHA_256, 0, 0, hash_.put());
}

bool CSha256::Update(const void* data, DWORD size) {
  if (failed_) return false;
  if (size && !::CryptHashData(hash_.get(), static_cast<const BYTE*>(data), size, 0)) {
    failed_ = true;
  }
  return !failed_;
}

std::string CSha256::HexDigest() {
  if (failed_) return std::string();
  BYTE digest[32] = {};
  DWORD length = sizeof(digest);
  if (!::CryptGetHashParam(hash_.get(), HP_HASHVAL, digest, &length, 0) || length != 32) {
    failed_ = true;
    return std::string();
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (BYTE b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

CSha256Pipe::CSha256Pipe()
    : free_(::CreateSemaphoreW(nullptr, kBlocks, kBlocks, nullptr)),
      queued_(::CreateSemaphoreW(nullptr, 0, kBlocks, nullptr)) {
  for (Block& block : blocks_) block.data.resize(kBlockSize);
  if (free_ && queued_) {
    thread_ = nbase::StartThread("hashing", [this] { RunHashing(); });
  }
  // Without its thread the pipe still works: every block is then hashed as it is submitted.
}

CSha256Pipe::~CSha256Pipe() {
  if (!finished_) Finish();
}

char* CSha256Pipe::Acquire() {
  if (!thread_) return blocks_[0].data.data();
  if (!held_) {
    ::WaitForSingleObject(free_.get(), INFINITE);
    held_ = true;
  }
  return blocks_[next_].data.data();
}

void CSha256Pipe::Submit(DWORD size) {
  if (!thread_) {
    hash_.Update(blocks_[0].data.data(), size);
    return;
  }
  Acquire();
  Block& block = blocks_[next_];
  block.size = size;
  block.last = false;
  held_ = false;
  next_ = (next_ + 1) % kBlocks;
  ::ReleaseSemaphore(queued_.get(), 1, nullptr);
}

std::string CSha256Pipe::Finish() {
  if (finished_) return digest_;
  finished_ = true;
  if (thread_) {
    Acquire();
    Block& block = blocks_[next_];
    block.size = 0;
    block.last = true;
    held_ = false;
    ::ReleaseSemaphore(queued_.get(), 1, nullptr);
    ::WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
  }
  digest_ = hash_.HexDigest();
  return digest_;
}

void CSha256Pipe::RunHashing() {
  for (int index = 0;; index = (index + 1) % kBlocks) {
    ::WaitForSingleObject(queued_.get(), INFINITE);
    const Block& block = blocks_[index];
    if (block.last) return;
    hash_.Update(block.data.data(), block.size);
    ::ReleaseSemaphore(free_.get(), 1, nullptr);
  }
}

std::string FileSha256Hex(const std::wstring& path) {
  nbase::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return std::string();
  CSha256 hash;
  std::vector<BYTE> buffer(1 << 20);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return std::string();
    }
    if (got == 0) break;
    if (!hash.Update(buffer.data(), got)) return std::string();
  }
  return hash.HexDigest();
}

bool IdentifyFile(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

bool SameHexDigest(const std::string& a, const std::string& b) {
  const std::string left = Normalized(a);
  return !left.empty() && left == Normalized(b);
}
