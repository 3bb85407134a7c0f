#pragma once

#include <cstdint>
#include <string>

namespace strixel {

class CQueryParams;

// The checked request parameters handed to the image response.
struct RequestSettings {
  std::string BarText = "1234567";
  int Width = 200;
  int Height = 200;
  int BarType = 7;
  int Orientation = 0;
  bool ShowQuietZone = true;
  int BarAlign = 2;
  int TextAlign = 0;
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
  int Code128CharSet = 0;
  int FontHeight = 14;
  int BarWidthReduction = 0;
  float Wide2NarrowRatio = 2.5f;
  double ModuleSize = 2;
  bool FixedSize = false;
};

// Whether a failed request answers with the HTML error page.
extern bool DebugMode;

// Handles the one CGI request of the process; returns its exit code.
int HandleRequest();

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

// Steps 6 to 8 of the intake: defaults, DebugMode, every parameter looked
// up, converted and range-checked, then FixedSize and the default sizes.
void ReadRequestSettings(CQueryParams &params, RequestSettings &settings);

} // namespace strixel
