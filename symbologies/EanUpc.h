#pragma once

#include <cstdint>
#include <vector>

#include "engine/BarcodeSym.h"

namespace strixel {

// The full-size retail symbols EAN-13, EAN-8 and UPC-A: one class shape,
// told apart by their type, which fixes the length of the number, the
// weights of its check digit and the digits of each half. Each accepts its
// number with or without the check digit; the check digit is always
// computed and encoded.
template <BarcodeType Type> class CBarcodeSymRetail : public CBarcodeSym {
public:
  explicit CBarcodeSymRetail(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void DrawText(CImageWriter &canvas, int x, int y,
                int textHeight) const override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

private:
  int CheckDigit() const;
};

// EAN-13: 12 data digits, the first carried only by the left-half parities.
using CBarcodeSymEAN13 = CBarcodeSymRetail<Ean13>;
// EAN-8: 7 data digits and the check digit, four on each half.
using CBarcodeSymEAN8 = CBarcodeSymRetail<Ean8>;
// UPC-A: 11 data digits and the check digit, six on each half.
using CBarcodeSymUPCA = CBarcodeSymRetail<UpcA>;

extern template class CBarcodeSymRetail<Ean13>;
extern template class CBarcodeSymRetail<Ean8>;
extern template class CBarcodeSymRetail<UpcA>;

// The human-readable text of every retail symbol (UPC-E too): digits in
// groups between the guards, or one plain line when neither the guards nor
// a retail text alignment ask for the groups.
void DrawRetailSymbolText(const CBarcodeSym &symbol, CImageWriter &canvas,
                          int x, int y);

// Guard patterns shared by the retail symbols: the normal guard bar, space,
// bar at both ends and the centre guard space, bar, space, bar, space.
void AppendRetailSideGuard(std::vector<std::uint8_t> &elements);
void AppendRetailCentreGuard(std::vector<std::uint8_t> &elements);

} // namespace strixel
