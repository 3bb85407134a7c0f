#include "symbologies/Postal.h"

#include <iterator>

#include "engine/Digits.h"
#include "symbologies/RetailDigits.h"

namespace strixel {

namespace {

// POSTNET digit patterns: 1 a full-height bar, 0 a half-height bar.
static constexpr bool PostalPatterns[10][5] = {
    {1, 1, 0, 0, 0}, {0, 0, 0, 1, 1}, {0, 0, 1, 0, 1}, {0, 0, 1, 1, 0},
    {0, 1, 0, 0, 1}, {0, 1, 0, 1, 0}, {0, 1, 1, 0, 0}, {1, 0, 0, 0, 1},
    {1, 0, 0, 1, 0}, {1, 0, 1, 0, 0},
};
static_assert(std::size(PostalPatterns) == 10, "one row per digit");

char CorrectionDigit(const std::string &text) {
  return DigitChar(DigitSumCheckDigit(text));
}

} // namespace

int CBarcodeSymPostPlaNet::GetSymbolWidth(int) const {
  return NeverFits;
}

bool CBarcodeSymPostPlaNet::FitsIn(int, int, int) const {
  return false;
}

int CBarcodeSymPostPlaNet::FindModuleWidth(int, int) const {
  return 1;
}

int CBarcodeSymPostPlaNet::GetOrigin(const CRect &, int &, int &) const {
  return 0;
}

bool CBarcodeSymPostPlaNet::IsTextValid() {
  return HasDigitText();
}

void CBarcodeSymPostPlaNet::BuildCodeChars() {
  if (!IsTextValid())
    return;
  CBarcodeSym::BuildCodeChars();
  if (Settings.CalcCheck)
    Settings.CodeChars.push_back(
        static_cast<std::uint8_t>(CorrectionDigit(Settings.BarText)));
}

void CBarcodeSymPostPlaNet::BuildDisplayText() {
  if (!IsTextValid())
    return;
  Settings.DisplayText = Settings.BarText;
  if (Settings.CalcCheck && Settings.ShowCheck)
    Settings.DisplayText.push_back(CorrectionDigit(Settings.BarText));
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
    for (bool full : PostalPatterns[DigitValue(c)]) {
      AppendElement(full ? fullBar : halfBar);
      AppendElement(PostalSpace);
    }
  }
  AppendElement(TallBar); // frame bar
  return true;
}

} // namespace strixel
