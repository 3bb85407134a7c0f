#include "cgi/ImageTitle.h"

#include <iterator>

#include "engine/BarcodeProps.h"

namespace strixel {

namespace {

struct TypeName {
  BarcodeType Type;
  const char *Name;
};

// The names of the barcode types; the row index is the type (btype).
constexpr TypeName TypeNames[] = {
    {Interleaved2of5, "Interleaved 2 of 5"},
    {Industrial2of5, "Industrial 2 of 5"},
    {Code39, "Code 39"},
    {Code39Extended, "Code 39 Extended"},
    {Code11, "Code 11"},
    {Codabar, "Codabar"},
    {Msi, "MSI"},
    {Code128, "Code 128"},
    {Ean2, "EAN-2"},
    {Ean5, "EAN-5"},
    {Ean8, "EAN-8"},
    {Ean13, "EAN-13"},
    {Ean14, "EAN-14"},
    {UpcA, "UPC-A"},
    {UpcE, "UPC-E"},
    {UccEan128, "UCC/EAN-128"},
    {Sscc18, "SSCC-18"},
    {Postnet, "POSTNET"},
    {Planet, "PLANET"},
    {Code93, "Code 93"},
    {Code93Extended, "Code 93 Extended"},
    {Itf14, "ITF-14"},
};
static_assert(std::size(TypeNames) == BarcodeTypeCount,
              "one name per barcode type");

constexpr bool NamesAreInTypeOrder() {
  for (std::size_t i = 0; i < std::size(TypeNames); ++i)
    if (TypeNames[i].Type != static_cast<int>(i))
      return false;
  return true;
}
static_assert(NamesAreInTypeOrder(), "the row index is the barcode type");

} // namespace

const char *BarcodeTypeName(int type) {
  if (type < 0 || type >= BarcodeTypeCount)
    return "";
  return TypeNames[type].Name;
}

std::string ImageTitle(const RequestSettings &request) {
  return std::string(BarcodeTypeName(request.BarType)) + ": " + request.BarText;
}

} // namespace strixel
