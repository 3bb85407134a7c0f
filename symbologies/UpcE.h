#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/BarcodeSym.h"

namespace strixel {

// UPC-E: the zero-suppressed six-digit form of a UPC-A number of number
// system 0 or 1. The number system and the UPC-A check digit are carried
// only by the parities of the six digits.
class CBarcodeSymUPCE : public CBarcodeSym {
public:
  explicit CBarcodeSymUPCE(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  // Validating and compressing are one step: a valid text leaves its six
  // compressed digits in CodeChars.
  bool IsTextValid() override;
  void DrawText(CImageWriter &canvas, int x, int y,
                int textHeight) const override;
  void BuildCodeChars() override {}
  void BuildDisplayText() override;

  // Sets CheckValue from the first 11 digits, then applies the first
  // zero-suppression rule that fits; false when none does.
  bool CompressUpcA(std::string_view text, std::string &result);

  std::uint8_t NumberSystem = 0;
  std::uint8_t CheckValue = 0;
};

// Parity of the six UPC-E digits for each UPC-A check digit in number system
// 0 (true: odd parity, set A; false: even, set B). Number system 1 inverts
// every flag; columns 1 to 5 are the EAN-5 parities by checksum.
bool UpcEParity(int checkDigit, int column);

} // namespace strixel
