#include "ledger/sha256.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#endif

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

inline uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Compresses `blocks` blocks of 64 bytes into the state.
using CompressBlocks = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

void CompressPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
  for (; blocks; --blocks, data += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = uint32_t{data[4 * i]} << 24 | uint32_t{data[4 * i + 1]} << 16 | uint32_t{data[4 * i + 2]} << 8 |
             data[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
      uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
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

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
// The processor's SHA instructions (x86 since about 2017) hash a dump five
// times as fast: each pair of rounds is one instruction, the message
// schedule two more per four rounds.
__attribute__((target("sha,sse4.1"))) void CompressShaExtensions(uint32_t state[8], const uint8_t* data,
                                                                  size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The state as the instructions hold it: ABEF and CDGH.
  __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])), 0xB1);
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks; --blocks, data += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i w[4];  // the schedule's last 16 words, four at a time
    for (int i = 0; i < 16; ++i) {
      __m128i& words = w[i & 3];  // before it is replaced: the four words of 16 rounds ago
      if (i < 4)
        words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
      else
        words = _mm_sha256msg2_epu32(
            _mm_add_epi32(_mm_sha256msg1_epu32(words, w[(i - 3) & 3]), _mm_alignr_epi8(w[(i - 1) & 3], w[(i - 2) & 3], 4)),
            w[(i - 1) & 3]);
      __m128i message = _mm_add_epi32(words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * i])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(message, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

// Asked of the processor itself (CPUID): __builtin_cpu_supports("sha") is
// unknown to older compilers (clang 14).
bool HasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool sha = (ebx & bit_SHA) != 0;
  return sse41 && sha;
}

CompressBlocks FastestCompress() { return HasShaExtensions() ? CompressShaExtensions : CompressPortable; }
#else
CompressBlocks FastestCompress() { return CompressPortable; }
#endif

class Sha256 {
 public:
  explicit Sha256(CompressBlocks compress) : compress_(compress) {}

  void Update(const uint8_t* data, size_t size) {
    length_ += size;
    if (used_) {
      size_t take = std::min(size, sizeof block_ - used_);
      std::memcpy(block_ + used_, data, take);
      used_ += take;
      data += take;
      size -= take;
      if (used_ < sizeof block_) return;
      compress_(state_, block_, 1);
      used_ = 0;
    }
    compress_(state_, data, size / 64);
    data += size / 64 * 64;
    size %= 64;
    std::memcpy(block_, data, size);
    used_ = size;
  }

  std::string HexDigest() {
    uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    size_t padding = (used_ < 56 ? 56 : 120) - used_;
    for (int i = 0; i < 8; ++i) pad[padding + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(pad, padding + 8);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint32_t word : state_)
      for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(word >> shift) & 15];
    return hex;
  }

 private:
  CompressBlocks compress_;
  uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t block_[64] = {};
  size_t used_ = 0;
  uint64_t length_ = 0;
};

CompressBlocks Compress() {
  static const CompressBlocks compress = FastestCompress();
  return compress;
}

}  // namespace

std::string Sha256Hex(const void* bytes, size_t size) {
  Sha256 sha(Compress());
  sha.Update(static_cast<const uint8_t*>(bytes), size);
  return sha.HexDigest();
}

std::string Sha256HexPortable(const void* bytes, size_t size) {
  Sha256 sha(CompressPortable);
  sha.Update(static_cast<const uint8_t*>(bytes), size);
  return sha.HexDigest();
}

bool FileSha256(const std::string& path, std::string* hex, int64_t* size, std::string* err) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *err = std::strerror(errno);
    return false;
  }
  Sha256 sha(Compress());
  std::vector<uint8_t> buffer(1 << 16);
  *size = 0;
  size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    sha.Update(buffer.data(), got);
    *size += static_cast<int64_t>(got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *err = "read error";
    return false;
  }
  *hex = sha.HexDigest();
  return true;
}
