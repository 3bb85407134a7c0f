#include "symbologies/EanUpc.h"

#include <string>

#include "engine/Digits.h"
#include "symbologies/RetailDigits.h"

namespace strixel {

namespace {

// EAN-13 first-digit table: parity of the six left-hand digits for each
// leading digit (true: odd parity, set A; false: even parity, set B).
constexpr bool O = true;
constexpr bool E = false;
static constexpr bool Ean13FirstDigitParity[10][6] = {
    {O, O, O, O, O, O}, {O, O, E, O, E, E}, {O, O, E, E, O, E},
    {O, O, E, E, E, O}, {O, E, O, O, E, E}, {O, E, E, O, O, E},
    {O, E, E, E, O, O}, {O, E, O, E, O, E}, {O, E, O, E, E, O},
    {O, E, E, O, E, O},
};
static_assert(sizeof(Ean13FirstDigitParity) /
                      sizeof(Ean13FirstDigitParity[0]) ==
                  10,
              "one row per leading digit");

constexpr std::size_t Ean13DataDigits = 12;
constexpr std::size_t Ean8DataDigits = 7;
constexpr std::size_t UpcADataDigits = 11;

int CodeDigit(const CBarcodeSym &symbol, std::size_t k) {
  return DigitValue(symbol.Settings.CodeChars[k]);
}

// Left half in set A, centre guard, right half in set C: the layout of EAN-8
// and UPC-A, whose left digits all have odd parity.
void AppendOddLeftRightHalves(CBarcodeSym &symbol, std::size_t halfDigits) {
  std::vector<std::uint8_t> &elements = symbol.Elements;
  AppendRetailSideGuard(elements);
  bool nextIsBar = false;
  for (std::size_t k = 0; k < halfDigits; ++k)
    AppendRetailDigit(elements, CodeDigit(symbol, k), nextIsBar);
  AppendRetailCentreGuard(elements);
  nextIsBar = true;
  for (std::size_t k = halfDigits; k < 2 * halfDigits; ++k)
    AppendRetailDigit(elements, CodeDigit(symbol, k), nextIsBar);
  AppendRetailSideGuard(elements);
}

} // namespace

void AppendRetailSideGuard(std::vector<std::uint8_t> &elements) {
  elements.insert(elements.end(), {GuardBar, Space1, GuardBar});
}

void AppendRetailCentreGuard(std::vector<std::uint8_t> &elements) {
  elements.insert(elements.end(), {Space1, GuardBar, Space1, GuardBar, Space1});
}

void CBarcodeSymEAN13::DrawRetailSymbolText(const CBarcodeSym &symbol,
                                            CImageWriter &canvas, int x,
                                            int y) {
  const CBarcodeProps &settings = symbol.Settings;
  if (!settings.ShowText)
    return;
  const int align = settings.TextAlign;
  if (settings.ShowGuard || align == 4 || align == 5 || align == 6)
    symbol.DrawRetailText(canvas, x, y, settings.DisplayText);
  else
    symbol.DrawTextLine(canvas, x, y, settings.DisplayText);
}

// EAN-13

bool CBarcodeSymEAN13::IsTextValid() {
  return IsGs1Number(Settings.BarText, Ean13DataDigits);
}

void CBarcodeSymEAN13::BuildCodeChars() {
  if (!IsTextValid())
    return;
  SetGs1CodeChars(*this, Ean13DataDigits,
                  CheckDigit13(Settings.BarText, Ean13DataDigits));
}

void CBarcodeSymEAN13::BuildDisplayText() {
  if (!IsTextValid())
    return;
  SetGs1DisplayText(*this, Ean13DataDigits,
                    CheckDigit13(Settings.BarText, Ean13DataDigits));
}

bool CBarcodeSymEAN13::Encode() {
  if (!PrepareEncode())
    return false;
  // The leading digit has no bars: it selects the parities of the left half.
  const bool *parity = Ean13FirstDigitParity[CodeDigit(*this, 0)];
  AppendRetailSideGuard(Elements);
  bool nextIsBar = false;
  for (std::size_t k = 1; k <= 6; ++k)
    AppendRetailDigitParity(Elements, CodeDigit(*this, k), parity[k - 1],
                            nextIsBar);
  AppendRetailCentreGuard(Elements);
  nextIsBar = true;
  for (std::size_t k = 7; k <= 12; ++k)
    AppendRetailDigit(Elements, CodeDigit(*this, k), nextIsBar);
  AppendRetailSideGuard(Elements);
  return true;
}

void CBarcodeSymEAN13::DrawText(CImageWriter &canvas, int x, int y,
                                int /*textHeight*/) const {
  DrawRetailSymbolText(*this, canvas, x, y);
}

// EAN-8

bool CBarcodeSymEAN8::IsTextValid() {
  return IsGs1Number(Settings.BarText, Ean8DataDigits);
}

void CBarcodeSymEAN8::BuildCodeChars() {
  if (!IsTextValid())
    return;
  SetGs1CodeChars(*this, Ean8DataDigits,
                  CheckDigit31(Settings.BarText, Ean8DataDigits));
}

void CBarcodeSymEAN8::BuildDisplayText() {
  if (!IsTextValid())
    return;
  SetGs1DisplayText(*this, Ean8DataDigits,
                    CheckDigit31(Settings.BarText, Ean8DataDigits));
}

bool CBarcodeSymEAN8::Encode() {
  if (!PrepareEncode())
    return false;
  AppendOddLeftRightHalves(*this, 4);
  return true;
}

void CBarcodeSymEAN8::DrawText(CImageWriter &canvas, int x, int y,
                               int /*textHeight*/) const {
  CBarcodeSymEAN13::DrawRetailSymbolText(*this, canvas, x, y);
}

// UPC-A

bool CBarcodeSymUPCA::IsTextValid() {
  return IsGs1Number(Settings.BarText, UpcADataDigits);
}

void CBarcodeSymUPCA::BuildCodeChars() {
  if (!IsTextValid())
    return;
  SetGs1CodeChars(*this, UpcADataDigits,
                  CheckDigit31(Settings.BarText, UpcADataDigits));
}

void CBarcodeSymUPCA::BuildDisplayText() {
  if (!IsTextValid())
    return;
  SetGs1DisplayText(*this, UpcADataDigits,
                    CheckDigit31(Settings.BarText, UpcADataDigits));
}

bool CBarcodeSymUPCA::Encode() {
  if (!PrepareEncode())
    return false;
  AppendOddLeftRightHalves(*this, 6);
  return true;
}

void CBarcodeSymUPCA::DrawText(CImageWriter &canvas, int x, int y,
                               int /*textHeight*/) const {
  CBarcodeSymEAN13::DrawRetailSymbolText(*this, canvas, x, y);
}

} // namespace strixel
