// Layout and drawing of a symbol: element widths, fitting the pattern into
// the drawing box, the bars and the human-readable text.
//
// CBarcodeSym is defined in two sources: engine/BarcodeSym.cpp holds its
// text pipeline (text, check characters, display text, pattern), this file
// its layout and drawing. Every drawing step works in the symbol's own axes
// (along and across, engine/SymbolAxes.h) and leaves the orientation to
// SymbolAxes.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "engine/BarSpans.h"
#include "engine/BarcodeSym.h"
#include "engine/ErrorCodes.h"
#include "engine/Rounding.h"
#include "engine/SymbolAxes.h"
#include "imaging/ImageWriter.h"

namespace strixel {

namespace {

// The human-readable text is turned with the symbol; the angle uses this
// approximation of pi so that quarter turns come out as they always have.
constexpr double Pi = 3.1415926;

// Groups of the split retail text: first byte, byte count (relative to the
// text length n when CountFromEnd is set: count = n - Count), offset and
// width in modules.
struct RetailGroup {
  BarcodeType Type;
  TextAlignment Mode;
  int First;
  int Count;
  bool CountFromEnd;
  int Offset;
  int Width;
};

constexpr TextAlignment FirstOut = RetailFirstDigitOutside;
constexpr TextAlignment BothOut = RetailFirstAndLastDigitOutside;
constexpr TextAlignment AllIn = RetailDigitsInside;

// EAN-13 and UPC-A have their digit groups in two 43-module halves, EAN-8 in
// two 29-module halves, UPC-E in one six-digit block; FirstOut keeps the
// first digit (the number system) outside the bars, BothOut the last one
// (the check digit) too.
constexpr RetailGroup RetailGroups[] = {
    {Ean13, FirstOut, 1, 6, false, 3, 43},
    {Ean13, FirstOut, 7, 7, true, 49, 43},
    {Ean8, FirstOut, 1, 3, false, 3, 29},
    {Ean8, FirstOut, 4, 4, true, 35, 29},
    {UpcA, FirstOut, 1, 5, false, 3, 43},
    {UpcA, FirstOut, 6, 6, true, 49, 43},
    {UpcE, FirstOut, 1, 1, true, 3, 43},
    {Ean13, BothOut, 1, 5, false, 3, 43},
    {Ean13, BothOut, 6, 7, true, 49, 43},
    {UpcA, BothOut, 1, 5, false, 3, 43},
    {UpcA, BothOut, 6, 7, true, 49, 43},
    {Ean8, BothOut, 1, 3, false, 3, 29},
    {Ean8, BothOut, 4, 5, true, 35, 29},
    {UpcE, BothOut, 1, 2, true, 3, 43},
    {Ean13, AllIn, 0, 6, false, 3, 43},
    {Ean13, AllIn, 6, 6, true, 49, 43},
    {UpcA, AllIn, 0, 6, false, 3, 43},
    {UpcA, AllIn, 6, 6, true, 49, 43},
    {Ean8, AllIn, 0, 4, false, 3, 29},
    {Ean8, AllIn, 4, 4, true, 35, 29},
    {UpcE, AllIn, 0, 0, true, 3, 43},
};

// Module offset of the trailing digit in BothOut, -1 for a type without.
int TrailingDigitOffset(int barType) {
  switch (barType) {
  case Ean13:
  case UpcA:
    return 96;
  case Ean8:
    return 68;
  case UpcE:
    return 52;
  default:
    return -1;
  }
}

// The first digit, outside the bars, is right-aligned in a field this wide
// that ends one module before the first bar.
constexpr int OutsideDigitField = 10000;

bool IsBar(std::uint8_t element) {
  return element == Bar1 || element == Bar2 || element == Bar3 ||
         element == Bar4 || element == WideBar || element == GuardBar ||
         element == TallBar || element == ShortBar;
}

// The reduction is a percentage of a module taken off every bar; computed
// in floating point so that no percentage can overflow.
std::int64_t BarReduction(int percent, int moduleWidth) {
  const double reduction = std::trunc(percent / 100.0 * moduleWidth);
  return static_cast<std::int64_t>(std::clamp(
      reduction, -static_cast<double>(INT_MAX), static_cast<double>(INT_MAX)));
}

// Where the bars lie along the symbol, in pixels from the origin, ordinary
// bars and guard bars apart, each set joined: the pen advances by the full
// element width, the bar drawn is the reduction narrower, or wider when the
// reduction is negative, so that it may overlap its neighbours.
struct BarSpans {
  std::vector<Span> Bars;
  std::vector<Span> Guards;
  std::vector<Span> Shorts;
};

BarSpans BarSpansOf(const CBarcodeSym &sym) {
  const int m = sym.ModuleWidth;
  const std::int64_t reduction =
      BarReduction(sym.Settings.BarWidthReduction, m);
  BarSpans spans;
  std::int64_t pen = 0;
  for (std::uint8_t e : sym.Elements) {
    const int width = sym.ElementWidth(e, m);
    if (IsBar(e)) {
      const Span bar{pen, pen + SaturateToInt(width - reduction)};
      (e == GuardBar   ? spans.Guards
       : e == ShortBar ? spans.Shorts
                       : spans.Bars)
          .push_back(bar);
    }
    pen += width;
  }
  spans.Bars = JoinSpans(std::move(spans.Bars));
  spans.Guards = JoinSpans(std::move(spans.Guards));
  spans.Shorts = JoinSpans(std::move(spans.Shorts));
  return spans;
}

// How far the bars reach across the symbol, in pixels from the origin.
// Ordinary bars leave the text band free; guard bars reach G pixels less
// far into it, half of it with ShowGuard (G is the whole band without). With
// the text above, the bars start past the band and guard bars past G.
struct BarBands {
  Span Bars;
  Span Guards;
  Span Shorts;
};

BarBands BarBandsOf(const CBarcodeSym &sym) {
  const CBarcodeProps &settings = sym.Settings;
  const int t = sym.TextHeight;
  const int g = !settings.ShowText ? 0 : settings.ShowGuard ? t / 2 : t;
  const std::int64_t cross =
      SymbolAxes::Of(settings.Orientation).Across(sym.BoxWidth, sym.BoxHeight);
  const bool above = settings.ShowText && !settings.TextBottomTop;
  const std::int64_t barStart = above ? t : 0;
  const std::int64_t guardStart = above ? g : 0;
  const Span bars{barStart, barStart + SaturateToInt(cross - t)};
  // Postal half-height bars: 40 percent of the full ones (the standard's
  // 0.050 in against 0.125 in), at least a pixel, standing on the far end
  // of the full bars so that both share the edge away from the start corner.
  const std::int64_t shortLength = std::max<std::int64_t>(
      1, RoundHalfAway(0.4 * static_cast<double>(bars.End - bars.Start)));
  return {bars,
          {guardStart, guardStart + SaturateToInt(cross - g)},
          {bars.End - shortLength, bars.End}};
}

// Fills the bars at the along spans, each over the across span.
void FillSpans(const CBarcodeSym &sym, CImageWriter &canvas, Point64 origin,
               const std::vector<Span> &along, Span across) {
  const SymbolAxes axes = SymbolAxes::Of(sym.Settings.Orientation);
  for (const Span &bar : along)
    sym.FillBar(canvas, axes.Move(origin, bar.Start, across.Start),
                bar.End - bar.Start, across.End - across.Start);
}

// The parts of the span that other leaves free.
std::vector<Span> PartsOutside(Span span, Span other) {
  return SpansOutside(JoinSpans({span}), JoinSpans({other}));
}

// The mode of the split retail text: the digits outside the bars need room
// in the quiet zones, so without them every digit goes inside.
TextAlignment RetailMode(const CBarcodeProps &settings) {
  if (settings.ShowQuietZone &&
      (settings.TextAlign == FirstOut || settings.TextAlign == BothOut))
    return static_cast<TextAlignment>(settings.TextAlign);
  return AllIn;
}

} // namespace

SymbolAxes CBarcodeSym::Axes() const {
  return SymbolAxes::Of(Settings.Orientation);
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
  case TallBar:
  case ShortBar:
  case PostalSpace:
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
  for (std::uint8_t e : Elements) {
    width += ElementWidth(e, moduleWidth);
    if (width >= NeverFits)
      return NeverFits;
  }
  return static_cast<int>(width);
}

int CBarcodeSym::Slack(int moduleWidth, int width, int height) const {
  if (moduleWidth == NoModuleWidth)
    return NoRoom;
  return SaturateToInt(std::int64_t{Axes().Along(width, height)} -
                       GetSymbolWidth(moduleWidth));
}

bool CBarcodeSym::FitsIn(int moduleWidth, int width, int height) const {
  return Slack(moduleWidth, width, height) >= 0 &&
         Axes().Across(width, height) > TextHeight;
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
    return InvalidArgument;
  DrawRect = *rect;
  BoxWidth = SaturateToInt(std::int64_t{rect->right} - rect->left);
  BoxHeight = SaturateToInt(std::int64_t{rect->bottom} - rect->top);
  ModuleWidth = FindModuleWidth(BoxWidth, BoxHeight);
  TextHeight =
      Settings.ShowText ? canvas.GetTextHeight(Settings.FontHeight) : 0;
  if (!FitsInBox())
    return InvalidBarcodeSize;
  if (!TextValid)
    return InvalidBarcodeText;
  if (Settings.BackColor != canvas.BackgroundColor)
    canvas.FillRect(0, 0, BoxWidth, BoxHeight, Settings.BackColor);
  int x = 0;
  int y = 0;
  GetOrigin(*rect, x, y);
  DrawBars(canvas, x, y);
  return Success;
}

int CBarcodeSym::GetOrigin(const CRect &rect, int &x, int &y) const {
  const int slack = std::max(0, Slack(ModuleWidth, BoxWidth, BoxHeight));
  std::int64_t offset = 0;
  switch (Settings.BarAlign) {
  case BarsAtEnd:
    offset = slack;
    break;
  case BarsCentred:
    offset = slack / 2;
    break;
  default:
    break;
  }
  offset += QuietZone(ModuleWidth);
  const SymbolAxes axes = Axes();
  const Point64 origin =
      axes.Move(axes.StartCorner(rect, BoxWidth, BoxHeight), offset, 0);
  x = SaturateToInt(origin.x);
  y = SaturateToInt(origin.y);
  return SaturateToInt(offset);
}

void CBarcodeSym::FillBar(CImageWriter &canvas, Point64 corner,
                          std::int64_t along, std::int64_t across) const {
  if (along <= 0 || across <= 0)
    return;
  const Rect64 bar = Axes().Cover(corner, along, across);
  // Keep every bar inside the drawing box, whatever the bar width reduction.
  const std::int64_t left = std::max<std::int64_t>(bar.left, DrawRect.left);
  const std::int64_t top = std::max<std::int64_t>(bar.top, DrawRect.top);
  const std::int64_t right = std::min<std::int64_t>(bar.right, DrawRect.right);
  const std::int64_t bottom =
      std::min<std::int64_t>(bar.bottom, DrawRect.bottom);
  if (right <= left || bottom <= top)
    return;
  canvas.FillRect(static_cast<int>(left), static_cast<int>(top),
                  static_cast<int>(right - left),
                  static_cast<int>(bottom - top), Settings.ForeColor);
}

// Every bar has the same colour, so what is filled is the union of the
// bars, each pixel once: the ordinary bars, then the guard bars where they
// reach beyond them and, beside them, only what no ordinary bar covers.
// Widened bars overlap; filling each bar on its own would fill the same
// pixels over and over (with a huge negative reduction every bar reaches
// the box edge, and the work would grow with bars x box area).
void CBarcodeSym::DrawBars(CImageWriter &canvas, int x, int y) const {
  const Point64 origin{x, y};
  const BarBands bands = BarBandsOf(*this);
  const BarSpans spans = BarSpansOf(*this);
  FillSpans(*this, canvas, origin, spans.Bars, bands.Bars);
  for (const Span &beyond : PartsOutside(bands.Guards, bands.Bars))
    FillSpans(*this, canvas, origin, spans.Guards, beyond);
  const Span beside{std::max(bands.Guards.Start, bands.Bars.Start),
                    std::min(bands.Guards.End, bands.Bars.End)};
  FillSpans(*this, canvas, origin, SpansOutside(spans.Guards, spans.Bars),
            beside);
  // Short bars lie within the band of the full ones: only what no full bar
  // covers (widened bars may overlap).
  FillSpans(*this, canvas, origin, SpansOutside(spans.Shorts, spans.Bars),
            bands.Shorts);
  DrawText(canvas, x, y, TextHeight);
}

void CBarcodeSym::DrawText(CImageWriter &canvas, int x, int y,
                           int /*textHeight*/) const {
  if (Settings.ShowText)
    DrawTextLine(canvas, x, y, Settings.DisplayText);
}

double CBarcodeSym::TextAngle() const {
  return Axes().Degrees * Pi / 180;
}

void CBarcodeSym::TextReferencePoint(int x, int y, int &rx, int &ry) const {
  // Text below lies on the box edge beyond the bars; text above on the
  // inner edge of the text band.
  const SymbolAxes axes = Axes();
  const int across =
      Settings.TextBottomTop ? axes.Across(BoxWidth, BoxHeight) : TextHeight;
  const Point64 point = axes.Move({x, y}, 0, across);
  rx = SaturateToInt(point.x);
  ry = SaturateToInt(point.y);
}

void CBarcodeSym::DrawTextLine(CImageWriter &canvas, int x, int y,
                               const std::string &text) const {
  const int slack = std::max(0, Slack(ModuleWidth, BoxWidth, BoxHeight));
  const int quiet = QuietZone(ModuleWidth);
  // The pattern without its quiet zones (a pixel more for an odd slack).
  const int span =
      SaturateToInt(std::int64_t{Axes().Along(BoxWidth, BoxHeight)} -
                    2 * (std::int64_t{quiet} + slack / 2));
  StringAlign align = AlignStart;
  switch (Settings.TextAlign) {
  case TextAtEnd:
    align = AlignEnd;
    break;
  case TextCentred:
    align = AlignCentre;
    break;
  case TextSpread:
    align = AlignSpread;
    break;
  default:
    break;
  }
  int rx = 0, ry = 0;
  TextReferencePoint(x, y, rx, ry);
  canvas.DrawString(text.c_str(), Settings.FontHeight, align, rx, ry,
                    align == AlignStart ? 0 : span, TextAngle(),
                    Settings.TextColor);
}

void CBarcodeSym::DrawTextPart(CImageWriter &canvas, const std::string &text,
                               std::size_t first, std::size_t count, int x,
                               int y, int offset, int width, StringAlign align,
                               bool inset) const {
  if (first >= text.size() || count == 0)
    return;
  count = std::min(count, text.size() - first);
  const int m = ModuleWidth;
  std::int64_t along = offset;
  std::int64_t w = width;
  if (inset) {
    along += m;
    w -= std::int64_t{2} * m;
  }
  const Point64 point = Axes().Move({x, y}, along, 0);
  canvas.DrawStringN(text.c_str() + first, count, Settings.FontHeight, align,
                     SaturateToInt(point.x), SaturateToInt(point.y),
                     SaturateToInt(w), TextAngle(), Settings.TextColor);
}

void CBarcodeSym::DrawRetailText(CImageWriter &canvas, int x, int y,
                                 const std::string &text) const {
  const TextAlignment mode = RetailMode(Settings);
  int rx = 0, ry = 0;
  TextReferencePoint(x, y, rx, ry);
  if (mode != AllIn && !text.empty())
    DrawDigitBeforeBars(canvas, text, rx, ry);
  DrawRetailGroups(canvas, text, mode, rx, ry);
  const int trailing = TrailingDigitOffset(Settings.BarType);
  if (mode == BothOut && trailing >= 0 && !text.empty())
    DrawTextPart(canvas, text, text.size() - 1, 1, rx, ry,
                 SaturateToInt(std::int64_t{trailing} * ModuleWidth), 0,
                 AlignSpread, false);
}

void CBarcodeSym::DrawDigitBeforeBars(CImageWriter &canvas,
                                      const std::string &text, int rx,
                                      int ry) const {
  // Right-aligned in a wide field that ends one module before the first
  // bar.
  const Point64 point = Axes().Move(
      {rx, ry}, -(std::int64_t{ModuleWidth} + OutsideDigitField), 0);
  canvas.DrawStringN(text.c_str(), 1, Settings.FontHeight, AlignEnd,
                     SaturateToInt(point.x), SaturateToInt(point.y),
                     OutsideDigitField, TextAngle(), Settings.TextColor);
}

void CBarcodeSym::DrawRetailGroups(CImageWriter &canvas,
                                   const std::string &text, TextAlignment mode,
                                   int rx, int ry) const {
  const std::int64_t n = static_cast<std::int64_t>(text.size());
  const std::int64_t m = ModuleWidth;
  for (const RetailGroup &group : RetailGroups) {
    if (group.Type != Settings.BarType || group.Mode != mode)
      continue;
    const std::int64_t count =
        group.CountFromEnd ? n - group.Count : group.Count;
    if (count <= 0)
      continue;
    DrawTextPart(canvas, text, static_cast<std::size_t>(group.First),
                 static_cast<std::size_t>(count), rx, ry,
                 SaturateToInt(group.Offset * m),
                 SaturateToInt(group.Width * m), AlignSpread, true);
  }
}

} // namespace strixel
