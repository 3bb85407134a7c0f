#include "symbologies/EanUpc.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "symbologies/RetailModules.h"

using namespace strixel;

using namespace retail_test;

namespace {

enum class Kind { EAN13, EAN8, UPCA };

std::unique_ptr<CBarcodeSym> MakeSymbol(Kind kind, const std::string &text,
                                        bool showCheck = true,
                                        bool calcCheck = true) {
  CBarcodeProps props;
  props.BarText = text;
  props.ShowCheck = showCheck;
  props.CalcCheck = calcCheck;
  std::unique_ptr<CBarcodeSym> symbol;
  switch (kind) {
  case Kind::EAN13:
    symbol = std::make_unique<CBarcodeSymEAN13>(props);
    break;
  case Kind::EAN8:
    symbol = std::make_unique<CBarcodeSymEAN8>(props);
    break;
  case Kind::UPCA:
    symbol = std::make_unique<CBarcodeSymUPCA>(props);
    break;
  }
  symbol->Encode();
  return symbol;
}

// EAN-13 first-digit table, as the standard prints it with A and B sets.
const char *const LeadingDigitParities[10] = {
    "OOOOOO", "OOEOEE", "OOEEOE", "OOEEEO", "OEOOEE",
    "OEEOOE", "OEEEOO", "OEOEOE", "OEOEEO", "OEEOEO"};

struct ReadBack {
  bool guardsOk = false;
  std::string digits;   // every digit the bars carry
  std::string parities; // left-half parities
};

// Reads a full-size pattern: guards, halfDigits left digits, centre guard,
// halfDigits right digits, guard. For EAN-13 the leading digit is inferred
// from the parities.
ReadBack Read(const std::vector<std::uint8_t> &elements, int halfDigits,
              bool inferLeading) {
  ReadBack back;
  const std::string m = ModuleString(elements);
  const std::size_t centre = 3 + 7 * halfDigits;
  const std::size_t total = centre + 5 + 7 * halfDigits + 3;
  if (m.size() != total)
    return back;
  back.guardsOk = m.substr(0, 3) == "101" && m.substr(centre, 5) == "01010" &&
                  m.substr(total - 3) == "101";
  std::string left;
  ReadLeftDigits(m, 3, halfDigits, left, back.parities);
  if (inferLeading) {
    char leading = '?';
    for (int d = 0; d < 10; ++d)
      if (back.parities == LeadingDigitParities[d])
        leading = static_cast<char>('0' + d);
    back.digits += leading;
  }
  back.digits += left + ReadRightDigits(m, centre + 5, halfDigits);
  return back;
}

struct Row {
  const char *name;
  Kind kind;
  const char *text;
  const char *barDigits; // number with its check digit, read from the bars
  const char *display;
  bool showCheck;
};

TEST(EanUpc, BarsCarryTheNumberWithItsComputedCheckDigit) {
  const Row rows[] = {
      {"EAN-13 without check", Kind::EAN13, "590123412345", "5901234123457",
       "5901234123457", true},
      {"EAN-13 with check", Kind::EAN13, "5901234123457", "5901234123457",
       "5901234123457", true},
      {"EAN-13 wrong check replaced", Kind::EAN13, "5901234123450",
       "5901234123457", "5901234123457", true},
      {"EAN-13 without shown check", Kind::EAN13, "5901234123457",
       "5901234123457", "590123412345", false},
      {"EAN-13 4006381333931", Kind::EAN13, "400638133393", "4006381333931",
       "4006381333931", true},
      {"EAN-8 without check", Kind::EAN8, "9638507", "96385074", "96385074",
       true},
      {"EAN-8 wrong check replaced", Kind::EAN8, "96385079", "96385074",
       "96385074", true},
      {"EAN-8 without shown check", Kind::EAN8, "96385074", "96385074",
       "9638507", false},
      {"UPC-A without check", Kind::UPCA, "03600029145", "036000291452",
       "036000291452", true},
      {"UPC-A wrong check replaced", Kind::UPCA, "036000291459", "036000291452",
       "036000291452", true},
      {"UPC-A without shown check", Kind::UPCA, "036000291452", "036000291452",
       "03600029145", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const auto symbol = MakeSymbol(row.kind, row.text, row.showCheck);
    ASSERT_TRUE(symbol->TextValid);
    const int half = row.kind == Kind::EAN8 ? 4 : 6;
    const ReadBack back = Read(symbol->Elements, half, row.kind == Kind::EAN13);
    EXPECT_TRUE(back.guardsOk);
    EXPECT_EQ(back.digits, row.barDigits);
    EXPECT_EQ(symbol->Settings.DisplayText, row.display);
    if (row.kind != Kind::EAN13) {
      EXPECT_EQ(back.parities, std::string(half, 'O'));
    }
  }
}

TEST(EanUpc, ElementCountsAndModuleLengths) {
  struct Size {
    Kind kind;
    const char *text;
    std::size_t elements;
    std::size_t modules;
  } const sizes[] = {{Kind::EAN13, "590123412345", 59, 95},
                     {Kind::EAN8, "9638507", 43, 67},
                     {Kind::UPCA, "03600029145", 59, 95}};
  for (const Size &size : sizes) {
    SCOPED_TRACE(size.text);
    const auto symbol = MakeSymbol(size.kind, size.text);
    EXPECT_EQ(symbol->Elements.size(), size.elements);
    EXPECT_EQ(ModuleString(symbol->Elements).size(), size.modules);
    EXPECT_EQ(symbol->GetSymbolWidth(1), static_cast<int>(size.modules) + 20);
  }
}

TEST(EanUpc, LeadingDigitSelectsTheLeftParities) {
  for (int d = 0; d <= 9; ++d) {
    SCOPED_TRACE("leading digit " + std::to_string(d));
    const std::string text = std::to_string(d) + "12345678901";
    const auto symbol = MakeSymbol(Kind::EAN13, text);
    const ReadBack back = Read(symbol->Elements, 6, true);
    EXPECT_EQ(back.parities, LeadingDigitParities[d]);
    EXPECT_EQ(back.digits.substr(0, 12), text);
  }
}

TEST(EanUpc, LeadingZeroGivesTheUpcABars) {
  for (const char *upc : {"03600029145", "01234567890", "98765432109"}) {
    SCOPED_TRACE(upc);
    const auto ean = MakeSymbol(Kind::EAN13, std::string("0") + upc);
    const auto upca = MakeSymbol(Kind::UPCA, upc);
    EXPECT_EQ(ean->Elements, upca->Elements);
  }
}

TEST(EanUpc, CheckSettingsDoNotChangeTheBars) {
  const auto reference = MakeSymbol(Kind::EAN13, "590123412345");
  const auto noCalc = MakeSymbol(Kind::EAN13, "590123412345", true, false);
  const auto noShow = MakeSymbol(Kind::EAN13, "590123412345", false, true);
  EXPECT_EQ(noCalc->Elements, reference->Elements);
  EXPECT_EQ(noCalc->Settings.DisplayText, "5901234123457");
  EXPECT_EQ(noShow->Elements, reference->Elements);
  const std::vector<std::uint8_t> codeChars = {
      '5', '9', '0', '1', '2', '3', '4', '1', '2', '3', '4', '5', '7'};
  EXPECT_EQ(reference->Settings.CodeChars, codeChars);
}

TEST(EanUpc, InvalidTextsAreRejected) {
  struct Bad {
    Kind kind;
    const char *text;
  } const bad[] = {
      {Kind::EAN13, "59012341234"},
      {Kind::EAN13, "59012341234570"},
      {Kind::EAN13, "590123 412345"},
      {Kind::EAN13, "59012341234A"},
      {Kind::EAN13, ""},
      {Kind::EAN8, "963850"},
      {Kind::EAN8, "963850741"},
      {Kind::EAN8, "963x507"},
      {Kind::UPCA, "0360002914"},
      {Kind::UPCA, "0360002914521"},
      {Kind::UPCA, "03600029145 "},
      {Kind::UPCA, "-3600029145"},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(std::string("\"") + b.text + "\"");
    const auto symbol = MakeSymbol(b.kind, b.text);
    EXPECT_FALSE(symbol->TextValid);
    EXPECT_FALSE(symbol->Encode());
    EXPECT_TRUE(symbol->Elements.empty());
    EXPECT_TRUE(symbol->Settings.DisplayText.empty());
  }
}

} // namespace
