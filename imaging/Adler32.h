#pragma once

#include <cstddef>
#include <cstdint>

namespace strixel {

// Adler-32, the check that ends a zlib stream (RFC 1950): two sums modulo
// 65521, a of the bytes (plus one) and b of the successive values of a.
// zlib adds the bytes one at a time; this adds sixteen at a time where the
// processor has SSE2, which makes it several times cheaper on the long
// rows of a PNG, and gives the same value.
class CAdler32 {
public:
  void Add(const std::uint8_t *data, std::size_t size);
  // Adds count zero bytes at once: each leaves a as it is and adds it to b.
  // An image's repeated rows reach zlib as long runs of them.
  void AddZeros(std::uint64_t count);
  std::uint32_t Value() const { return B << 16 | A; }

  static constexpr std::uint32_t Base = 65521;
  // The most bytes after which b, starting below Base, still fits 32 bits
  // (zlib's NMAX): 255 n (n + 1) / 2 + (n + 1) (Base - 1) < 2^32.
  static constexpr std::size_t Run = 5552;

private:
  std::uint32_t A = 1;
  std::uint32_t B = 0;
};

} // namespace strixel
