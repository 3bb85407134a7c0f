#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strixel {

// The barcode types, numbered as the request's btype.
enum BarcodeType : std::int32_t {
  Interleaved2of5 = 0,
  Industrial2of5 = 1,
  Code39 = 2,
  Code39Extended = 3,
  Code11 = 4,
  Codabar = 5,
  Msi = 6,
  Code128 = 7,
  Ean2 = 8,
  Ean5 = 9,
  Ean8 = 10,
  Ean13 = 11,
  Ean14 = 12,
  UpcA = 13,
  UpcE = 14,
  UccEan128 = 15,
  Sscc18 = 16,
  Postnet = 17,
  Planet = 18,
  Code93 = 19,
  Code93Extended = 20,
  Itf14 = 21,
};
constexpr int BarcodeTypeCount = 22;

// Orientation in degrees, counter-clockwise: the symbol is turned by quarter
// turns only.
enum Orientation : std::int32_t {
  Rotate0 = 0,
  Rotate90 = 90,
  Rotate180 = 180,
  Rotate270 = 270,
};

// Whether the symbol's length runs across the image (0 and 180 degrees)
// rather than up or down it (90 and 270).
constexpr bool RunsHorizontally(std::int32_t orientation) {
  return orientation == Rotate0 || orientation == Rotate180;
}

// Where the pattern lies along the length of a box longer than the symbol.
enum BarAlignment : std::int32_t {
  BarsAtStart = 0,
  BarsAtEnd = 1,
  BarsCentred = 2,
};

// The human-readable text: one line from the first bar, at the end, centred
// or spread over the pattern; the retail types split it into groups between
// the guard bars, with the first (and the last) digit outside the bars.
enum TextAlignment : std::int32_t {
  TextAtStart = 0,
  TextAtEnd = 1,
  TextCentred = 2,
  TextSpread = 3,
  RetailFirstDigitOutside = 4,
  RetailFirstAndLastDigitOutside = 5,
  RetailDigitsInside = 6,
};

// The settings record that every symbol carries its own copy of.
// Colours are stored with red in the low byte (0x00BBGGRR).
class CBarcodeProps {
public:
  std::int32_t BarType = Interleaved2of5;
  std::string BarText = "012345";
  std::vector<std::uint8_t> CodeChars;
  std::string DisplayText;
  std::uint32_t TextColor = 0;
  std::uint32_t ForeColor = 0;
  std::uint32_t BackColor = 0xFFFFFF;
  std::int32_t BarAlign = BarsCentred;
  std::int32_t Orientation = Rotate0;
  bool ShowGuard = true;
  bool ShowQuietZone = true;
  bool ShowText = true;
  bool TextBottomTop = true;
  std::int32_t TextAlign = TextAtStart;
  bool ShowStSt = false;
  bool ShowCheck = true;
  bool CalcCheck = true;
  std::int32_t FontHeight = 14;
  std::int32_t Code128CharSet = 0;
  float Wide2NarrowRatio = 3.0f;
  bool NonPrintingToTxt = true;
  std::int32_t BarWidthReduction = 0;

  void CopyFrom(const CBarcodeProps &other) { *this = other; }
};

} // namespace strixel
