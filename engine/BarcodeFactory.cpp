#include "engine/BarcodeFactory.h"

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

std::unique_ptr<CBarcodeSym> NewSymbolOfType(const CBarcodeProps &props) {
  switch (props.BarType) {
  case 0: // Interleaved 2 of 5
    return std::make_unique<CBarcodeSymInterl25>(props);
  case 1: // Industrial 2 of 5
    return std::make_unique<CBarcodeSymIndustr25>(props);
  case 2: // Code 39
    return std::make_unique<CBarcodeSymCode39>(props);
  case 3: // Code 39 Extended
    return std::make_unique<CBarcodeSymCode39Ext>(props);
  case 4: // Code 11
    return std::make_unique<CBarcodeSymCode11>(props);
  case 5: // Codabar
    return std::make_unique<CBarcodeSymCodabar>(props);
  case 6: // MSI
    return std::make_unique<CBarcodeSymMSI>(props);
  case 7:
    return std::make_unique<CBarcodeSymCode128>(props);
  case 8: // EAN-2
    return std::make_unique<CBarcodeSymEAN2>(props);
  case 9: // EAN-5
    return std::make_unique<CBarcodeSymEAN5>(props);
  case 10: // EAN-8
    return std::make_unique<CBarcodeSymEAN8>(props);
  case 11: // EAN-13
    return std::make_unique<CBarcodeSymEAN13>(props);
  case 12: // EAN-14
    return std::make_unique<CBarcodeSymEAN14>(props);
  case 13: // UPC-A
    return std::make_unique<CBarcodeSymUPCA>(props);
  case 14: // UPC-E
    return std::make_unique<CBarcodeSymUPCE>(props);
  case 15: // UCC/EAN-128
    return std::make_unique<CBarcodeSymUCCEAN128>(props);
  case 16: // SSCC-18
    return std::make_unique<CBarcodeSymSSCC18>(props);
  case 17: // POSTNET
    return std::make_unique<CBarcodeSymPostPlaNet>(props, true);
  case 18: // PLANET
    return std::make_unique<CBarcodeSymPostPlaNet>(props, false);
  case 19: // Code 93
    return std::make_unique<CBarcodeSymCode93>(props);
  case 20: // Code 93 Extended
    return std::make_unique<CBarcodeSymCode93Ext>(props);
  case 21: // ITF-14
    return std::make_unique<CBarcodeSymITF14>(props);
  default:
    return nullptr;
  }
}

} // namespace

std::unique_ptr<CBarcodeSym> CreateBarcodeSym(const CBarcodeProps &props) {
  std::unique_ptr<CBarcodeSym> symbol = NewSymbolOfType(props);
  // Every new symbol is encoded once, so that its code characters, display
  // text and elements exist before anyone measures or draws it.
  if (symbol)
    symbol->Encode();
  return symbol;
}

} // namespace strixel
