#include "symbologies/Postal.h"

#include <cstdint>
#include <iterator>

#include "engine/Digits.h"

namespace strixel {

namespace {

// The bar heights of the postal tables: full and half.
constexpr std::uint8_t F = 1;
constexpr std::uint8_t H = 0;

// POSTNET digit patterns: the heights of the digit's five bars.
constexpr std::uint8_t PostalPatterns[][5] = {
    {F, F, H, H, H}, {H, H, H, F, F}, {H, H, F, H, F}, {H, H, F, F, H},
    {H, F, H, H, F}, {H, F, H, F, H}, {H, F, F, H, H}, {F, H, H, H, F},
    {F, H, H, F, H}, {F, H, F, H, H},
};
static_assert(std::size(PostalPatterns) == 10, "one row per digit");

char CorrectionDigit(const std::string &text) {
  return DigitChar(DigitSumCheckDigit(text));
}

} // namespace

int DigitSumCheckDigit(std::string_view text) {
  std::int64_t sum = 0;
  for (char c : text)
    sum += DigitValue(c);
  return TensComplement(sum);
}

bool CBarcodeSymPostPlaNet::IsTextValid() {
  return HasDigitText();
}

void CBarcodeSymPostPlaNet::BuildCodeChars() {
  SetCodeCharsWithCheck(CorrectionDigit(Settings.BarText));
}

void CBarcodeSymPostPlaNet::BuildDisplayText() {
  if (IsTextValid())
    SetDisplayTextWithCheck(CorrectionDigit(Settings.BarText));
}

bool CBarcodeSymPostPlaNet::Encode() {
  if (!PrepareEncode())
    return false;
  // PLANET writes every digit with the bar heights of POSTNET swapped.
  const BarElement fullBar = IsPostNet ? TallBar : ShortBar;
  const BarElement halfBar = IsPostNet ? ShortBar : TallBar;
  AppendElement(TallBar); // frame bar
  AppendElement(PostalSpace);
  for (std::uint8_t c : Settings.CodeChars) {
    for (std::uint8_t height : PostalPatterns[DigitValue(c)]) {
      AppendElement(height == F ? fullBar : halfBar);
      AppendElement(PostalSpace);
    }
  }
  AppendElement(TallBar); // frame bar
  return true;
}

} // namespace strixel
