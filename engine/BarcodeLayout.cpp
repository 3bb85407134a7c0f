// Layout and drawing of a symbol: element widths, fitting the pattern into
// the drawing box, the bars with their two pens and the human-readable text.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "engine/BarcodeHolder.h"
#include "engine/BarcodeSym.h"
#include "imaging/ImageWriter.h"
#include "imaging/IntRange.h"

namespace strixel {

namespace {

// The human-readable text is turned with the symbol; the angle uses this
// approximation of pi so that quarter turns come out as they always have.
constexpr double Pi = 3.1415926;

// Groups of the split retail text: first byte, byte count (relative to the
// text length n when countFromEnd is set: count = n - count), offset and
// width in modules.
struct RetailGroup {
  int BarType;
  int Mode;
  int First;
  int Count;
  bool CountFromEnd;
  int Offset;
  int Width;
};

// EAN-13 and UPC-A have their digit groups in two 43-module halves, EAN-8 in
// two 29-module halves, UPC-E in one six-digit block; mode 4 keeps the first
// digit (the number system) outside the bars, mode 5 the last one (the
// check digit) too.
constexpr RetailGroup RetailGroups[] = {
    {11, 4, 1, 6, false, 3, 43}, {11, 4, 7, 7, true, 49, 43},
    {10, 4, 1, 3, false, 3, 29}, {10, 4, 4, 4, true, 35, 29},
    {13, 4, 1, 5, false, 3, 43}, {13, 4, 6, 6, true, 49, 43},
    {14, 4, 1, 1, true, 3, 43},  {11, 5, 1, 5, false, 3, 43},
    {11, 5, 6, 7, true, 49, 43}, {13, 5, 1, 5, false, 3, 43},
    {13, 5, 6, 7, true, 49, 43}, {10, 5, 1, 3, false, 3, 29},
    {10, 5, 4, 5, true, 35, 29}, {14, 5, 1, 2, true, 3, 43},
    {11, 6, 0, 6, false, 3, 43}, {11, 6, 6, 6, true, 49, 43},
    {13, 6, 0, 6, false, 3, 43}, {13, 6, 6, 6, true, 49, 43},
    {10, 6, 0, 4, false, 3, 29}, {10, 6, 4, 4, true, 35, 29},
    {14, 6, 0, 0, true, 3, 43},
};

// Module offset of the trailing character in mode 5.
int TrailingDigitOffset(int barType) {
  switch (barType) {
  case 11:
  case 13:
    return 96;
  case 10:
    return 68;
  case 14:
    return 52;
  default:
    return -1;
  }
}

} // namespace

int RoundHalfAway(double value) {
  if (std::isnan(value))
    return 0;
  double r = value < 0 ? -std::floor(-value + 0.5) : std::floor(value + 0.5);
  if (r >= static_cast<double>(INT_MAX))
    return INT_MAX;
  if (r <= static_cast<double>(INT_MIN))
    return INT_MIN;
  return static_cast<int>(r);
}

bool CBarcodeSym::LengthIsHorizontal() const {
  return Settings.Orientation == 0 || Settings.Orientation == 180;
}

int CBarcodeSym::QuietZone(int moduleWidth) const {
  if (!Settings.ShowQuietZone || moduleWidth == NoModuleWidth)
    return 0;
  return SaturateToInt(std::int64_t{QuietZoneModules} * moduleWidth);
}

int CBarcodeSym::WideWidth(int moduleWidth) const {
  return RoundHalfAway(static_cast<double>(Settings.Wide2NarrowRatio) *
                       moduleWidth);
}

int CBarcodeSym::ElementWidth(std::uint8_t element, int moduleWidth) const {
  switch (element) {
  case Bar1:
  case Space1:
  case GuardBar:
    return moduleWidth;
  case Bar2:
  case Space2:
    return SaturateToInt(std::int64_t{2} * moduleWidth);
  case Bar3:
  case Space3:
    return SaturateToInt(std::int64_t{3} * moduleWidth);
  case Bar4:
  case Space4:
    return SaturateToInt(std::int64_t{4} * moduleWidth);
  case WideBar:
  case WideSpace:
    return WideWidth(moduleWidth);
  default:
    return 0;
  }
}

int CBarcodeSym::GetSymbolWidth(int moduleWidth) const {
  if (moduleWidth == NoModuleWidth)
    return NeverFits;
  // Every element width is at most INT_MAX, so the 64-bit sum cannot
  // overflow for any pattern that fits in memory.
  std::int64_t width = std::int64_t{2} * QuietZone(moduleWidth);
  const int wide = WideWidth(moduleWidth);
  for (std::uint8_t e : Elements) {
    width +=
        (e == WideBar || e == WideSpace) ? wide : ElementWidth(e, moduleWidth);
    if (width >= NeverFits)
      return NeverFits;
  }
  return static_cast<int>(width);
}

int CBarcodeSym::Slack(int moduleWidth, int width, int height) const {
  if (moduleWidth == NoModuleWidth)
    return NoRoom;
  const int length = LengthIsHorizontal() ? width : height;
  return SaturateToInt(std::int64_t{length} - GetSymbolWidth(moduleWidth));
}

bool CBarcodeSym::FitsIn(int moduleWidth, int width, int height) const {
  const int cross = LengthIsHorizontal() ? height : width;
  return Slack(moduleWidth, width, height) >= 0 && cross > TextHeight;
}

bool CBarcodeSym::FitsInBox() const {
  return FitsIn(ModuleWidth, BoxWidth, BoxHeight);
}

int CBarcodeSym::FindModuleWidth(int width, int height) const {
  int result = NoModuleWidth;
  int m = 1;
  int s = Slack(1, width, height);
  while (s >= 0 && m < INT_MAX) {
    const int s2 = Slack(m + 1, width, height);
    // A pattern that does not grow with the module (nothing to draw and no
    // quiet zone) fits at any width: take the narrowest.
    if (s2 == s)
      return 1;
    result = m;
    s = s2;
    ++m;
  }
  return result;
}

int CBarcodeSym::Draw(CImageWriter &canvas, const CRect *rect) {
  if (rect == nullptr)
    return 1;
  DrawRect = *rect;
  BoxWidth = SaturateToInt(std::int64_t{rect->right} - rect->left);
  BoxHeight = SaturateToInt(std::int64_t{rect->bottom} - rect->top);
  ModuleWidth = FindModuleWidth(BoxWidth, BoxHeight);
  TextHeight =
      Settings.ShowText ? canvas.GetTextHeight(Settings.FontHeight) : 0;
  if (!FitsInBox())
    return 5;
  if (!TextValid)
    return 6;
  if (Settings.BackColor != canvas.BackgroundColor)
    canvas.FillRect(0, 0, BoxWidth, BoxHeight, Settings.BackColor);
  int x = 0;
  int y = 0;
  GetOrigin(*rect, x, y);
  DrawBars(canvas, x, y);
  return 0;
}

int CBarcodeSym::GetOrigin(const CRect &rect, int &x, int &y) const {
  x = rect.left;
  y = rect.top;
  const int s = std::max(0, Slack(ModuleWidth, BoxWidth, BoxHeight));
  std::int64_t o = 0;
  switch (Settings.BarAlign) {
  case 1:
    o = s;
    break;
  case 2:
    o = s / 2;
    break;
  default:
    o = 0;
    break;
  }
  o += QuietZone(ModuleWidth);
  const std::int64_t left = rect.left;
  const std::int64_t top = rect.top;
  switch (Settings.Orientation) {
  case 0:
    x = SaturateToInt(left + o);
    break;
  case 90:
    y = SaturateToInt(top + BoxHeight - o);
    break;
  case 180:
    x = SaturateToInt(left + BoxWidth - o);
    y = SaturateToInt(top + BoxHeight);
    break;
  case 270:
    x = SaturateToInt(left + BoxWidth);
    y = SaturateToInt(top + o);
    break;
  default:
    break;
  }
  return SaturateToInt(o);
}

void CBarcodeSym::FillBar(CImageWriter &canvas, int x, int y, int along,
                          int across) const {
  std::int64_t left = x, top = y, width = along, height = across;
  switch (Settings.Orientation) {
  case 0:
    break;
  case 90:
    top = std::int64_t{y} - along;
    width = across;
    height = along;
    break;
  case 180:
    left = std::int64_t{x} - along;
    top = std::int64_t{y} - across;
    break;
  case 270:
    left = std::int64_t{x} - across;
    width = across;
    height = along;
    break;
  default:
    break;
  }
  // Keep every bar inside the drawing box, whatever the bar width reduction.
  const std::int64_t right =
      std::min<std::int64_t>(left + width, DrawRect.right);
  const std::int64_t bottom =
      std::min<std::int64_t>(top + height, DrawRect.bottom);
  left = std::max<std::int64_t>(left, DrawRect.left);
  top = std::max<std::int64_t>(top, DrawRect.top);
  if (right <= left || bottom <= top)
    return;
  canvas.FillRect(static_cast<int>(left), static_cast<int>(top),
                  static_cast<int>(right - left),
                  static_cast<int>(bottom - top), Settings.ForeColor);
}

void CBarcodeSym::DrawBars(CImageWriter &canvas, int x, int y) const {
  const int m = ModuleWidth;
  const int t = TextHeight;
  int g = Settings.ShowGuard ? t / 2 : t;
  if (!Settings.ShowText)
    g = 0;
  std::int64_t barX = x, barY = y, guardX = x, guardY = y;
  if (Settings.ShowText && !Settings.TextBottomTop) {
    switch (Settings.Orientation) {
    case 0:
      barY += t;
      guardY += g;
      break;
    case 90:
      barX += t;
      guardX += g;
      break;
    case 180:
      barY -= t;
      guardY -= g;
      break;
    case 270:
      barX -= t;
      guardX -= g;
      break;
    default:
      break;
    }
  }
  const int cross = LengthIsHorizontal() ? BoxHeight : BoxWidth;
  const int barLength = SaturateToInt(std::int64_t{cross} - t);
  const int guardLength = SaturateToInt(std::int64_t{cross} - g);
  // The reduction is a percentage of a module taken off every bar; computed
  // in floating point so that no percentage can overflow.
  double reduction = std::trunc(Settings.BarWidthReduction / 100.0 * m);
  reduction = std::clamp(reduction, -static_cast<double>(INT_MAX),
                         static_cast<double>(INT_MAX));
  const std::int64_t r = static_cast<std::int64_t>(reduction);
  const int wide = WideWidth(m);
  for (std::uint8_t e : Elements) {
    const int width =
        (e == WideBar || e == WideSpace) ? wide : ElementWidth(e, m);
    const bool isBar = e == Bar1 || e == Bar2 || e == Bar3 || e == Bar4 ||
                       e == WideBar || e == GuardBar;
    if (isBar) {
      const int drawn = SaturateToInt(std::int64_t{width} - r);
      if (e == GuardBar)
        FillBar(canvas, SaturateToInt(guardX), SaturateToInt(guardY), drawn,
                guardLength);
      else
        FillBar(canvas, SaturateToInt(barX), SaturateToInt(barY), drawn,
                barLength);
    }
    switch (Settings.Orientation) {
    case 0:
      barX += width;
      guardX += width;
      break;
    case 90:
      barY -= width;
      guardY -= width;
      break;
    case 180:
      barX -= width;
      guardX -= width;
      break;
    case 270:
      barY += width;
      guardY += width;
      break;
    default:
      break;
    }
  }
  DrawText(canvas, x, y, t);
}

void CBarcodeSym::DrawText(CImageWriter &canvas, int x, int y,
                           int /*textHeight*/) const {
  if (Settings.ShowText)
    DrawTextLine(canvas, x, y, Settings.DisplayText);
}

double CBarcodeSym::TextAngle() const {
  return Settings.Orientation * Pi / 180;
}

void CBarcodeSym::TextReferencePoint(int x, int y, int &rx, int &ry) const {
  // Text below lies on the box edge beyond the bars; text above on the
  // inner edge of the text band.
  const bool below = Settings.TextBottomTop;
  std::int64_t px = x, py = y;
  switch (Settings.Orientation) {
  case 0:
    py += below ? BoxHeight : TextHeight;
    break;
  case 90:
    px += below ? BoxWidth : TextHeight;
    break;
  case 180:
    py -= below ? BoxHeight : TextHeight;
    break;
  case 270:
    px -= below ? BoxWidth : TextHeight;
    break;
  default:
    break;
  }
  rx = SaturateToInt(px);
  ry = SaturateToInt(py);
}

void CBarcodeSym::DrawTextLine(CImageWriter &canvas, int x, int y,
                               const std::string &text) const {
  const int s = std::max(0, Slack(ModuleWidth, BoxWidth, BoxHeight));
  const int q = QuietZone(ModuleWidth);
  const int length = LengthIsHorizontal() ? BoxWidth : BoxHeight;
  const int span =
      SaturateToInt(std::int64_t{length} - 2 * (std::int64_t{q} + s / 2));
  int align = 0;
  int width = 0;
  if (Settings.TextAlign >= 1 && Settings.TextAlign <= 3) {
    align = Settings.TextAlign;
    width = span;
  }
  int rx = 0, ry = 0;
  TextReferencePoint(x, y, rx, ry);
  canvas.DrawString(text.c_str(), Settings.FontHeight, align, rx, ry, width,
                    TextAngle(), Settings.TextColor);
}

void CBarcodeSym::DrawTextPart(CImageWriter &canvas, const std::string &text,
                               std::size_t first, std::size_t count, int x,
                               int y, int offset, int width, int align,
                               bool inset) const {
  if (first >= text.size() || count == 0)
    return;
  count = std::min(count, text.size() - first);
  const int m = ModuleWidth;
  std::int64_t off = offset, w = width;
  if (inset) {
    off += m;
    w -= std::int64_t{2} * m;
  }
  std::int64_t px = x, py = y;
  switch (Settings.Orientation) {
  case 0:
    px += off;
    break;
  case 90:
    py -= off;
    break;
  case 180:
    px -= off;
    break;
  case 270:
    py += off;
    break;
  default:
    break;
  }
  canvas.DrawStringN(text.c_str() + first, count, Settings.FontHeight, align,
                     SaturateToInt(px), SaturateToInt(py), SaturateToInt(w),
                     TextAngle(), Settings.TextColor);
}

void CBarcodeSym::DrawRetailText(CImageWriter &canvas, int x, int y,
                                 const std::string &text) const {
  int mode = 6;
  if (Settings.ShowQuietZone &&
      (Settings.TextAlign == 4 || Settings.TextAlign == 5))
    mode = Settings.TextAlign;
  int rx = 0, ry = 0;
  TextReferencePoint(x, y, rx, ry);
  const std::int64_t m = ModuleWidth;
  const double angle = TextAngle();
  if ((mode == 4 || mode == 5) && !text.empty()) {
    // The first digit ends one module before the first bar: right-aligned
    // in a wide field that stops there.
    constexpr int Field = 10000;
    std::int64_t px = rx, py = ry;
    switch (Settings.Orientation) {
    case 0:
      px -= m + Field;
      break;
    case 90:
      py += m + Field;
      break;
    case 180:
      px += m + Field;
      break;
    case 270:
      py -= m + Field;
      break;
    default:
      break;
    }
    canvas.DrawStringN(text.c_str(), 1, Settings.FontHeight, 1,
                       SaturateToInt(px), SaturateToInt(py), Field, angle,
                       Settings.TextColor);
  }
  const std::int64_t n = static_cast<std::int64_t>(text.size());
  for (const RetailGroup &group : RetailGroups) {
    if (group.BarType != Settings.BarType || group.Mode != mode)
      continue;
    const std::int64_t count =
        group.CountFromEnd ? n - group.Count : group.Count;
    if (count <= 0)
      continue;
    DrawTextPart(canvas, text, static_cast<std::size_t>(group.First),
                 static_cast<std::size_t>(count), rx, ry,
                 SaturateToInt(group.Offset * m),
                 SaturateToInt(group.Width * m), 3, true);
  }
  const int trailing = TrailingDigitOffset(Settings.BarType);
  if (mode == 5 && trailing >= 0 && n > 0)
    DrawTextPart(canvas, text, static_cast<std::size_t>(n - 1), 1, rx, ry,
                 SaturateToInt(trailing * m), 0, 3, false);
}

} // namespace strixel
