#include "imaging/Adler32.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace strixel {

namespace {

static_assert(255ULL * CAdler32::Run * (CAdler32::Run + 1) / 2 +
                      (CAdler32::Run + 1) * (CAdler32::Base - 1) <=
                  UINT32_MAX,
              "the sums of a run fit 32 bits");

constexpr std::size_t Block = 16;
static_assert(CAdler32::Run % Block == 0, "a run is whole blocks");

// Adds bytes one at a time; size is at most a run.
void AddBytes(std::uint32_t &a, std::uint32_t &b, const std::uint8_t *data,
              std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    a += data[i];
    b += a;
  }
}

#ifdef __SSE2__
std::uint64_t LaneSum(__m128i v) {
  alignas(16) std::uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i *>(lanes), v);
  return std::uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
}

// Adds whole blocks of sixteen bytes; size is at most a run. Over blocks
// k = 0, 1, ... with a_k the value of a before block k:
//   b += sum of (16 a_k + sum over the block of (16 - i) byte_i),
//   a_k = a + the bytes of the blocks before k,
// so b needs, beside the weighted sums, the running total of the bytes
// summed once per block.
void AddBlocks(std::uint32_t &a, std::uint32_t &b, const std::uint8_t *data,
               std::size_t blocks) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i firstWeights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i lastWeights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  __m128i bytes = zero;    // the bytes added so far
  __m128i earlier = zero;  // the bytes before each block, summed per block
  __m128i weighted = zero; // the weighted sums of the blocks
  for (std::size_t k = 0; k < blocks; ++k) {
    const __m128i d =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + k * Block));
    earlier = _mm_add_epi32(earlier, bytes);
    bytes = _mm_add_epi32(bytes, _mm_sad_epu8(d, zero));
    weighted = _mm_add_epi32(
        weighted, _mm_madd_epi16(_mm_unpacklo_epi8(d, zero), firstWeights));
    weighted = _mm_add_epi32(
        weighted, _mm_madd_epi16(_mm_unpackhi_epi8(d, zero), lastWeights));
  }
  const std::uint64_t sumB = b + std::uint64_t{Block} * blocks * a +
                             Block * LaneSum(earlier) + LaneSum(weighted);
  a = static_cast<std::uint32_t>((a + LaneSum(bytes)) % CAdler32::Base);
  b = static_cast<std::uint32_t>(sumB % CAdler32::Base);
}
#endif

} // namespace

void CAdler32::Add(const std::uint8_t *data, std::size_t size) {
  while (size > 0) {
    std::size_t n = std::min(size, Run);
    data += n;
    size -= n;
    const std::uint8_t *run = data - n;
#ifdef __SSE2__
    const std::size_t blocks = n / Block;
    AddBlocks(A, B, run, blocks);
    run += blocks * Block;
    n -= blocks * Block;
#endif
    AddBytes(A, B, run, n);
    A %= Base;
    B %= Base;
  }
}

void CAdler32::AddZeros(std::uint64_t count) {
  B = static_cast<std::uint32_t>((B + count % Base * A) % Base);
}

} // namespace strixel
