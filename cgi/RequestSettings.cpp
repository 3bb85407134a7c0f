#include "cgi/RequestSettings.h"

#include "cgi/QueryParams.h"
#include "cgi/RequestIntake.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/Digits.h"
#include "engine/Rounding.h"
#include "symbologies/Code128.h"

namespace strixel {

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Ratios beyond the float range become infinite, as a rounding conversion
// would make them, instead of an undefined narrowing.
float ToFloat(double value) {
  if (value > std::numeric_limits<float>::max())
    return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max())
    return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

} // namespace

int ParseIntValue(const char *text) {
  const char *p = text;
  while (IsCSpace(*p))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-')
    negative = *p++ == '-';
  // Accumulate the magnitude in 64 bits and stop growing once it is past
  // every int, so any number of digits is read without overflow.
  const std::int64_t limit = static_cast<std::int64_t>(INT_MAX) + 1;
  std::int64_t magnitude = 0;
  for (; IsDigit(*p); ++p)
    if (magnitude <= limit)
      magnitude = magnitude * 10 + DigitValue(*p);
  return SaturateToInt(negative ? -magnitude : magnitude);
}

double ParseRealValue(const char *text) {
  // strtod is what atof is defined by, and it also defines the result of
  // out-of-range numbers (infinite or zero).
  return std::strtod(text, nullptr);
}

std::uint32_t HexToInt(const char *text) {
  std::uint32_t value = 0;
  for (const char *p = text; HexDigit(*p) >= 0; ++p)
    value = value * 16 + static_cast<std::uint32_t>(HexDigit(*p));
  return value;
}

std::uint32_t RgbToBgr(std::uint32_t rgb) {
  return ((rgb & 0xFFu) << 16) | (rgb & 0xFF00u) | ((rgb >> 16) & 0xFFu);
}

namespace {

bool IsRightAngle(int angle) {
  return angle == Rotate0 || angle == Rotate90 || angle == Rotate180 ||
         angle == Rotate270;
}

// Width and Height while the parameters are read: no accepted size, since
// every accepted one is at least 1.
constexpr int NoSize = 0;
constexpr int MaxImageSize = 699;

// The readers of the parameters, each of which converts a value and stores
// it when it is in range; an out-of-range value leaves the default.

template <int RequestSettings::*Field, int Low, int High>
void ReadInt(const char *text, RequestSettings &settings) {
  const int number = ParseIntValue(text);
  if (number >= Low && number <= High)
    settings.*Field = number;
}

template <bool RequestSettings::*Field>
void ReadBool(const char *text, RequestSettings &settings) {
  settings.*Field = ParseIntValue(text) != 0;
}

template <std::uint32_t RequestSettings::*Field>
void ReadColour(const char *text, RequestSettings &settings) {
  settings.*Field = RgbToBgr(HexToInt(text));
}

void ReadText(const char *text, RequestSettings &settings) {
  settings.BarText = text;
}

void ReadAngle(const char *text, RequestSettings &settings) {
  const int angle = ParseIntValue(text);
  if (IsRightAngle(angle))
    settings.Orientation = angle;
}

void ReadRatio(const char *text, RequestSettings &settings) {
  const float ratio = ToFloat(ParseRealValue(text));
  if (ratio > 0)
    settings.Wide2NarrowRatio = ratio;
}

void ReadModuleSize(const char *text, RequestSettings &settings) {
  const int moduleSize = ParseIntValue(text);
  if (moduleSize >= 1)
    settings.ModuleSize = moduleSize;
}

// Only the two names; any other value leaves the default, PNG.
void ReadFormat(const char *text, RequestSettings &settings) {
  if (std::strcmp(text, "png") == 0)
    settings.Format = FormatPng;
  else if (std::strcmp(text, "svg") == 0)
    settings.Format = FormatSvg;
}

struct Parameter {
  const char *Name;
  void (*Read)(const char *value, RequestSettings &settings);
};

using Request = RequestSettings;

// The parameters of an image request, in the order they are looked up.
constexpr Parameter Parameters[] = {
    {"data", ReadText},
    {"w", ReadInt<&Request::Width, 1, MaxImageSize>},
    {"h", ReadInt<&Request::Height, 1, MaxImageSize>},
    {"btype", ReadInt<&Request::BarType, 0, BarcodeTypeCount - 1>},
    {"angle", ReadAngle},
    {"quiet", ReadBool<&Request::ShowQuietZone>},
    {"balign", ReadInt<&Request::BarAlign, BarsAtStart, BarsCentred>},
    {"talign", ReadInt<&Request::TextAlign, TextAtStart, RetailDigitsInside>},
    {"bcolor", ReadColour<&Request::BackColor>},
    {"fcolor", ReadColour<&Request::ForeColor>},
    {"tcolor", ReadColour<&Request::TextColor>},
    {"guard", ReadBool<&Request::ShowGuard>},
    {"text", ReadBool<&Request::ShowText>},
    {"tdown", ReadBool<&Request::TextBottomTop>},
    {"stst", ReadBool<&Request::ShowStSt>},
    {"schk", ReadBool<&Request::ShowCheck>},
    {"cchk", ReadBool<&Request::CalcCheck>},
    {"ntxt", ReadBool<&Request::NonPrintingToTxt>},
    {"c128", ReadInt<&Request::Code128CharSet, CBarcodeSymCode128::AutoSet,
                     CBarcodeSymCode128::SetC>},
    {"fh", ReadInt<&Request::FontHeight, 1, INT_MAX>},
    {"bred", ReadInt<&Request::BarWidthReduction, INT_MIN, INT_MAX>},
    {"w2n", ReadRatio},
    {"xdim", ReadModuleSize},
    {"fmt", ReadFormat},
};

// A size given along the symbol's length (the width when horizontal, the
// height when turned) fixes the image; otherwise the length is computed
// from the module size. A size not given is the default.
void SettleImageSize(RequestSettings &settings) {
  const bool widthGiven = settings.Width != NoSize;
  const bool heightGiven = settings.Height != NoSize;
  const bool horizontal = RunsHorizontally(settings.Orientation);
  settings.FixedSize =
      (widthGiven && horizontal) || (heightGiven && !horizontal);
  if (!widthGiven)
    settings.Width = RequestSettings::DefaultSize;
  if (!heightGiven)
    settings.Height = RequestSettings::DefaultSize;
}

} // namespace

void ReadRequestSettings(CQueryParams &params, RequestSettings &settings) {
  settings = RequestSettings();
  DebugMode = params.Find("debug") != nullptr;
  settings.Width = settings.Height = NoSize;
  for (const Parameter &parameter : Parameters)
    if (const char *value = params.Find(parameter.Name))
      parameter.Read(value, settings);
  SettleImageSize(settings);
}

} // namespace strixel
