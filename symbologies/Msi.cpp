#include "symbologies/Msi.h"

#include <iterator>
#include <string>
#include <string_view>

#include "engine/Digits.h"

namespace strixel {

namespace {

// MSI digit bits: the binary-coded decimal form of each digit, most
// significant bit first.
static constexpr bool MsiDigitBits[10][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 1, 0}, {0, 0, 1, 1}, {0, 1, 0, 0},
    {0, 1, 0, 1}, {0, 1, 1, 0}, {0, 1, 1, 1}, {1, 0, 0, 0}, {1, 0, 0, 1},
};
static_assert(std::size(MsiDigitBits) == 10, "one row per digit");

// MSI start and stop characters.
static constexpr BarElement MsiStart[] = {WideBar, Space1};
static constexpr BarElement MsiStop[] = {Bar1, WideSpace, Bar1};

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
  const int rest = static_cast<int>(((sum % 10) + 10) % 10);
  return (10 - rest) % 10;
}

bool CBarcodeSymMSI::IsTextValid() {
  return HasDigitText();
}

void CBarcodeSymMSI::BuildCodeChars() {
  if (!IsTextValid())
    return;
  CBarcodeSym::BuildCodeChars();
  if (Settings.CalcCheck)
    Settings.CodeChars.push_back(
        static_cast<std::uint8_t>(DigitChar(MsiCheckDigit())));
}

void CBarcodeSymMSI::BuildDisplayText() {
  if (!IsTextValid())
    return;
  Settings.DisplayText = Settings.BarText;
  if (Settings.CalcCheck && Settings.ShowCheck)
    Settings.DisplayText.push_back(DigitChar(MsiCheckDigit()));
}

void CBarcodeSymMSI::AppendMsiDigit(int digit) {
  if (digit < 0 || digit > 9)
    return;
  for (bool bit : MsiDigitBits[digit]) {
    if (bit) {
      AppendElement(WideBar);
      AppendElement(Space1);
    } else {
      AppendElement(Bar1);
      AppendElement(WideSpace);
    }
  }
}

bool CBarcodeSymMSI::Encode() {
  if (!PrepareEncode())
    return false;
  Elements.insert(Elements.end(), std::begin(MsiStart), std::end(MsiStart));
  for (std::uint8_t c : Settings.CodeChars)
    AppendMsiDigit(DigitValue(c));
  Elements.insert(Elements.end(), std::begin(MsiStop), std::end(MsiStop));
  return true;
}

} // namespace strixel
