#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/BarcodeFactory.h"

using namespace strixel;

namespace {

// 2 of 5 digit patterns as published, narrow n and wide w, digits 0 to 9.
const char *const TwoOfFiveDigits[10] = {"nnwwn", "wnnnw", "nwnnw", "wwnnn",
                                         "nnwnw", "wnwnn", "nwwnn", "nnnww",
                                         "wnnwn", "nwnwn"};

// The pattern as letters: b narrow bar, B wide bar, s narrow space, S wide
// space; anything else is '?'.
std::string ElementLetters(const std::vector<std::uint8_t> &elements) {
  std::string letters;
  for (std::uint8_t e : elements) {
    switch (e) {
    case Bar1:
      letters += 'b';
      break;
    case WideBar:
      letters += 'B';
      break;
    case Space1:
      letters += 's';
      break;
    case WideSpace:
      letters += 'S';
      break;
    default:
      letters += '?';
    }
  }
  return letters;
}

char DigitOfWidths(const std::string &widths) {
  for (int d = 0; d < 10; ++d)
    if (widths == TwoOfFiveDigits[d])
      return static_cast<char>('0' + d);
  return '?';
}

char WidthOf(char letter) {
  return (letter == 'B' || letter == 'S') ? 'w' : 'n';
}

bool StripFrame(std::string &letters, const std::string &start,
                const std::string &stop) {
  if (letters.size() < start.size() + stop.size() ||
      letters.compare(0, start.size(), start) != 0 ||
      letters.compare(letters.size() - stop.size(), stop.size(), stop) != 0)
    return false;
  letters =
      letters.substr(start.size(), letters.size() - start.size() - stop.size());
  return true;
}

// Reads Industrial 2 of 5 back: start, five bars with narrow spaces a digit,
// stop. "!" marks a malformed pattern.
std::string ReadIndustr25(const std::vector<std::uint8_t> &elements) {
  std::string letters = ElementLetters(elements);
  if (!StripFrame(letters, "BsBsbs", "BsbsB") || letters.size() % 10 != 0)
    return "!";
  std::string digits;
  for (std::size_t i = 0; i < letters.size(); i += 10) {
    std::string widths;
    for (std::size_t k = 0; k < 10; k += 2) {
      if (letters[i + k + 1] != 's')
        return "!";
      widths += WidthOf(letters[i + k]);
    }
    digits += DigitOfWidths(widths);
  }
  return digits;
}

// Reads Interleaved 2 of 5 back: start, pairs of digits in bars and spaces,
// stop.
std::string ReadInterl25(const std::vector<std::uint8_t> &elements) {
  std::string letters = ElementLetters(elements);
  if (!StripFrame(letters, "bsbs", "Bsb") || letters.size() % 10 != 0)
    return "!";
  std::string digits;
  for (std::size_t i = 0; i < letters.size(); i += 10) {
    std::string bars, spaces;
    for (std::size_t k = 0; k < 10; k += 2) {
      if (letters[i + k] != 'b' && letters[i + k] != 'B')
        return "!";
      bars += WidthOf(letters[i + k]);
      spaces += WidthOf(letters[i + k + 1]);
    }
    digits += DigitOfWidths(bars);
    digits += DigitOfWidths(spaces);
  }
  return digits;
}

struct Row {
  const char *Name;
  int Type;
  const char *Text;
  bool CalcCheck;
  bool ShowCheck;
  const char *Encoded; // digits read back from the pattern
  const char *Shown;   // display text
};

std::unique_ptr<CBarcodeSym> MakeSymbol(const Row &row) {
  CBarcodeProps props;
  props.BarType = row.Type;
  props.BarText = row.Text;
  props.CalcCheck = row.CalcCheck;
  props.ShowCheck = row.ShowCheck;
  return CreateBarcodeSym(props);
}

const Row ValidRows[] = {
    // Interleaved 2 of 5: a leading zero keeps the digit count even.
    {"I25 even with check", 0, "1234", true, true, "012348", "012348"},
    {"I25 even without check", 0, "1234", false, true, "1234", "1234"},
    {"I25 odd with check", 0, "12345", true, true, "123457", "123457"},
    {"I25 odd without check", 0, "12345", false, true, "012345", "012345"},
    {"I25 check hidden", 0, "1234", true, false, "012348", "01234"},
    {"I25 one digit", 0, "7", true, true, "79", "79"},
    {"I25 all digits", 0, "0123456789", false, false, "0123456789",
     "0123456789"},
    // Industrial 2 of 5: weights 3, 1, 3, ... from the leftmost digit.
    {"Ind25 even length", 1, "1234", true, true, "12342", "12342"},
    {"Ind25 odd length", 1, "12345", true, true, "123457", "123457"},
    {"Ind25 check hidden", 1, "12345", true, false, "123457", "12345"},
    {"Ind25 no check", 1, "12345", false, true, "12345", "12345"},
    {"Ind25 two digits", 1, "90", true, true, "903", "903"},
    {"Ind25 all digits", 1, "9876543210", false, false, "9876543210",
     "9876543210"},
    // ITF-14: 13 digits and the GS1 check digit, a fourteenth one replaced.
    {"ITF14 13 digits", 21, "1234567890123", true, true, "12345678901231",
     "1  23  45678  90123  1"},
    {"ITF14 14th digit ignored", 21, "12345678901234", true, true,
     "12345678901231", "1  23  45678  90123  1"},
    {"ITF14 check hidden", 21, "0950110153000", true, false, "09501101530003",
     "0  95  01101  53000"},
    {"ITF14 CalcCheck off", 21, "1540014128876", false, true, "15400141288763",
     "1  54  00141  28876  3"},
};

TEST(TwoOfFive, PatternsReadBackAsDigitsWithCheck) {
  for (const Row &row : ValidRows) {
    SCOPED_TRACE(row.Name);
    std::unique_ptr<CBarcodeSym> symbol = MakeSymbol(row);
    ASSERT_TRUE(symbol);
    EXPECT_TRUE(symbol->TextValid);
    const std::string read = row.Type == 1 ? ReadIndustr25(symbol->Elements)
                                           : ReadInterl25(symbol->Elements);
    EXPECT_EQ(read, row.Encoded);
    EXPECT_EQ(symbol->Settings.DisplayText, row.Shown);
  }
}

TEST(TwoOfFive, InvalidTextsAreRejectedAndKeepThePreviousPattern) {
  const Row rows[] = {
      {"I25 empty", 0, "", true, true, "", ""},
      {"I25 letter", 0, "12a4", true, true, "", ""},
      {"Ind25 empty", 1, "", true, true, "", ""},
      {"Ind25 blank", 1, "12 4", true, true, "", ""},
      {"ITF14 12 digits", 21, "123456789012", true, true, "", ""},
      {"ITF14 15 digits", 21, "123456789012345", true, true, "", ""},
      {"ITF14 letter", 21, "123456789012X", true, true, "", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    Row valid = row;
    valid.Text = "12345678901234";
    std::unique_ptr<CBarcodeSym> symbol = MakeSymbol(valid);
    const std::vector<std::uint8_t> before = symbol->Elements;
    const std::string shown = symbol->Settings.DisplayText;
    symbol->SetBarText(row.Text);
    EXPECT_FALSE(symbol->Encode());
    EXPECT_FALSE(symbol->TextValid);
    EXPECT_EQ(symbol->Elements, before);
    EXPECT_EQ(symbol->Settings.DisplayText, shown);
  }
}

TEST(WideElementSymbologies, WideToNarrowRatioChangesLengthOnly) {
  // Every wide bar and space grows from 4 to 6 pixels at a module of 2
  // pixels when the ratio goes from 2 to 3; nothing else changes.
  struct Case {
    const char *Name;
    int Type;
    const char *Text;
    int WideElements;
  };
  const Case cases[] = {
      {"I25 123457: two a digit and the stop bar", 0, "12345", 13},
      {"Ind25 123457: two a digit, start and stop", 1, "12345", 16},
      {"ITF-14: two a digit and the stop bar", 21, "1234567890123", 29},
      {"Codabar: three a letter, two a digit", 5, "A12345B", 16},
      {"Code 11 S1S: two a character", 4, "1", 6},
      {"MSI 805234: four a digit, start and stop", 6, "80523", 26},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    CBarcodeProps props;
    props.BarType = c.Type;
    props.BarText = c.Text;
    props.Wide2NarrowRatio = 2.0f;
    std::unique_ptr<CBarcodeSym> symbol = CreateBarcodeSym(props);
    const std::vector<std::uint8_t> elements = symbol->Elements;
    const int length = symbol->GetSymbolWidth(2);
    symbol->Settings.Wide2NarrowRatio = 3.0f;
    symbol->Encode();
    EXPECT_EQ(symbol->Elements, elements);
    EXPECT_EQ(symbol->GetSymbolWidth(2) - length, 2 * c.WideElements);
  }
}

} // namespace
