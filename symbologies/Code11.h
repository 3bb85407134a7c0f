#pragma once

#include "engine/BarcodeSym.h"

namespace strixel {

// Code 11: the digits and "-", framed by the start/stop character "S". No
// check character is encoded.
class CBarcodeSymCode11 : public CBarcodeSym {
public:
  static constexpr char StartStop = 'S';

  explicit CBarcodeSymCode11(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;
};

} // namespace strixel
