#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strixel {

// The settings are 32-bit ints, as the request gives them; so are the lengths
// in pixels of the layout. Wider quantities are std::int64_t.
static_assert(sizeof(int) == 4, "int is the 32-bit integer of the settings");

// The barcode types, numbered as the request's btype.
enum BarcodeType : int {
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
enum Orientation : int {
  Rotate0 = 0,
  Rotate90 = 90,
  Rotate180 = 180,
  Rotate270 = 270,
};

// Whether the symbol's length runs across the image (0 and 180 degrees)
// rather than up or down it (90 and 270).
constexpr bool RunsHorizontally(int orientation) {
  return orientation == Rotate0 || orientation == Rotate180;
}

// Where the pattern lies along the length of a box longer than the symbol.
enum BarAlignment : int {
  BarsAtStart = 0,
  BarsAtEnd = 1,
  BarsCentred = 2,
};

// The human-readable text: one line from the first bar, at the end, centred
// or spread over the pattern; the retail types split it into groups between
// the guard bars, with the first (and the last) digit outside the bars.
enum TextAlignment : int {
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
  int BarType = Interleaved2of5;
  std::string BarText = "012345";
  std::vector<std::uint8_t> CodeChars;
  std::string DisplayText;
  std::uint32_t TextColor = 0;
  std::uint32_t ForeColor = 0;
  std::uint32_t BackColor = 0xFFFFFF;
  int BarAlign = BarsCentred;
  int Orientation = Rotate0;
  bool ShowGuard = true;
  bool ShowQuietZone = true;
  bool ShowText = true;
  bool TextBottomTop = true;
  int TextAlign = TextAtStart;
  bool ShowStSt = false;
  bool ShowCheck = true;
  bool CalcCheck = true;
  int FontHeight = 14;
  int Code128CharSet = 0;
  float Wide2NarrowRatio = 3.0f;
  bool NonPrintingToTxt = true;
  int BarWidthReduction = 0;

  void CopyFrom(const CBarcodeProps &other) { *this = other; }
};

} // namespace strixel
