#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "engine/BarcodeFactory.h"
#include "support/TextFlags.h"
#include "symbologies/Code93.h"

using namespace strixel;

namespace {

constexpr int Code93Type = 19;
constexpr int Code93ExtType = 20;

using Flags = TextFlags;

CBarcodeSymCode93 &AsCode93(const std::unique_ptr<CBarcodeSym> &symbol) {
  return dynamic_cast<CBarcodeSymCode93 &>(*symbol);
}

// Module widths of the elements, bars and spaces alike; '?' for an element
// out of place (a space where a bar belongs, or one Code 93 does not use).
std::string WidthsOf(const std::vector<std::uint8_t> &elements) {
  std::string out;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    std::uint8_t e = elements[i];
    bool bar = e == Bar1 || e == Bar2 || e == Bar3 || e == Bar4;
    bool space = e == Space1 || e == Space2 || e == Space3 || e == Space4;
    int modules = e == Bar1 || e == Space1   ? 1
                  : e == Bar2 || e == Space2 ? 2
                  : e == Bar3 || e == Space3 ? 3
                                             : 4;
    bool inPlace = i % 2 == 0 ? bar : space;
    out += inPlace ? static_cast<char>('0' + modules) : '?';
  }
  return out;
}

// "A" gives C = 10 ("A") and K = 30 ("U"); start and stop are 1 1 1 1 4 1,
// "A" is 2 1 1 1 1 3 and "U" 2 2 1 1 2 1 in the published table.
TEST(Code93Test, PatternOfOneCharacter) {
  auto symbol = MakeSymbol(Code93Type, "A");
  EXPECT_EQ(AsCode93(symbol).CheckC, 10);
  EXPECT_EQ(AsCode93(symbol).CheckK, 30);
  EXPECT_EQ(WidthsOf(symbol->Elements), "111141"
                                        "211113"
                                        "211113"
                                        "221121"
                                        "111141"
                                        "1");
}

struct CheckRow {
  const char *Name;
  int Type;
  const char *Text;
  int CheckC;
  int CheckK;
  std::size_t ValueCount; // data values, shift characters included
};

TEST(Code93Test, CheckCharactersAndElementCount) {
  const CheckRow rows[] = {
      {"TEST93", Code93Type, "TEST93", 41, 6, 6},
      {"CODE93", Code93Type, "CODE93", 25, 31, 6},
      {"A", Code93Type, "A", 10, 30, 1},
      {"ext upper case as itself", Code93ExtType, "TEST93", 41, 6, 6},
      {"ext lower a is (+)A", Code93ExtType, "a", 8, 25, 2},
      {"ext dollar and slash single", Code93ExtType, "$/", 24, 33, 2},
      {"ext CR is ($)M, K is (+)", Code93ExtType, "~0D", 14, 46, 2},
      {"ext out of range dropped", Code93ExtType, "~80", 0, 0, 0},
  };
  for (const CheckRow &row : rows) {
    SCOPED_TRACE(row.Name);
    auto symbol = MakeSymbol(row.Type, row.Text);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(AsCode93(symbol).CheckC, row.CheckC);
    EXPECT_EQ(AsCode93(symbol).CheckK, row.CheckK);
    // Start, data, C, K and stop of 6 elements each, then the termination bar.
    EXPECT_EQ(symbol->Elements.size(), 6 * (row.ValueCount + 4) + 1);
    std::string widths = WidthsOf(symbol->Elements);
    EXPECT_EQ(widths.find('?'), std::string::npos) << widths;
  }
}

// Weights restart after 20 (C) and 15 (K): with 21 values the first one is
// weighted 1 again in C, with 16 values in K.
TEST(Code93Test, CheckWeightsWrap) {
  std::vector<std::uint8_t> values(21, 0);
  values.front() = 1;
  EXPECT_EQ(CBarcodeSymCode93::Code93CheckValue(values, true), 1);
  values.assign(20, 0);
  values.front() = 1;
  EXPECT_EQ(CBarcodeSymCode93::Code93CheckValue(values, true), 20);
  values.assign(16, 0);
  values.front() = 1;
  EXPECT_EQ(CBarcodeSymCode93::Code93CheckValue(values, false), 1);
  values.assign(15, 0);
  values.front() = 1;
  EXPECT_EQ(CBarcodeSymCode93::Code93CheckValue(values, false), 15);
  // The start value 47 changes nothing.
  EXPECT_EQ(CBarcodeSymCode93::Code93CheckValue({47, 3, 9}, true),
            CBarcodeSymCode93::Code93CheckValue({3, 9}, true));
}

