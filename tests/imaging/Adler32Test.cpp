// The writer's Adler-32 against zlib's own, for the lengths where its
// blocks, runs and leftover bytes meet, and for the bytes that make its
// sums largest.
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <vector>

#include "imaging/Adler32.h"

using namespace strixel;

namespace {

std::uint32_t ZlibAdler(const std::vector<std::uint8_t> &bytes) {
  return static_cast<std::uint32_t>(adler32(
      adler32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

TEST(Adler32, EqualsZlibsForEveryLengthAndByte) {
  std::mt19937 random(11);
  const std::size_t lengths[] = {0,    1,    15,   16,    17,    33,
                                 5551, 5552, 5553, 11104, 11121, 200001};
  for (const std::size_t length : lengths)
    for (const int fill : {0x00, 0xFF, -1}) {
      std::vector<std::uint8_t> bytes(length, static_cast<std::uint8_t>(fill));
      if (fill < 0)
        for (std::uint8_t &byte : bytes)
          byte = static_cast<std::uint8_t>(random());
      CAdler32 whole;
      whole.Add(bytes.data(), bytes.size());
      EXPECT_EQ(whole.Value(), ZlibAdler(bytes)) << length << " " << fill;
      // The same bytes in pieces of odd sizes, as rows come.
      CAdler32 pieces;
      for (std::size_t at = 0; at < length;) {
        const std::size_t piece =
            std::min<std::size_t>(length - at, 7 + at % 61);
        pieces.Add(bytes.data() + at, piece);
        at += piece;
      }
      EXPECT_EQ(pieces.Value(), whole.Value()) << length << " " << fill;
    }
}

TEST(Adler32, ZerosAddedAtOnceEqualZlibsByteByByte) {
  // After bytes that leave a and b large, as the rows before a repeated one
  // do; the counts reach past the modulus and a run.
  const std::vector<std::uint8_t> before(3000, 0xFF);
  const std::size_t counts[] = {0, 1, 5552, 65520, 65521, 65522, 300000};
  for (const std::size_t count : counts) {
    std::vector<std::uint8_t> bytes = before;
    bytes.resize(before.size() + count, 0);
    bytes.push_back(0x02);
    CAdler32 check;
    check.Add(before.data(), before.size());
    check.AddZeros(count);
    const std::uint8_t after = 0x02;
    check.Add(&after, 1);
    EXPECT_EQ(check.Value(), ZlibAdler(bytes)) << count;
  }
}

} // namespace
