#include "symbologies/RetailDigits.h"

#include <gtest/gtest.h>

#include "symbologies/RetailModules.h"

using namespace strixel;

using namespace retail_test;

namespace {

struct CheckRow {
  const char *name;
  int (*check)(std::string_view, std::size_t);
  const char *text;
  std::size_t n;
  int expected;
};

TEST(RetailDigits, WeightedCheckDigits) {
  const CheckRow rows[] = {
      {"EAN-13 5901234123457", CheckDigit13, "590123412345", 12, 7},
      {"EAN-13 4006381333931", CheckDigit13, "400638133393", 12, 1},
      {"EAN-13 ignores bytes beyond n", CheckDigit13, "5901234123459", 12, 7},
      {"EAN-8 96385074", CheckDigit31, "9638507", 7, 4},
      {"EAN-8 55123457", CheckDigit31, "5512345", 7, 7},
      {"UPC-A 036000291452", CheckDigit31, "03600029145", 11, 2},
      {"UPC-A 012345678905", CheckDigit31, "01234567890", 11, 5},
      {"even count keeps weight 3 on the left", CheckDigit31, "1234", 4, 2},
      {"even count, 1-3 weights", CheckDigit13, "1234", 4, 8},
      {"sum a multiple of ten", CheckDigit31, "0000000", 7, 0},
      {"empty text", CheckDigit31, "", 11, 0},
      {"empty text, 1-3 weights", CheckDigit13, "", 12, 0},
      {"count beyond the text stops at its end", CheckDigit31, "12", 9, 5},
  };
  for (const CheckRow &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.check(row.text, row.n), row.expected);
  }
}

TEST(RetailDigits, AddOnChecksums) {
  struct Row {
    const char *text;
    int addOn;
  } const rows[] = {
      {"52495", 1},               // 3*(5+4+5) + 9*(2+9) = 141
      {"00000", 0}, {"12345", 1}, // 3*(1+3+5) + 9*(2+4) = 81
      {"86104", 3},               // 3*(8+1+4) + 9*(6+0) = 93
      {"99", 8},                  // 3*9 + 9*9 = 108
      {"", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(AddOnChecksum(row.text), row.addOn);
  }
  // The add-on checksum stops at the first blank.
  EXPECT_EQ(AddOnChecksum("12345 999"), AddOnChecksum("12345"));
}

// Each emitter run must print the standard's seven-module digit code.
TEST(RetailDigits, DigitEmittersGiveTheThreeNumberSets) {
  for (int d = 0; d <= 9; ++d) {
    SCOPED_TRACE("digit " + std::to_string(d));
    struct Run {
      const char *set;
      bool startsWithBar;
      bool odd;
      bool plain;
      std::string expected;
    } const runs[] = {
        {"A", false, true, true, LeftOddCodes[d]},
        {"A by parity", false, true, false, LeftOddCodes[d]},
        {"B", false, false, false, LeftEvenCode(d)},
        {"C", true, true, true, RightCode(d)},
    };
    for (const Run &run : runs) {
      SCOPED_TRACE(run.set);
      std::vector<std::uint8_t> elements;
      bool nextIsBar = run.startsWithBar;
      const bool ok =
          run.plain ? AppendRetailDigit(elements, d, nextIsBar)
                    : AppendRetailDigitParity(elements, d, run.odd, nextIsBar);
      EXPECT_TRUE(ok);
      EXPECT_EQ(elements.size(), 4u);
      EXPECT_EQ(ModuleString(elements), run.expected);
      EXPECT_EQ(nextIsBar, run.startsWithBar);
    }
  }
}

TEST(RetailDigits, DigitOutOfRangeAppendsNothing) {
  for (int d : {10, 11, -1}) {
    SCOPED_TRACE(d);
    std::vector<std::uint8_t> elements = {Bar1};
    bool nextIsBar = false;
    EXPECT_FALSE(AppendRetailDigit(elements, d, nextIsBar));
    EXPECT_FALSE(AppendRetailDigitParity(elements, d, false, nextIsBar));
    EXPECT_EQ(elements.size(), 1u);
    EXPECT_FALSE(nextIsBar);
  }
}

} // namespace