// Settings of a row: S ShowStSt, K ShowCheck, C CalcCheck, N
// NonPrintingToTxt; a letter left out clears the setting.
Flags FlagsOf(std::string_view letters) {
  auto has = [&](char c) { return letters.find(c) != std::string_view::npos; };
  return {has('S'), has('K'), has('C'), has('N')};
}

struct DisplayRow {
  const char *Name;
  int Type;
  const char *Text;
  const char *Settings;
  const char *Expected;
};

TEST(Code93Test, DisplayText) {
  const DisplayRow rows[] = {
      {"checks shown", Code93Type, "TEST93", "KCN", "TEST93+6"},
      {"checks hidden", Code93Type, "TEST93", "CN", "TEST93"},
      {"start/stop never shown", Code93Type, "TEST93", "SKCN", "TEST93+6"},
      {"CalcCheck ignored", Code93Type, "CODE93", "KN", "CODE93PV"},
      {"ext CR named", Code93ExtType, "~0D", "CN", "<CR>"},
      {"ext CR dropped", Code93ExtType, "~0D", "C", ""},
      {"ext shift check shows as its sign", Code93ExtType, "~0D", "KCN",
       "<CR>E+"},
      {"ext lower case", Code93ExtType, "a", "KCN", "a8P"},
      {"ext tilde", Code93ExtType, "~~", "CN", "~"},
  };
  for (const DisplayRow &row : rows) {
    SCOPED_TRACE(row.Name);
    auto symbol = MakeSymbol(row.Type, row.Text, FlagsOf(row.Settings));
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(symbol->Settings.DisplayText, row.Expected);
  }
}

TEST(Code93Test, CalcCheckChangesNothingShowCheckOnlyTheText) {
  auto symbol = MakeSymbol(Code93Type, "TEST93");
  std::vector<std::uint8_t> before = symbol->Elements;
  symbol->SetCalcCheck(false);
  EXPECT_EQ(symbol->Elements, before);
  EXPECT_EQ(symbol->Settings.DisplayText, "TEST93+6");
  symbol->SetShowCheck(false);
  EXPECT_EQ(symbol->Elements, before);
  EXPECT_EQ(symbol->Settings.DisplayText, "TEST93");
}

// The display text built before the checks are computed is replaced at the
// end of the encode, so a new text never shows the old checks.
TEST(Code93Test, NewTextShowsItsOwnChecks) {
  auto symbol = MakeSymbol(Code93Type, "TEST93");
  symbol->SetBarText("CODE93");
  EXPECT_EQ(symbol->Settings.DisplayText, "CODE93PV");
}

struct ValidityRow {
  const char *Name;
  int Type;
  std::string Text;
  bool Valid;
};

TEST(Code93Test, TextValidity) {
  const ValidityRow rows[] = {
      {"all data characters", Code93Type,
       "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%", true},
      {"lower case", Code93Type, "abc", false},
      {"asterisk", Code93Type, "*", false},
      {"empty", Code93Type, "", false},
      {"ext lower case", Code93ExtType, "abc", true},
      {"ext empty", Code93ExtType, "", false},
      {"ext control byte typed", Code93ExtType, "\r", false},
      {"ext byte 0x80", Code93ExtType, "\x80", false},
  };
  for (const ValidityRow &row : rows) {
    SCOPED_TRACE(row.Name);
    auto symbol = MakeSymbol(row.Type, row.Text);
    EXPECT_EQ(symbol->TextValid, row.Valid);
    EXPECT_EQ(symbol->Encode(), row.Valid);
  }
}

} // namespace
