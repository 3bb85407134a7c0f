#include "symbologies/EanAddOn.h"

#include <iterator>

#include "engine/Digits.h"
#include "symbologies/RetailDigits.h"
#include "symbologies/UpcE.h"

namespace strixel {

namespace {

using namespace Parity;

// EAN-2 parity table: parities of the two digits by the value modulo 4.
constexpr bool Ean2Parity[][2] = {{O, O}, {O, E}, {E, O}, {E, E}};
static_assert(std::size(Ean2Parity) == 4, "one row per value modulo 4");

bool HasDigitsOfLength(const CBarcodeSym &symbol, std::size_t length) {
  return symbol.HasDigitText() && symbol.Settings.BarText.size() == length;
}

void AppendAddOnStart(std::vector<std::uint8_t> &elements) {
  elements.insert(elements.end(), {Bar1, Space1, Bar2});
}

void AppendAddOnSeparator(std::vector<std::uint8_t> &elements) {
  elements.insert(elements.end(), {Space1, Bar1});
}

int CodeDigit(const CBarcodeSym &symbol, std::size_t k) {
  return DigitValue(symbol.Settings.CodeChars[k]);
}

} // namespace

bool CBarcodeSymEAN2::IsTextValid() {
  return HasDigitsOfLength(*this, 2);
}

bool CBarcodeSymEAN2::Encode() {
  if (!PrepareEncode())
    return false;
  const int value = CodeDigit(*this, 0) * 10 + CodeDigit(*this, 1);
  const bool *parity = Ean2Parity[value % 4];
  AppendAddOnStart(Elements);
  // The start and the separator leave the flag alone: each digit begins
  // with a space.
  bool nextIsBar = false;
  AppendRetailDigitParity(Elements, CodeDigit(*this, 0), parity[0], nextIsBar);
  AppendAddOnSeparator(Elements);
  AppendRetailDigitParity(Elements, CodeDigit(*this, 1), parity[1], nextIsBar);
  return true;
}

bool CBarcodeSymEAN5::IsTextValid() {
  return HasDigitsOfLength(*this, 5);
}

bool CBarcodeSymEAN5::Encode() {
  if (!PrepareEncode())
    return false;
  // The EAN-5 parity table is the UPC-E table without its first column.
  const int checksum = AddOnChecksum(Settings.BarText);
  AppendAddOnStart(Elements);
  bool nextIsBar = false;
  for (std::size_t k = 0; k < 5; ++k) {
    if (k > 0)
      AppendAddOnSeparator(Elements);
    AppendRetailDigitParity(Elements, CodeDigit(*this, k),
                            UpcEParity(checksum, static_cast<int>(k) + 1),
                            nextIsBar);
  }
  return true;
}

} // namespace strixel
