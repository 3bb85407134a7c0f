#pragma once

#include <cstdint>
#include <string>

#include "engine/BarcodeProps.h"

namespace strixel {

class CQueryParams;

// The image format of the response: fmt=png (the default) or fmt=svg.
enum ImageFormat : int {
  FormatPng = 0,
  FormatSvg = 1,
};

// The checked request parameters handed to the image response.
struct RequestSettings {
  // The image size along a side the request does not give.
  static constexpr int DefaultSize = 200;

  std::string BarText = "1234567";
  int Width = DefaultSize;
  int Height = DefaultSize;
  int BarType = Code128;
  int Orientation = Rotate0;
  bool ShowQuietZone = true;
  int BarAlign = BarsCentred;
  int TextAlign = TextAtStart;
  std::uint32_t BackColor = 0xFFFFFF;
  std::uint32_t ForeColor = 0;
  std::uint32_t TextColor = 0;
  bool ShowGuard = true;
  bool ShowText = true;
  bool TextBottomTop = true;
  bool ShowStSt = false;
  bool ShowCheck = true;
  bool CalcCheck = true;
  bool NonPrintingToTxt = true;
  int Code128CharSet = 0; // the automatic choice between the sets
  int FontHeight = 14;
  int BarWidthReduction = 0;
  float Wide2NarrowRatio = 2.5f;
  double ModuleSize = 2;
  bool FixedSize = false;
  int Format = FormatPng;
};

// Request value conversions. ParseIntValue reads like atoi (white space, a
// sign, digits up to the first other byte, none give 0) but saturates at
// the int range; ParseRealValue reads like atof, with no undefined result.
int ParseIntValue(const char *text);
double ParseRealValue(const char *text);
// The leading hexadecimal digits of text; older digits shift out of the
// 32 bits.
std::uint32_t HexToInt(const char *text);
// An RRGGBB number to the stored colour form 0x00BBGGRR.
std::uint32_t RgbToBgr(std::uint32_t rgb);

// Reads the request's parameters into settings: every field takes its
// default, DebugMode follows the presence of debug, each parameter is looked
// up, converted and range-checked, then FixedSize and the image size are
// settled.
void ReadRequestSettings(CQueryParams &params, RequestSettings &settings);

} // namespace strixel
