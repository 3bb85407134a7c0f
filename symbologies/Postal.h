#pragma once

#include "engine/BarcodeSym.h"

namespace strixel {

// POSTNET and PLANET: every digit is five bars of full or half height, PLANET
// with the heights of POSTNET inverted, between two full-height frame bars,
// with the digit-sum correction digit. The pattern is built, but this system
// has no rule for drawing postal bars, so the layout answers that the symbol
// fits no box and no image is ever made of it.
class CBarcodeSymPostPlaNet : public CBarcodeSym {
public:
  CBarcodeSymPostPlaNet(const CBarcodeProps &props, bool isPostNet)
      : CBarcodeSym(props), IsPostNet(isPostNet) {}

  bool Encode() override;
  int GetSymbolWidth(int moduleWidth) const override;
  bool FitsIn(int moduleWidth, int width, int height) const override;
  bool IsTextValid() override;
  int FindModuleWidth(int width, int height) const override;
  int GetOrigin(const CRect &rect, int &x, int &y) const override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  bool IsPostNet; // true: POSTNET; false: PLANET
};

} // namespace strixel
