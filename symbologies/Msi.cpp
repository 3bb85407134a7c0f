#include "symbologies/Msi.h"

#include <iterator>
#include <string>
#include <string_view>

#include "engine/Digits.h"
#include "symbologies/PatternRows.h"
#include "symbologies/RetailDigits.h"

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

// Sum of the decimal digits of twice the number written by digits, formed
// exactly however many digits there are.
long long DoubledDigitSum(std::string_view digits) {
  // Doubling from the rightmost digit: each digit gives (2d + carry) mod 10
  // and a carry of at most 1, so no intermediate value exceeds 19.
  long long sum = 0;
  int carry = 0;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    const int doubled = 2 * DigitValue(*it) + carry;
    sum += doubled % 10;
    carry = doubled / 10;
  }
  return sum + carry;
}

} // namespace

int CBarcodeSymMSI::MsiCheckDigit() const {
  const std::string &text = Settings.BarText;
  const std::size_t n = text.size();
  // The rightmost digit and every second one to its left form the number to
  // double; the others are added as they are.
  std::string doubled;
  doubled.reserve(n / 2 + 1);
  long long sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if ((n - 1 - i) % 2 == 0)
      doubled.push_back(text[i]);
    else
      sum += DigitValue(text[i]);
  }
  sum += DoubledDigitSum(doubled);
  return TensComplement(sum);
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
