// SHA-256 of a file through the system's CryptoAPI, for checking a downloaded package.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "installer/HttpClient/CryptHandles.h"

// A digest fed block by block, so a file can be hashed while it is being written.
class CSha256 {
 public:
  CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  // False once the provider has failed; the digest is then empty.
  bool Update(const void* data, DWORD size);
  // Lower-case hexadecimal digest of everything fed so far; empty after a failure.
  std::string HexDigest();

 private:
  // Declared first: the hash must be destroyed before its provider is released.
  UniqueCryptProvider provider_;
  UniqueCryptHash hash_;
  bool failed_ = false;
};

// A digest taken on a thread of its own. CryptoAPI's SHA-256 is far slower than copying a file,
// so a caller that copies blocks hands each one over and reads or writes the next meanwhile.
// Owned and fed by one thread; the hashing thread only ever touches blocks handed to it.
class CSha256Pipe {
 public:
  static constexpr DWORD kBlockSize = 4 << 20;

  CSha256Pipe();
  // Waits for the hashing thread; what is still queued is hashed and dropped.
  ~CSha256Pipe();
  CSha256Pipe(const CSha256Pipe&) = delete;
  CSha256Pipe& operator=(const CSha256Pipe&) = delete;

  // A block of kBlockSize bytes to fill; waits while every block is queued. Until Submit, the
  // same block is returned again, so a read that delivered nothing costs no hand-over.
  char* Acquire();
  // Queues the first `size` bytes of the acquired block.
  void Submit(DWORD size);
  // Waits until everything queued is hashed; the digest as CSha256::HexDigest gives it. Once
  // only: the pipe takes no more blocks afterwards.
  std::string Finish();

 private:
  struct Block {
    std::vector<char> data;
    DWORD size = 0;
    bool last = false;
  };
  static constexpr int kBlocks = 3;

  void RunHashing();

  CSha256 hash_;
  Block blocks_[kBlocks];
  // Free blocks count down as they are acquired, queued ones up as they are submitted; the
  // semaphores also order each block's bytes between the two threads.
  nbase::UniqueHandle free_;
  nbase::UniqueHandle queued_;
  nbase::UniqueHandle thread_;
  int next_ = 0;       // the block the feeding thread fills next
  bool held_ = false;  // the feeding thread holds blocks_[next_]
  bool finished_ = false;
  std::string digest_;
};

// Which file a handle reaches (volume and file index) and how long it is: enough to tell that a
// digest taken through one handle describes the file another handle holds, and not a file put
// in its place under the same name.
struct FileIdentity {
  DWORD volume = 0;
  unsigned long long index = 0;
  unsigned long long size = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && index == other.index && size == other.size;
  }
};
// False when the system cannot tell.
bool IdentifyFile(HANDLE file, FileIdentity* identity);

// The SHA-256 of a whole file taken while it was written, with the file it describes; `sha256`
// is empty when none was taken.
struct TakenDigest {
  std::string sha256;  // lower-case hex
  FileIdentity file;
};

// Lower-case hexadecimal digest of the file's bytes; empty when the file or the provider
// cannot be used.
std::string FileSha256Hex(const std::wstring& path);

// Whether two digests in hexadecimal text name the same value (case and surrounding blanks
// do not matter).
bool SameHexDigest(const std::string& a, const std::string& b);
