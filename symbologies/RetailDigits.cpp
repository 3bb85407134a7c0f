#include "symbologies/RetailDigits.h"

#include "engine/BarElement.h"
#include "engine/BarcodeSym.h"
#include "engine/Digits.h"
#include "symbologies/PatternRows.h"

namespace strixel {

// ISO/IEC 15420 number set A: module widths space, bar, space, bar of each
// digit; read backwards they give set B, started with a bar set C.
constexpr std::uint8_t RetailDigitWidths[][4] = {
    {3, 2, 1, 1}, {2, 2, 2, 1}, {2, 1, 2, 2}, {1, 4, 1, 1}, {1, 1, 3, 2},
    {1, 2, 3, 1}, {1, 1, 1, 4}, {1, 3, 1, 2}, {1, 2, 1, 3}, {3, 1, 1, 2},
};
static_assert(std::size(RetailDigitWidths) == 10, "one row per digit");

namespace {

int WeightedCheckDigit(std::string_view text, std::size_t n, int evenWeight,
                       int oddWeight) {
  // Never read past the text, whatever count the caller asks for.
  const std::size_t count = n < text.size() ? n : text.size();
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < count; ++i)
    sum += static_cast<std::int64_t>(i % 2 == 0 ? evenWeight : oddWeight) *
           DigitValue(text[i]);
  return TensComplement(sum);
}

} // namespace

int CheckDigit31(std::string_view text, std::size_t n) {
  return WeightedCheckDigit(text, n, 3, 1);
}

int CheckDigit13(std::string_view text, std::size_t n) {
  return WeightedCheckDigit(text, n, 1, 3);
}

int AddOnChecksum(std::string_view text) {
  const std::size_t blank = text.find(' ');
  const std::string_view digits = text.substr(0, blank);
  std::int64_t odd = 0;  // 1st, 3rd, 5th ... digit from the right
  std::int64_t even = 0; // 2nd, 4th ... digit from the right
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int value = DigitValue(digits[digits.size() - 1 - i]);
    if (i % 2 == 0)
      odd += value;
    else
      even += value;
  }
  const std::int64_t sum = 3 * odd + 9 * even;
  return static_cast<int>(((sum % 10) + 10) % 10);
}

bool IsGs1Number(std::string_view text, std::size_t dataDigits) {
  return CBarcodeSym::IsAllDigits(text) &&
         (text.size() == dataDigits || text.size() == dataDigits + 1);
}

void SetGs1CodeChars(CBarcodeSym &symbol, std::size_t dataDigits,
                     int checkDigit) {
  const std::string &text = symbol.Settings.BarText;
  std::vector<std::uint8_t> &chars = symbol.Settings.CodeChars;
  chars.assign(text.begin(), text.begin() + dataDigits);
  chars.push_back(static_cast<std::uint8_t>(DigitChar(checkDigit)));
}

void SetGs1DisplayText(CBarcodeSym &symbol, std::size_t dataDigits,
                       int checkDigit) {
  CBarcodeProps &settings = symbol.Settings;
  settings.DisplayText.assign(settings.BarText, 0, dataDigits);
  if (settings.ShowCheck)
    settings.DisplayText.push_back(DigitChar(checkDigit));
}

int Gtin14CheckDigit(std::string_view text) {
  return CheckDigit31(text, Gtin14DataDigits);
}

void SetGtin14CodeChars(CBarcodeSym &symbol) {
  SetGs1CodeChars(symbol, Gtin14DataDigits,
                  Gtin14CheckDigit(symbol.Settings.BarText));
}

bool AppendRetailDigit(std::vector<std::uint8_t> &elements, int digit,
                       bool &nextIsBar) {
  return AppendRetailDigitParity(elements, digit, true, nextIsBar);
}

bool AppendRetailDigitParity(std::vector<std::uint8_t> &elements, int digit,
                             bool odd, bool &nextIsBar) {
  if (digit < 0 || digit > 9)
    return false;
  const std::uint8_t(&widths)[4] = RetailDigitWidths[digit];
  if (odd) {
    AppendRow(elements, widths, nextIsBar);
    return true;
  }
  // Even parity is the odd-parity row read backwards.
  const std::uint8_t reversed[4] = {widths[3], widths[2], widths[1], widths[0]};
  AppendRow(elements, reversed, nextIsBar);
  return true;
}

} // namespace strixel
