#pragma once

#include <cstdint>
#include <vector>

#include "engine/BarcodeSym.h"

namespace strixel {

// The full-size retail symbols. Each accepts its number with or without the
// check digit; the check digit is always computed and encoded.

// EAN-13: 12 data digits, the first carried only by the left-half parities.
class CBarcodeSymEAN13 : public CBarcodeSym {
public:
  explicit CBarcodeSymEAN13(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void DrawText(CImageWriter &canvas, int x, int y,
                int textHeight) const override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  // The human-readable text of every retail symbol: digits in groups between
  // the guards, or one plain line when neither the guards nor a retail text
  // alignment ask for the groups.
  static void DrawRetailSymbolText(const CBarcodeSym &symbol,
                                   CImageWriter &canvas, int x, int y);
};

// EAN-8: 7 data digits and the check digit, four on each half.
class CBarcodeSymEAN8 : public CBarcodeSym {
public:
  explicit CBarcodeSymEAN8(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void DrawText(CImageWriter &canvas, int x, int y,
                int textHeight) const override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;
};

// UPC-A: 11 data digits and the check digit, six on each half.
class CBarcodeSymUPCA : public CBarcodeSym {
public:
  explicit CBarcodeSymUPCA(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void DrawText(CImageWriter &canvas, int x, int y,
                int textHeight) const override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;
};

// Guard patterns shared by the retail symbols: the normal guard bar, space,
// bar at both ends and the centre guard space, bar, space, bar, space.
void AppendRetailSideGuard(std::vector<std::uint8_t> &elements);
void AppendRetailCentreGuard(std::vector<std::uint8_t> &elements);

} // namespace strixel
