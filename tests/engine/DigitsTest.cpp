#include "engine/Digits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace strixel;

namespace {

// The two hexadecimal rules side by side: colours and tilde escapes stop at
// f, form escapes run on to z and read every other byte as 0.
TEST(Digits, HexDigitAndFormEscapeDigit) {
  const struct {
    char Byte;
    int Hex;
    int FormEscape;
  } rows[] = {
      {'0', 0, 0},   {'9', 9, 9},   {'a', 10, 10},
      {'A', 10, 10}, {'f', 15, 15}, {'F', 15, 15},
      {'g', -1, 16}, {'G', -1, 16}, {'z', -1, 35},
      {'Z', -1, 35}, {'/', -1, 0},  {':', -1, 0},
      {'@', -1, 0},  {'[', -1, 0},  {'`', -1, 0},
      {'{', -1, 0},  {'\0', -1, 0}, {static_cast<char>(0xC1), -1, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("byte code ") +
                 std::to_string(static_cast<unsigned char>(row.Byte)));
    EXPECT_EQ(HexDigit(row.Byte), row.Hex);
    EXPECT_EQ(FormEscapeDigit(row.Byte), row.FormEscape);
  }
}

// The complement to the next multiple of ten, 0..9 for any sum: a negative
// one (from a byte below '0') too, and the largest.
TEST(Digits, TensComplement) {
  const struct {
    std::int64_t Sum;
    int Check;
  } rows[] = {{0, 0},  {1, 9},   {9, 1},         {10, 0},       {25, 5},
              {-1, 1}, {-25, 5}, {INT64_MAX, 3}, {INT64_MIN, 8}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Sum);
    EXPECT_EQ(TensComplement(row.Sum), row.Check);
  }
}

} // namespace
