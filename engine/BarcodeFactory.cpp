#include "engine/BarcodeFactory.h"

#include <iterator>

#include "symbologies/Codabar.h"
#include "symbologies/Code11.h"
#include "symbologies/Code128.h"
#include "symbologies/Code39.h"
#include "symbologies/Code93.h"
#include "symbologies/EanAddOn.h"
#include "symbologies/EanUpc.h"
#include "symbologies/Gs1128.h"
#include "symbologies/Msi.h"
#include "symbologies/Postal.h"
#include "symbologies/TwoOfFive.h"
#include "symbologies/UpcE.h"

namespace strixel {

namespace {

using Constructor = std::unique_ptr<CBarcodeSym> (*)(const CBarcodeProps &);

template <class Symbol>
std::unique_ptr<CBarcodeSym> Construct(const CBarcodeProps &props) {
  return std::make_unique<Symbol>(props);
}

// POSTNET and PLANET are one class; the flag tells them apart.
template <bool IsPostNet>
std::unique_ptr<CBarcodeSym> ConstructPostal(const CBarcodeProps &props) {
  return std::make_unique<CBarcodeSymPostPlaNet>(props, IsPostNet);
}

struct FactoryRow {
  BarcodeType Type;
  Constructor Create;
};

// The symbol class of every barcode type; the row index is the type.
constexpr FactoryRow FactoryTable[] = {
    {Interleaved2of5, Construct<CBarcodeSymInterl25>},
    {Industrial2of5, Construct<CBarcodeSymIndustr25>},
    {Code39, Construct<CBarcodeSymCode39>},
    {Code39Extended, Construct<CBarcodeSymCode39Ext>},
    {Code11, Construct<CBarcodeSymCode11>},
    {Codabar, Construct<CBarcodeSymCodabar>},
    {Msi, Construct<CBarcodeSymMSI>},
    {Code128, Construct<CBarcodeSymCode128>},
    {Ean2, Construct<CBarcodeSymEAN2>},
    {Ean5, Construct<CBarcodeSymEAN5>},
    {Ean8, Construct<CBarcodeSymEAN8>},
    {Ean13, Construct<CBarcodeSymEAN13>},
    {Ean14, Construct<CBarcodeSymEAN14>},
    {UpcA, Construct<CBarcodeSymUPCA>},
    {UpcE, Construct<CBarcodeSymUPCE>},
    {UccEan128, Construct<CBarcodeSymUCCEAN128>},
    {Sscc18, Construct<CBarcodeSymSSCC18>},
    {Postnet, ConstructPostal<true>},
    {Planet, ConstructPostal<false>},
    {Code93, Construct<CBarcodeSymCode93>},
    {Code93Extended, Construct<CBarcodeSymCode93Ext>},
    {Itf14, Construct<CBarcodeSymITF14>},
};
static_assert(std::size(FactoryTable) == BarcodeTypeCount,
              "one row per barcode type");

constexpr bool RowsAreInTypeOrder() {
  for (std::size_t i = 0; i < std::size(FactoryTable); ++i)
    if (FactoryTable[i].Type != static_cast<int>(i))
      return false;
  return true;
}
static_assert(RowsAreInTypeOrder(), "the row index is the barcode type");

} // namespace

std::unique_ptr<CBarcodeSym> CreateBarcodeSym(const CBarcodeProps &props) {
  if (props.BarType < 0 || props.BarType >= BarcodeTypeCount)
    return nullptr;
  std::unique_ptr<CBarcodeSym> symbol =
      FactoryTable[props.BarType].Create(props);
  // Every new symbol is encoded once, so that its code characters, display
  // text and elements exist before anyone measures or draws it.
  symbol->Encode();
  return symbol;
}

} // namespace strixel
