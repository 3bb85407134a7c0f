#include "symbologies/TwoOfFive.h"

#include <iterator>
#include <string_view>

#include "engine/Digits.h"
#include "symbologies/PatternRows.h"
#include "symbologies/RetailDigits.h"

namespace strixel {

namespace {

using namespace NarrowWide;

// 2 of 5 digit patterns, narrow or wide (element weights 1, 2, 4, 7, 0; zero
// is 4 + 7).
constexpr std::uint8_t TwoOfFivePatterns[][5] = {
    {N, N, W, W, N}, {W, N, N, N, W}, {N, W, N, N, W}, {W, W, N, N, N},
    {N, N, W, N, W}, {W, N, W, N, N}, {N, W, W, N, N}, {N, N, N, W, W},
    {W, N, N, W, N}, {N, W, N, W, N},
};
static_assert(std::size(TwoOfFivePatterns) == 10, "one row per digit");

// Industrial 2 of 5 start and stop, from a bar: bars wide, wide, narrow and
// wide, narrow, wide, with narrow spaces between and after the start.
constexpr std::uint8_t Industr25Start[] = {W, N, W, N, N, N};
constexpr std::uint8_t Industr25Stop[] = {W, N, N, N, W};

// Interleaved 2 of 5 start and stop, from a bar.
constexpr std::uint8_t Interl25Start[] = {N, N, N, N};
constexpr std::uint8_t Interl25Stop[] = {W, N, N};

// ITF-14 shows the 13 data digits in groups of 1, 2, 5 and 5 (the check
// digit, when shown, forms a group of its own), two blanks apart.
constexpr std::size_t Itf14DigitGroups[] = {1, 2, 5, 5};
static_assert(Itf14DigitGroups[0] + Itf14DigitGroups[1] + Itf14DigitGroups[2] +
                      Itf14DigitGroups[3] ==
                  Gtin14DataDigits,
              "the groups hold the data digits");
constexpr std::string_view Itf14GroupSeparator = "  ";

const std::uint8_t (&PatternOf(std::uint8_t digit))[5] {
  return TwoOfFivePatterns[DigitValue(digit)];
}

} // namespace

// Industrial 2 of 5

bool CBarcodeSymIndustr25::IsTextValid() {
  return HasDigitText();
}

char CBarcodeSymIndustr25::CheckDigitChar() const {
  const std::string &text = Settings.BarText;
  return DigitChar(CheckDigit31(text, text.size()));
}

void CBarcodeSymIndustr25::BuildCodeChars() {
  SetCodeCharsWithCheck(CheckDigitChar());
}

void CBarcodeSymIndustr25::BuildDisplayText() {
  SetDisplayTextWithCheck(CheckDigitChar());
}

bool CBarcodeSymIndustr25::Encode() {
  if (!PrepareEncode())
    return false;
  AppendRow(Elements, Industr25Start);
  // Only the bars carry the digit; every space is narrow.
  for (std::uint8_t digit : Settings.CodeChars) {
    for (std::uint8_t width : PatternOf(digit)) {
      AppendElement(BarOfWidth(width));
      AppendElement(Space1);
    }
  }
  AppendRow(Elements, Industr25Stop);
  return true;
}

// Interleaved 2 of 5

bool CBarcodeSymInterl25::IsTextValid() {
  return HasDigitText();
}

void CBarcodeSymInterl25::PaddedText(std::string &out,
                                     std::string_view text) const {
  out.clear();
  const std::size_t checkDigits = Settings.CalcCheck ? 1 : 0;
  if ((checkDigits + text.size()) % 2 != 0)
    out.push_back('0');
  out.append(text);
}

char CBarcodeSymInterl25::CheckDigitChar(std::string_view padded) {
  // The padded text has odd length here, so the weight 3 of the leftmost
  // digit is also that of the rightmost, as the standard requires.
  return DigitChar(CheckDigit31(padded, padded.size()));
}

void CBarcodeSymInterl25::BuildCodeChars() {
  std::string padded;
  PaddedText(padded, Settings.BarText);
  if (Settings.CalcCheck)
    padded.push_back(CheckDigitChar(padded));
  SetCodeChars(padded.begin(), padded.end());
}

void CBarcodeSymInterl25::BuildDisplayText() {
  std::string &display = Settings.DisplayText;
  PaddedText(display, Settings.BarText);
  if (Settings.CalcCheck && Settings.ShowCheck)
    display.push_back(CheckDigitChar(display));
}

bool CBarcodeSymInterl25::Encode() {
  if (!PrepareEncode())
    return false;
  AppendRow(Elements, Interl25Start);
  // The first digit of a pair is written in the bars, the second in the
  // spaces between them.
  const std::vector<std::uint8_t> &digits = Settings.CodeChars;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    const std::uint8_t(&bars)[5] = PatternOf(digits[i]);
    const std::uint8_t(&spaces)[5] = PatternOf(digits[i + 1]);
    for (std::size_t k = 0; k < 5; ++k) {
      AppendElement(BarOfWidth(bars[k]));
      AppendElement(SpaceOfWidth(spaces[k]));
    }
  }
  AppendRow(Elements, Interl25Stop);
  return true;
}

// ITF-14

bool CBarcodeSymITF14::IsTextValid() {
  return IsGs1Number(Settings.BarText, Gtin14DataDigits);
}

void CBarcodeSymITF14::BuildCodeChars() {
  SetGtin14CodeChars(*this);
}

void CBarcodeSymITF14::BuildDisplayText() {
  if (!IsTextValid())
    return;
  std::string &display = Settings.DisplayText;
  display.clear();
  std::size_t first = 0;
  for (std::size_t count : Itf14DigitGroups) {
    if (first > 0)
      display.append(Itf14GroupSeparator);
    display.append(Settings.BarText, first, count);
    first += count;
  }
  if (Settings.ShowCheck) {
    display.append(Itf14GroupSeparator);
    display.push_back(DigitChar(Gtin14CheckDigit(Settings.BarText)));
  }
}

} // namespace strixel
