#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "engine/BarcodeFactory.h"
#include "support/TextFlags.h"
#include "symbologies/Code39.h"

using namespace strixel;

namespace {

constexpr int Code39Type = 2;
constexpr int Code39ExtType = 3;

using Flags = TextFlags;

CBarcodeSymCode39 &AsCode39(const std::unique_ptr<CBarcodeSym> &symbol) {
  return dynamic_cast<CBarcodeSymCode39 &>(*symbol);
}

// Narrow bar b, wide bar B, narrow space s, wide space S; '?' for an
// element that Code 39 does not use.
std::string PatternOf(const std::vector<std::uint8_t> &elements) {
  std::string out;
  for (std::uint8_t e : elements)
    out += e == Bar1        ? 'b'
           : e == WideBar   ? 'B'
           : e == Space1    ? 's'
           : e == WideSpace ? 'S'
                            : '?';
  return out;
}

// Settings of a row: S ShowStSt, K ShowCheck, C CalcCheck, N
// NonPrintingToTxt; a letter left out clears the setting.
Flags FlagsOf(std::string_view letters) {
  auto has = [&](char c) { return letters.find(c) != std::string_view::npos; };
  return {has('S'), has('K'), has('C'), has('N')};
}

std::string Bytes(const std::vector<std::uint8_t> &v) {
  return std::string(v.begin(), v.end());
}

// Start/stop is n W n n W n W n n, "A" is W n n n n W n n W (the published
// table); characters are separated by one narrow space.
TEST(Code39Test, PatternOfOneCharacterWithoutCheck) {
  auto symbol = MakeSymbol(Code39Type, "A", FlagsOf("KN"));
  ASSERT_TRUE(symbol->TextValid);
  EXPECT_EQ(PatternOf(symbol->Elements), "bSbsBsBsb"
                                         "s"
                                         "BsbsbSbsB"
                                         "s"
                                         "bSbsBsBsb");
}

struct CheckRow {
  const char *Name;
  int Type;
  const char *Text;
  bool CalcCheck;
  int CheckValue; // -1: not computed, stays 0
  std::size_t ElementCount;
};

TEST(Code39Test, CheckCharacterAndElementCount) {
  // Element count is 10 per character (start, data, check, stop) less the
  // gap after the stop character.
  const CheckRow rows[] = {
      {"CODE39 check W", Code39Type, "CODE39", true, 32, 89},
      {"CODE39 no check", Code39Type, "CODE39", false, -1, 79},
      {"A with check A", Code39Type, "A", true, 10, 39},
      {"A without check", Code39Type, "A", false, -1, 29},
      {"digits", Code39Type, "0123456789", true, 2, 129},
      {"symbols", Code39Type, "-. $/+%", true, 15, 99},
      {"ext CR is $M, check I", Code39ExtType, "~0D", true, 18, 49},
      {"ext abc is +A+B+C, check R", Code39ExtType, "abc", true, 27, 89},
      {"ext upper case as itself", Code39ExtType, "CODE39", true, 32, 89},
      {"ext escape out of range", Code39ExtType, "~80", true, 0, 29},
      {"ext tilde is %S", Code39ExtType, "~~", true, 27, 49},
      {"ext ~G1 is %S G 1", Code39ExtType, "~G1", true, 1, 69},
  };
  for (const CheckRow &row : rows) {
    SCOPED_TRACE(row.Name);
    auto symbol =
        MakeSymbol(row.Type, row.Text, FlagsOf(row.CalcCheck ? "KCN" : "KN"));
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(AsCode39(symbol).CheckValue,
              row.CheckValue < 0 ? 0 : row.CheckValue);
    EXPECT_EQ(symbol->Elements.size(), row.ElementCount);
    std::string pattern = PatternOf(symbol->Elements);
    EXPECT_EQ(pattern.find('?'), std::string::npos);
    EXPECT_EQ(pattern.front(), 'b');
    EXPECT_EQ(pattern.back(), 'b');
  }
}

struct DisplayRow {
  const char *Name;
  int Type;
  const char *Text;
  const char *Settings;
  const char *Expected;
};

TEST(Code39Test, DisplayText) {
  const DisplayRow rows[] = {
      {"all shown", Code39Type, "CODE39", "SKCN", "*CODE39W*"},
      {"no start/stop", Code39Type, "CODE39", "KCN", "CODE39W"},
      {"check hidden", Code39Type, "CODE39", "CN", "CODE39"},
      {"check not computed", Code39Type, "CODE39", "KN", "CODE39"},
      {"only start/stop", Code39Type, "CODE39", "SN", "*CODE39*"},
      {"ext CR named", Code39ExtType, "~0D", "CN", "<CR>"},
      {"ext CR dropped", Code39ExtType, "~0D", "C", ""},
      {"ext CR with check", Code39ExtType, "~0D", "KCN", "<CR>I"},
      {"ext all shown", Code39ExtType, "~0D", "SKCN", "*<CR>I*"},
      {"ext lower case", Code39ExtType, "abc", "KCN", "abcR"},
      {"ext tab inside", Code39ExtType, "a~09b", "CN", "a<TAB>b"},
      {"ext tab dropped", Code39ExtType, "a~09b", "C", "ab"},
      {"ext NUL named", Code39ExtType, "~00", "CN", "<NULL>"},
      {"ext DEL copied", Code39ExtType, "~7F", "CN", "\x7f"},
      {"ext escapes resolved", Code39ExtType, "~~~41", "CN", "~A"},
  };
  for (const DisplayRow &row : rows) {
    SCOPED_TRACE(row.Name);
    auto symbol = MakeSymbol(row.Type, row.Text, FlagsOf(row.Settings));
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(symbol->Settings.DisplayText, row.Expected);
  }
}

TEST(Code39Test, SettersRebuildDisplayOnlyOrReencode) {
  auto symbol = MakeSymbol(Code39Type, "CODE39");
  ASSERT_EQ(symbol->Settings.DisplayText, "CODE39W");
  std::vector<std::uint8_t> withCheck = symbol->Elements;

  symbol->SetShowStSt(true);
  EXPECT_EQ(symbol->Settings.DisplayText, "*CODE39W*");
  symbol->SetShowCheck(false);
  EXPECT_EQ(symbol->Settings.DisplayText, "*CODE39*");
  EXPECT_EQ(symbol->Elements, withCheck);

  // Without the check the pattern loses one character; the value is kept.
  symbol->SetShowCheck(true);
  symbol->SetCalcCheck(false);
  EXPECT_EQ(symbol->Elements.size(), withCheck.size() - 10);
  EXPECT_EQ(AsCode39(symbol).CheckValue, 32);
  EXPECT_EQ(symbol->Settings.DisplayText, "*CODE39*");
  symbol->SetCalcCheck(true);
  EXPECT_EQ(symbol->Elements, withCheck);
  EXPECT_EQ(symbol->Settings.DisplayText, "*CODE39W*");
}

struct EscapeRow {
  const char *Name;
  const char *Text;
  std::string Expected;
};

TEST(Code39Test, TildeEscapes) {
  const EscapeRow rows[] = {
      {"doubled tilde", "~~", "~"},
      {"carriage return", "~0D", "\r"},
      {"lower-case hex", "~0d", "\r"},
      {"not hex stays literal", "~G1", "~G1"},
      {"above the range dropped", "~80", ""},
      {"highest in range", "~7F", "\x7f"},
      {"NUL", "~00", std::string(1, '\0')},
      {"trailing tilde", "AB~", "AB~"},
      {"one digit after tilde", "~4", "~4"},
      {"escaped tilde before digits", "~~0D", "~0D"},
      {"three tildes", "~~~", "~~"},
      {"hex tilde", "~7e", "~"},
      {"escape amid text", "A~20B", "A B"},
      {"FF dropped", "x~FFy", "xy"},
      {"second digit not hex", "~0G", "~0G"},
  };
  for (const EscapeRow &row : rows) {
    SCOPED_TRACE(row.Name);
    std::vector<std::uint8_t> chars = {'x'};
    ParseTildeEscapes(row.Text, chars, 0, 127);
    EXPECT_EQ(Bytes(chars), row.Expected);

    auto symbol = MakeSymbol(Code39ExtType, row.Text);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(Bytes(symbol->Settings.CodeChars), row.Expected);
  }
}

TEST(Code39Test, TildeEscapeRangeIsInclusive) {
  std::vector<std::uint8_t> chars;
  ParseTildeEscapes("~1F~20~7E~7F", chars, 0x20, 0x7E);
  EXPECT_EQ(Bytes(chars), " ~");
}

struct ValidityRow {
  const char *Name;
  int Type;
  std::string Text;
  bool Valid;
};

TEST(Code39Test, TextValidity) {
  const ValidityRow rows[] = {
      {"all data characters", Code39Type,
       "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%", true},
      {"lower case", Code39Type, "abc", false},
      {"asterisk", Code39Type, "A*B", false},
      {"empty", Code39Type, "", false},
      {"tilde", Code39Type, "~~", false},
      {"ext lower case", Code39ExtType, "abc", true},
      {"ext asterisk and DEL", Code39ExtType, "*\x7f", true},
      {"ext empty", Code39ExtType, "", false},
      {"ext control byte typed", Code39ExtType, "A\rB", false},
      {"ext last control byte typed", Code39ExtType, "A\x1f", false},
      {"ext space typed", Code39ExtType, " ", true},
      {"ext byte 0x80", Code39ExtType, "A\x80", false},
      {"ext byte 0xFF", Code39ExtType, "\xff", false},
  };
  for (const ValidityRow &row : rows) {
    SCOPED_TRACE(row.Name);
    auto symbol = MakeSymbol(row.Type, row.Text);
    EXPECT_EQ(symbol->TextValid, row.Valid);
    EXPECT_EQ(symbol->Encode(), row.Valid);
  }
}

// An invalid text leaves the last good pattern and display text in place;
// drawing refuses it because TextValid is false.
TEST(Code39Test, InvalidTextKeepsPreviousPattern) {
  auto symbol = MakeSymbol(Code39Type, "CODE39");
  std::vector<std::uint8_t> before = symbol->Elements;
  symbol->SetBarText("code39");
  EXPECT_FALSE(symbol->TextValid);
  EXPECT_EQ(symbol->Elements, before);
  EXPECT_EQ(symbol->Settings.DisplayText, "CODE39W");
}

} // namespace
