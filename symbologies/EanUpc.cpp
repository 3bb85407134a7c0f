#include "symbologies/EanUpc.h"

#include <iterator>
#include <string>

#include "engine/Digits.h"
#include "symbologies/RetailDigits.h"

namespace strixel {

namespace {

using namespace Parity;

// EAN-13 first-digit table: parity of the six left-hand digits for each
// leading digit.
constexpr bool Ean13FirstDigitParity[][6] = {
    {O, O, O, O, O, O}, {O, O, E, O, E, E}, {O, O, E, E, O, E},
    {O, O, E, E, E, O}, {O, E, O, O, E, E}, {O, E, E, O, O, E},
    {O, E, E, E, O, O}, {O, E, O, E, O, E}, {O, E, O, E, E, O},
    {O, E, E, O, E, O},
};
static_assert(std::size(Ean13FirstDigitParity) == 10,
              "one row per leading digit");

// What tells the three full-size numbers apart.
struct RetailNumber {
  std::size_t DataDigits;
  // Weights 1, 3, ... for EAN-13's even count of data digits, 3, 1, ... for
  // the odd ones, so that the rightmost data digit always weighs 3.
  int (*CheckDigit)(std::string_view text, std::size_t n);
  std::size_t HalfDigits;
  // EAN-13's leading digit has no bars of its own: it selects the parities
  // of the left half. The other numbers' left digits all have odd parity.
  bool LeadingDigitInParities;
};

constexpr RetailNumber NumberOf(BarcodeType type) {
  switch (type) {
  case Ean13:
    return {12, CheckDigit13, 6, true};
  case Ean8:
    return {7, CheckDigit31, 4, false};
  default:
    return {11, CheckDigit31, 6, false};
  }
}

int CodeDigit(const CBarcodeSym &symbol, std::size_t k) {
  return DigitValue(symbol.Settings.CodeChars[k]);
}

// Left guard, the left half, centre guard, the right half (set C), right
// guard.
void AppendRetailHalves(CBarcodeSym &symbol, const RetailNumber &number) {
  std::vector<std::uint8_t> &elements = symbol.Elements;
  const std::size_t first = number.LeadingDigitInParities ? 1 : 0;
  // Row 0, all odd parity, serves the other numbers: an EAN-13 whose leading
  // digit is 0 is a UPC-A.
  const int leading = number.LeadingDigitInParities ? CodeDigit(symbol, 0) : 0;
  const bool *parity = Ean13FirstDigitParity[leading];
  AppendRetailSideGuard(elements);
  bool nextIsBar = false;
  for (std::size_t k = 0; k < number.HalfDigits; ++k)
    AppendRetailDigitParity(elements, CodeDigit(symbol, first + k), parity[k],
                            nextIsBar);
  AppendRetailCentreGuard(elements);
  nextIsBar = true;
  for (std::size_t k = number.HalfDigits; k < 2 * number.HalfDigits; ++k)
    AppendRetailDigit(elements, CodeDigit(symbol, first + k), nextIsBar);
  AppendRetailSideGuard(elements);
}

} // namespace

void AppendRetailSideGuard(std::vector<std::uint8_t> &elements) {
  elements.insert(elements.end(), {GuardBar, Space1, GuardBar});
}

void AppendRetailCentreGuard(std::vector<std::uint8_t> &elements) {
  elements.insert(elements.end(), {Space1, GuardBar, Space1, GuardBar, Space1});
}

void DrawRetailSymbolText(const CBarcodeSym &symbol, CImageWriter &canvas,
                          int x, int y) {
  const CBarcodeProps &settings = symbol.Settings;
  if (!settings.ShowText)
    return;
  const int align = settings.TextAlign;
  if (settings.ShowGuard || align == RetailFirstDigitOutside ||
      align == RetailFirstAndLastDigitOutside || align == RetailDigitsInside)
    symbol.DrawRetailText(canvas, x, y, settings.DisplayText);
  else
    symbol.DrawTextLine(canvas, x, y, settings.DisplayText);
}

template <BarcodeType Type> int CBarcodeSymRetail<Type>::CheckDigit() const {
  return NumberOf(Type).CheckDigit(Settings.BarText, NumberOf(Type).DataDigits);
}

template <BarcodeType Type> bool CBarcodeSymRetail<Type>::IsTextValid() {
  return IsGs1Number(Settings.BarText, NumberOf(Type).DataDigits);
}

template <BarcodeType Type> void CBarcodeSymRetail<Type>::BuildCodeChars() {
  SetGs1CodeChars(*this, NumberOf(Type).DataDigits, CheckDigit());
}

template <BarcodeType Type> void CBarcodeSymRetail<Type>::BuildDisplayText() {
  if (IsTextValid())
    SetGs1DisplayText(*this, NumberOf(Type).DataDigits, CheckDigit());
}

template <BarcodeType Type> bool CBarcodeSymRetail<Type>::Encode() {
  if (!PrepareEncode())
    return false;
  AppendRetailHalves(*this, NumberOf(Type));
  return true;
}

template <BarcodeType Type>
void CBarcodeSymRetail<Type>::DrawText(CImageWriter &canvas, int x, int y,
                                       int /*textHeight*/) const {
  DrawRetailSymbolText(*this, canvas, x, y);
}

template class CBarcodeSymRetail<Ean13>;
template class CBarcodeSymRetail<Ean8>;
template class CBarcodeSymRetail<UpcA>;

} // namespace strixel
