#include "cgi/RequestSettings.h"

#include "cgi/QueryParams.h"
#include "cgi/RequestIntake.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "engine/Digits.h"

namespace strixel {

bool DebugMode = false;

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

bool IsRightAngle(int angle) {
  return angle == 0 || angle == 90 || angle == 180 || angle == 270;
}

bool IsHorizontal(int angle) {
  return angle == 0 || angle == 180;
}

// An int parameter: true and the value when present and within [low, high].
bool FindInt(CQueryParams &params, const char *name, int low, int high,
             int &value) {
  const char *text = params.Find(name);
  if (!text)
    return false;
  const int number = ParseIntValue(text);
  if (number < low || number > high)
    return false;
  value = number;
  return true;
}

void FindBool(CQueryParams &params, const char *name, bool &value) {
  if (const char *text = params.Find(name))
    value = ParseIntValue(text) != 0;
}

void FindColour(CQueryParams &params, const char *name, std::uint32_t &value) {
  if (const char *text = params.Find(name))
    value = RgbToBgr(HexToInt(text));
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
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT_MAX)
    return INT_MAX;
  if (signedValue < INT_MIN)
    return INT_MIN;
  return static_cast<int>(signedValue);
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

void ReadRequestSettings(CQueryParams &params, RequestSettings &settings) {
  settings = RequestSettings();
  DebugMode = params.Find("debug") != nullptr;

  if (const char *data = params.Find("data"))
    settings.BarText = data;
  int width = 0;
  int height = 0;
  const bool widthGiven = FindInt(params, "w", 1, 699, width);
  const bool heightGiven = FindInt(params, "h", 1, 699, height);
  FindInt(params, "btype", 0, 21, settings.BarType);
  int angle = 0;
  if (FindInt(params, "angle", INT_MIN, INT_MAX, angle) && IsRightAngle(angle))
    settings.Orientation = angle;
  FindBool(params, "quiet", settings.ShowQuietZone);
  FindInt(params, "balign", 0, 2, settings.BarAlign);
  FindInt(params, "talign", 0, 6, settings.TextAlign);
  FindColour(params, "bcolor", settings.BackColor);
  FindColour(params, "fcolor", settings.ForeColor);
  FindColour(params, "tcolor", settings.TextColor);
  FindBool(params, "guard", settings.ShowGuard);
  FindBool(params, "text", settings.ShowText);
  FindBool(params, "tdown", settings.TextBottomTop);
  FindBool(params, "stst", settings.ShowStSt);
  FindBool(params, "schk", settings.ShowCheck);
  FindBool(params, "cchk", settings.CalcCheck);
  FindBool(params, "ntxt", settings.NonPrintingToTxt);
  FindInt(params, "c128", 0, 3, settings.Code128CharSet);
  FindInt(params, "fh", 1, INT_MAX, settings.FontHeight);
  FindInt(params, "bred", INT_MIN, INT_MAX, settings.BarWidthReduction);
  if (const char *text = params.Find("w2n")) {
    const float ratio = ToFloat(ParseRealValue(text));
    if (ratio > 0)
      settings.Wide2NarrowRatio = ratio;
  }
  int moduleSize = 0;
  if (FindInt(params, "xdim", 1, INT_MAX, moduleSize))
    settings.ModuleSize = moduleSize;

  // A size given along the symbol's length (the width when horizontal, the
  // height when turned) fixes the image; otherwise the length is computed
  // from the module size.
  settings.FixedSize = (widthGiven && IsHorizontal(settings.Orientation)) ||
                       (heightGiven && !IsHorizontal(settings.Orientation));
  if (widthGiven)
    settings.Width = width;
  if (heightGiven)
    settings.Height = height;
}

} // namespace strixel
