#pragma once

#include <string_view>

#include "engine/BarcodeSym.h"

namespace strixel {

// POSTNET and PLANET: every digit is five bars of full or half height, PLANET
// with the heights of POSTNET inverted, between two full-height frame bars,
// with the digit-sum correction digit. Every bar and space is one module
// wide; the layout and drawing are those of every other type, the half
// bars drawn 40 percent as long as the full ones.
class CBarcodeSymPostPlaNet : public CBarcodeSym {
public:
  CBarcodeSymPostPlaNet(const CBarcodeProps &props, bool isPostNet)
      : CBarcodeSym(props), IsPostNet(isPostNet) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  bool IsPostNet; // true: POSTNET; false: PLANET
};

// The POSTNET correction digit: the modulo-10 complement of the plain digit
// sum of the whole text.
int DigitSumCheckDigit(std::string_view text);

} // namespace strixel
