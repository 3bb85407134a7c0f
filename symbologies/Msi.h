#pragma once

#include "engine/BarcodeSym.h"

namespace strixel {

// MSI: every digit is its four binary digits, each a bar and a space of which
// one is wide; an optional modulo-10 check digit follows the data.
class CBarcodeSymMSI : public CBarcodeSym {
public:
  explicit CBarcodeSymMSI(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  // The modulo-10 check digit of BarText, 0 to 9.
  int MsiCheckDigit() const;
  // Appends the eight elements of one digit value.
  void AppendMsiDigit(int digit);
};

} // namespace strixel
