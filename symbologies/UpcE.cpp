#include "symbologies/UpcE.h"

#include <initializer_list>
#include <iterator>

#include "engine/Digits.h"
#include "symbologies/EanUpc.h"
#include "symbologies/RetailDigits.h"

namespace strixel {

namespace {

using namespace Parity;

// UPC-E parity table of number system 0, one row per check digit.
constexpr bool UpcEParityTable[][6] = {
    {E, E, E, O, O, O}, {E, E, O, E, O, O}, {E, E, O, O, E, O},
    {E, E, O, O, O, E}, {E, O, E, E, O, O}, {E, O, O, E, E, O},
    {E, O, O, O, E, E}, {E, O, E, O, E, O}, {E, O, E, O, O, E},
    {E, O, O, E, O, E},
};
static_assert(std::size(UpcEParityTable) == 10, "one row per check digit");

constexpr std::size_t UpcADataDigits = 11;
constexpr std::size_t UpcEDigits = 6;

bool AllZeros(std::string_view digits) {
  return digits.find_first_not_of('0') == std::string_view::npos;
}

bool InRange(char c, char low, char high) {
  return c >= low && c <= high;
}

} // namespace

bool UpcEParity(int checkDigit, int column) {
  return UpcEParityTable[checkDigit][column];
}

bool CBarcodeSymUPCE::CompressUpcA(std::string_view text, std::string &result) {
  if (text.size() < UpcADataDigits)
    return false;
  CheckValue = static_cast<std::uint8_t>(CheckDigit31(text, UpcADataDigits));
  // t[0] is the number system, t[1..5] the manufacturer, t[6..10] the item.
  const std::string_view t = text.substr(0, UpcADataDigits);
  const auto digits = [&t](std::initializer_list<std::size_t> at) {
    std::string s;
    for (std::size_t i : at)
      s.push_back(t[i]);
    return s;
  };
  // The rules are tried in the standard's order; the last digit of each
  // result tells the reader which rule expands it again.
  if (AllZeros(t.substr(4, 4)) && InRange(t[3], '0', '2'))
    result = digits({1, 2, 8, 9, 10, 3});
  else if (AllZeros(t.substr(4, 5)) && InRange(t[3], '3', '9'))
    result = digits({1, 2, 3, 9, 10}) + '3';
  else if (AllZeros(t.substr(5, 5)))
    result = digits({1, 2, 3, 4, 10}) + '4';
  else if (AllZeros(t.substr(6, 4)) && InRange(t[10], '5', '9'))
    result = digits({1, 2, 3, 4, 5, 10});
  else
    return false;
  return true;
}

bool CBarcodeSymUPCE::IsTextValid() {
  const std::string &text = Settings.BarText;
  if (!IsGs1Number(text, UpcADataDigits))
    return false;
  NumberSystem = static_cast<std::uint8_t>(DigitValue(text[0]));
  if (NumberSystem > 1)
    return false;
  std::string compressed;
  if (!CompressUpcA(text, compressed))
    return false;
  SetCodeChars(compressed.begin(), compressed.end());
  return true;
}

void CBarcodeSymUPCE::BuildDisplayText() {
  if (!IsTextValid())
    return;
  std::string &display = Settings.DisplayText;
  display.assign(1, DigitChar(NumberSystem));
  display.append(Settings.CodeChars.begin(), Settings.CodeChars.end());
  if (Settings.ShowCheck)
    display.push_back(DigitChar(CheckValue));
}

bool CBarcodeSymUPCE::Encode() {
  if (!PrepareEncode())
    return false;
  AppendRetailSideGuard(Elements);
  bool nextIsBar = false;
  for (std::size_t k = 0; k < UpcEDigits; ++k) {
    bool odd = UpcEParity(CheckValue, static_cast<int>(k));
    if (NumberSystem == 1)
      odd = !odd;
    AppendRetailDigitParity(Elements, DigitValue(Settings.CodeChars[k]), odd,
                            nextIsBar);
  }
  // The six-module end guard, then one more module of space.
  AppendElement(Space1);
  AppendElement(GuardBar);
  AppendElement(Space1);
  AppendElement(GuardBar);
  AppendElement(Space1);
  AppendElement(GuardBar);
  AppendElement(Space1);
  return true;
}

void CBarcodeSymUPCE::DrawText(CImageWriter &canvas, int x, int y,
                               int /*textHeight*/) const {
  DrawRetailSymbolText(*this, canvas, x, y);
}

} // namespace strixel
