#pragma once

#include "engine/BarcodeSym.h"

namespace strixel {

// The two- and five-digit add-on symbols, drawn as symbols of their own.
// They have no check character: the value picks the digit parities.

class CBarcodeSymEAN2 : public CBarcodeSym {
public:
  explicit CBarcodeSymEAN2(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
};

class CBarcodeSymEAN5 : public CBarcodeSym {
public:
  explicit CBarcodeSymEAN5(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
};

} // namespace strixel
