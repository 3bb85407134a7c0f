#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/BarcodeFactory.h"
#include "symbologies/Postal.h"

using namespace strixel;

namespace {

// POSTNET digits as published: F full-height bar, h half-height bar.
const char *const PostNetDigits[10] = {"FFhhh", "hhhFF", "hhFhF", "hhFFh",
                                       "hFhhF", "hFhFh", "hFFhh", "FhhhF",
                                       "FhhFh", "FhFhh"};

// Reads the digits back from the pattern: full-height frame bars at both
// ends, five bars a digit, a postal space after every bar but the last.
// PLANET digits are POSTNET digits with the heights swapped.
std::string ReadPostal(const std::vector<std::uint8_t> &elements, bool planet) {
  const std::size_t n = elements.size();
  if (n < 3 || (n - 3) % 10 != 0 || elements[0] != TallBar ||
      elements[n - 1] != TallBar)
    return "!";
  for (std::size_t i = 1; i < n; i += 2)
    if (elements[i] != PostalSpace)
      return "!";
  std::string digits;
  for (std::size_t i = 2; i + 1 < n; i += 10) {
    std::string heights;
    for (std::size_t k = 0; k < 10; k += 2) {
      const bool tall = elements[i + k] == TallBar;
      if (!tall && elements[i + k] != ShortBar)
        return "!";
      heights += (tall != planet) ? 'F' : 'h';
    }
    char found = '?';
    for (int d = 0; d < 10; ++d)
      if (heights == PostNetDigits[d])
        found = static_cast<char>('0' + d);
    digits += found;
  }
  return digits;
}

std::unique_ptr<CBarcodeSym> MakePostal(int type, const char *text,
                                        bool calcCheck, bool showCheck) {
  CBarcodeProps props;
  props.BarType = type;
  props.BarText = text;
  props.CalcCheck = calcCheck;
  props.ShowCheck = showCheck;
  return CreateBarcodeSym(props);
}

struct Row {
  const char *Name;
  int Type;
  const char *Text;
  bool CalcCheck;
  bool ShowCheck;
  const char *Read;
  const char *Shown;
};

const Row Rows[] = {
    {"POSTNET with check", 17, "12345", true, true, "123455", "123455"},
    {"PLANET with check", 18, "12345", true, true, "123455", "123455"},
    {"POSTNET check hidden", 17, "12345", true, false, "123455", "12345"},
    {"POSTNET no check", 17, "12345", false, true, "12345", "12345"},
    {"PLANET no check", 18, "12345", false, false, "12345", "12345"},
    {"POSTNET ZIP+4", 17, "555551237", true, true, "5555512372", "5555512372"},
    {"PLANET all digits", 18, "0123456789", true, true, "01234567895",
     "01234567895"},
};

TEST(Postal, CorrectionDigits) {
  struct Row {
    const char *text;
    int digitSum;
  } const rows[] = {
      {"52495", 5}, // sum 25
      {"00000", 0}, {"12345", 5}, {"86104", 1}, {"99", 2}, {"", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(DigitSumCheckDigit(row.text), row.digitSum);
  }
}

TEST(Postal, PatternsReadBack) {
  for (const Row &row : Rows) {
    SCOPED_TRACE(row.Name);
    std::unique_ptr<CBarcodeSym> symbol =
        MakePostal(row.Type, row.Text, row.CalcCheck, row.ShowCheck);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(ReadPostal(symbol->Elements, row.Type == 18), row.Read);
    EXPECT_EQ(symbol->Elements.size(), 10 * std::string(row.Read).size() + 3);
    EXPECT_EQ(symbol->Settings.DisplayText, row.Shown);
  }
}

TEST(Postal, PostNetAndPlanetHaveInverseDigitBars) {
  std::unique_ptr<CBarcodeSym> postNet = MakePostal(17, "12345", true, true);
  std::unique_ptr<CBarcodeSym> planet = MakePostal(18, "12345", true, true);
  const std::vector<std::uint8_t> start = {
      TallBar,  PostalSpace, ShortBar, PostalSpace, ShortBar, PostalSpace,
      ShortBar, PostalSpace, TallBar,  PostalSpace, TallBar};
  ASSERT_EQ(postNet->Elements.size(), 63u);
  ASSERT_EQ(planet->Elements.size(), 63u);
  EXPECT_EQ(std::vector<std::uint8_t>(postNet->Elements.begin(),
                                      postNet->Elements.begin() + 11),
            start);
  for (std::size_t i = 2; i + 1 < 63; i += 2) {
    SCOPED_TRACE(i);
    EXPECT_NE(postNet->Elements[i], planet->Elements[i]);
  }
  EXPECT_EQ(planet->Elements.front(), TallBar);
  EXPECT_EQ(planet->Elements.back(), TallBar);
}

TEST(Postal, InvalidTexts) {
  for (const char *text : {"", "1234a", "12-34"}) {
    SCOPED_TRACE(text);
    std::unique_ptr<CBarcodeSym> symbol = MakePostal(17, text, true, true);
    EXPECT_FALSE(symbol->TextValid);
    EXPECT_FALSE(symbol->Encode());
  }
}

// Every postal bar and space is one module: 10 x n + 3 elements and two
// quiet zones of ten modules; the base layout fits and places the symbol.
TEST(Postal, OneModuleEveryElement) {
  for (int type : {17, 18}) {
    SCOPED_TRACE(type);
    std::unique_ptr<CBarcodeSym> symbol = MakePostal(type, "12345", true, true);
    for (int m : {1, 2, 10})
      EXPECT_EQ(symbol->GetSymbolWidth(m), (63 + 20) * m);
    EXPECT_TRUE(symbol->FitsIn(1, 83, 699));
    EXPECT_FALSE(symbol->FitsIn(1, 82, 699));
    EXPECT_EQ(symbol->FindModuleWidth(83 * 3 + 82, 100), 3);
  }
}

} // namespace
