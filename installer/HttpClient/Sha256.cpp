// SHA-256 block compression: a portable version and one on the x86 SHA extensions, chosen once
// per process by what the processor reports.
#include "installer/HttpClient/Sha256.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotate(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

void CompressPortable(uint32_t* state, const uint8_t* blocks, size_t count) {
  for (; count > 0; --count, blocks += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = static_cast<uint32_t>(blocks[4 * i]) << 24 |
             static_cast<uint32_t>(blocks[4 * i + 1]) << 16 |
             static_cast<uint32_t>(blocks[4 * i + 2]) << 8 | blocks[4 * i + 3];
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) +
                          ((e & f) ^ (~e & g)) + kRound[i] + w[i];
      const uint32_t t2 =
          (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

// The state kept as ABEF and CDGH, as the round instruction wants it; four rounds per group,
// the message schedule computed one group ahead.
__attribute__((target("sha,sse4.1,ssse3"))) void CompressSha(uint32_t* state, const uint8_t* blocks,
                                                             size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  low = _mm_shuffle_epi32(low, 0xB1);
  high = _mm_shuffle_epi32(high, 0x1B);
  __m128i abef = _mm_alignr_epi8(low, high, 8);
  __m128i cdgh = _mm_blend_epi16(high, low, 0xF0);
  for (; count > 0; --count, blocks += 64) {
    const __m128i abef_saved = abef;
    const __m128i cdgh_saved = cdgh;
    __m128i words[4];
    for (int i = 0; i < 16; ++i) {
      if (i < 4) {
        words[i] = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byte_swap);
      }
      const __m128i current = words[i & 3];
      __m128i message =
          _mm_add_epi32(current, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * i])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      if (i >= 3 && i < 15) {
        __m128i& next = words[(i + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(current, words[(i + 3) & 3], 4));
        next = _mm_sha256msg2_epu32(next, current);
      }
      message = _mm_shuffle_epi32(message, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
      if (i >= 1 && i < 13) {
        words[(i + 3) & 3] = _mm_sha256msg1_epu32(words[(i + 3) & 3], current);
      }
    }
    abef = _mm_add_epi32(abef, abef_saved);
    cdgh = _mm_add_epi32(cdgh, cdgh_saved);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

bool DetectShaInstructions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & (1u << 9)) != 0;
  const bool sse41 = (c & (1u << 19)) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & (1u << 29)) != 0;
}

}  // namespace

bool CSha256Digest::UsesShaInstructions() {
  static const bool present = DetectShaInstructions();
  return present;
}

CSha256Digest::CSha256Digest()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void CSha256Digest::Compress(const uint8_t* blocks, size_t count) {
  if (!portable_ && UsesShaInstructions()) {
    CompressSha(state_, blocks, count);
  } else {
    CompressPortable(state_, blocks, count);
  }
}

void CSha256Digest::Update(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  total_ += size;
  if (pending_size_ > 0) {
    const size_t take = size < 64 - pending_size_ ? size : 64 - pending_size_;
    std::memcpy(pending_ + pending_size_, bytes, take);
    pending_size_ += take;
    bytes += take;
    size -= take;
    if (pending_size_ < 64) return;
    Compress(pending_, 1);
    pending_size_ = 0;
  }
  if (size >= 64) {
    Compress(bytes, size / 64);
    bytes += size / 64 * 64;
    size %= 64;
  }
  std::memcpy(pending_, bytes, size);
  pending_size_ = size;
}

std::string CSha256Digest::HexDigest() {
  const uint64_t bits = total_ * 8;
  uint8_t tail[128] = {};
  std::memcpy(tail, pending_, pending_size_);
  tail[pending_size_] = 0x80;
  const size_t length = pending_size_ < 56 ? 64 : 128;
  for (int i = 0; i < 8; ++i) tail[length - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  Compress(tail, length / 64);
  pending_size_ = 0;
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(word >> shift) & 15];
  }
  return text;
}
