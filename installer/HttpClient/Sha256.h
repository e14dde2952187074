// SHA-256 computed in process, with the processor's SHA instructions where it has them: the
// system provider runs at a fraction of the speed the downloader receives data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Owned by one thread at a time.
class CSha256Digest {
 public:
  CSha256Digest();

  void Update(const void* data, size_t size);
  // Lower-case hexadecimal digest of everything fed so far; the object is spent afterwards.
  std::string HexDigest();

  // Whether this processor's SHA instructions are used (for benchmarks and tests).
  static bool UsesShaInstructions();
  // Feeds whole 64-byte blocks through the portable code only, so tests can compare both.
  void ForcePortable() { portable_ = true; }

 private:
  void Compress(const uint8_t* blocks, size_t count);

  uint32_t state_[8];
  uint8_t pending_[64];
  size_t pending_size_ = 0;
  uint64_t total_ = 0;
  bool portable_ = false;
};
