#include "symbologies/Msi.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "engine/Digits.h"
#include "symbologies/PatternRows.h"

namespace strixel {

namespace {

using namespace NarrowWide;

// MSI digit patterns: the four bits of the digit's binary form, most
// significant first, each a bar and a space: W N for a 1, N W for a 0.
constexpr std::uint8_t MsiPatterns[][8] = {
    {N, W, N, W, N, W, N, W}, {N, W, N, W, N, W, W, N},
    {N, W, N, W, W, N, N, W}, {N, W, N, W, W, N, W, N},
    {N, W, W, N, N, W, N, W}, {N, W, W, N, N, W, W, N},
    {N, W, W, N, W, N, N, W}, {N, W, W, N, W, N, W, N},
    {W, N, N, W, N, W, N, W}, {W, N, N, W, N, W, W, N},
};
static_assert(std::size(MsiPatterns) == 10, "one row per digit");

// MSI start and stop characters, from a bar.
constexpr std::uint8_t MsiStart[] = {W, N};
constexpr std::uint8_t MsiStop[] = {N, W, N};

// The decimal digits of twice the number that digits write, however many
// there are: doubled on paper, from the rightmost digit, with the carry.
std::string Twice(std::string_view digits) {
  std::string product(digits.size() + 1, '0');
  int carry = 0;
  for (std::size_t i = digits.size(); i > 0; --i) {
    const int doubled = 2 * DigitValue(digits[i - 1]) + carry;
    product[i] = DigitChar(doubled % 10);
    carry = doubled / 10;
  }
  product[0] = DigitChar(carry);
  return product;
}

std::int64_t DigitSum(std::string_view digits) {
  std::int64_t sum = 0;
  for (char c : digits)
    sum += DigitValue(c);
  return sum;
}

} // namespace

int CBarcodeSymMSI::MsiCheckDigit() const {
  const std::string &text = Settings.BarText;
  const std::size_t n = text.size();
  // The rightmost digit and every second one to its left write, in their
  // order, a number D; the other digits are added as they are, and so are
  // the digits of 2 x D.
  std::string d;
  d.reserve(n / 2 + 1);
  std::string others;
  others.reserve(n / 2);
  for (std::size_t i = 0; i < n; ++i)
    ((n - 1 - i) % 2 == 0 ? d : others).push_back(text[i]);
  return TensComplement(DigitSum(others) + DigitSum(Twice(d)));
}

bool CBarcodeSymMSI::IsTextValid() {
  return HasDigitText();
}

void CBarcodeSymMSI::BuildCodeChars() {
  SetCodeCharsWithCheck(DigitChar(MsiCheckDigit()));
}

void CBarcodeSymMSI::BuildDisplayText() {
  if (IsTextValid())
    SetDisplayTextWithCheck(DigitChar(MsiCheckDigit()));
}

void CBarcodeSymMSI::AppendMsiDigit(int digit) {
  if (digit >= 0 && digit <= 9)
    AppendRow(Elements, MsiPatterns[digit]);
}

bool CBarcodeSymMSI::Encode() {
  if (!PrepareEncode())
    return false;
  AppendRow(Elements, MsiStart);
  for (std::uint8_t c : Settings.CodeChars)
    AppendMsiDigit(DigitValue(c));
  AppendRow(Elements, MsiStop);
  return true;
}

} // namespace strixel
