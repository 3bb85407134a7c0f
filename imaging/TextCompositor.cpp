#include "imaging/TextCompositor.h"

#include <algorithm>
#include <climits>

namespace strixel {

std::uint8_t BlendChannel(int old, int ink, int coverage) {
  const double a = coverage / static_cast<double>(FullCoverage);
  return static_cast<std::uint8_t>(
      MaxChannel - static_cast<int>((MaxChannel - old) * (1.0 - a) + ink * a));
}

namespace {

// Partial coverage noted for the end of a run of glyphs stays within this
// many entries (five bytes each): a string whose glyphs have more partial
// pixels is composited in consecutive runs of glyphs, first run first,
// each on top of the result of those before it.
constexpr std::size_t PartialLimit = std::size_t{1} << 20;

// Bitmaps rendered for one run alone (the glyph set keeps no more) stay
// within this many bytes; a run ends before a glyph that would exceed it.
constexpr std::size_t RunBitmapLimit = std::size_t{4} << 20;

// Region offsets are 32-bit: a canvas has far fewer pixels.
static_assert(CImageWriter::MaxRasterBytes / CImageWriter::BytesPerPixel <=
                  UINT32_MAX,
              "a canvas pixel offset fits in 32 bits");

// From this many blends on, a table of every result (three channels of
// 256 coverages x 256 old values, built with BlendChannel itself) costs
// less than the arithmetic.
constexpr std::size_t Channels = CImageWriter::BytesPerPixel;
constexpr std::size_t Levels = 256;
constexpr std::size_t TableFrom = Channels * Levels * Levels;

// The bits of the final-pixel map are kept in 64-bit words: bit i is bit
// (i & WordMask) of word (i >> WordShift).
constexpr int WordShift = 6;
constexpr std::int64_t WordBits = std::int64_t{1} << WordShift;
constexpr std::int64_t WordMask = WordBits - 1;

int CountTrailingZeros(std::uint64_t word) {
  return __builtin_ctzll(word);
}

} // namespace

CTextCompositor::CTextCompositor(CImageWriter &canvas, std::uint32_t colour,
                                 std::int64_t ox, std::int64_t oy)
    : Canvas(canvas), CanvasWidth(canvas.Width),
      CanvasHeight(std::min<std::int64_t>(canvas.Height, canvas.Rows.size())),
      OriginX(ox), OriginY(oy) {
  for (std::size_t channel = 0; channel < Channels; ++channel) {
    Colour[channel] = ColourChannel(colour, static_cast<int>(channel));
    Ink[channel] = MaxChannel - Colour[channel];
  }
}

void CTextCompositor::Draw(CGlyphSet &glyphs,
                           const std::vector<PenPosition> &pens) {
  std::vector<Placed> placed = PlaceOnCanvas(glyphs, pens);
  std::size_t begin = 0;
  while (begin < placed.size()) {
    const std::size_t end = RunEnd(glyphs, placed, begin);
    DrawRun(placed, begin, end);
    begin = end;
  }
}

std::size_t CTextCompositor::RunEnd(CGlyphSet &glyphs,
                                    std::vector<Placed> &placed,
                                    std::size_t begin) {
  RunBitmaps.clear();
  RunInk = 0;
  std::size_t end = begin;
  std::size_t partials = 0;
  std::size_t bytes = 0;
  while (end < placed.size()) {
    Placed &glyph = placed[end];
    CGlyphBitmap &spare = RunBitmaps.emplace_back();
    glyph.Bitmap = glyphs.BitmapAt(glyph.At.Index, glyph.At.Pen, spare);
    const bool own = glyph.Bitmap == &spare;
    // The ink of a glyph bounds its partial pixels; they are counted only
    // once the run's ink could exceed the limit.
    std::size_t count = glyph.Bitmap ? glyph.Bitmap->Coverage.size() : 0;
    if (partials + count > PartialLimit && glyph.Bitmap)
      count = glyph.Bitmap->PartialPixels();
    const std::size_t size = own ? spare.Bytes() : 0;
    if (end > begin &&
        (partials + count > PartialLimit || bytes + size > RunBitmapLimit)) {
      RunBitmaps.pop_back();
      break;
    }
    if (!own)
      RunBitmaps.pop_back();
    partials += count;
    bytes += size;
    if (glyph.Bitmap)
      RunInk += glyph.Bitmap->Coverage.size();
    ++end;
  }
  return end;
}

void CTextCompositor::DrawRun(const std::vector<Placed> &placed,
                              std::size_t begin, std::size_t end) {
  FindRegion(placed, begin, end);
  // Glyphs that hardly overlap (any ordinary text) are cheapest blended
  // as they come.
  if (RunInk <= 2 * static_cast<std::size_t>(RegionWidth * RegionHeight)) {
    for (std::size_t k = begin; k < end; ++k)
      ForEachInkStretch(placed[k], false, &CTextCompositor::BlendStretch);
    return;
  }
  Final.assign(static_cast<std::size_t>(WordsPerRow * RegionHeight), 0);
  PartialAt.clear();
  PartialCoverage.clear();
  for (std::size_t k = end; k-- > begin;)
    if (!IsFinalEverywhere(placed[k]))
      ForEachInkStretch(placed[k], true, &CTextCompositor::NoteStretch);
  if (Tables.empty() && PartialAt.size() >= TableFrom)
    BuildTables();
  ApplyPartials();
}

std::vector<CTextCompositor::Placed>
CTextCompositor::PlaceOnCanvas(CGlyphSet &glyphs,
                               const std::vector<PenPosition> &pens) {
  std::vector<Placed> placed;
  placed.reserve(pens.size());
  for (const PenPosition &at : pens) {
    CGlyphSet::Box box;
    if (!glyphs.BoxAt(at.Index, at.Pen, box))
      continue;
    const std::int64_t x = OriginX + box.Left;
    const std::int64_t y = OriginY - box.Top;
    // A glyph wholly off the canvas is never rendered.
    if (x >= CanvasWidth || y >= CanvasHeight || x + box.Width <= 0 ||
        y + box.Rows <= 0)
      continue;
    placed.push_back({at, x, y, box.Width, box.Rows, nullptr});
  }
  return placed;
}

void CTextCompositor::FindRegion(const std::vector<Placed> &placed,
                                 std::size_t begin, std::size_t end) {
  std::int64_t left = INT64_MAX, top = INT64_MAX;
  std::int64_t right = INT64_MIN, bottom = INT64_MIN;
  for (std::size_t k = begin; k < end; ++k) {
    const Placed &glyph = placed[k];
    left = std::min(left, std::max<std::int64_t>(0, glyph.X));
    top = std::min(top, std::max<std::int64_t>(0, glyph.Y));
    right = std::max(right, std::min(CanvasWidth, glyph.X + glyph.Width));
    bottom = std::max(bottom, std::min(CanvasHeight, glyph.Y + glyph.Rows));
  }
  RegionLeft = left;
  RegionTop = top;
  RegionWidth = right - left;
  RegionHeight = bottom - top;
  WordsPerRow = (RegionWidth + WordMask) / WordBits;
}

std::int64_t CTextCompositor::NextColumn(std::int64_t y, std::int64_t from,
                                         std::int64_t to, bool final) const {
  const std::uint64_t *words = Final.data() + (y - RegionTop) * WordsPerRow;
  std::int64_t i = from - RegionLeft;
  const std::int64_t end = to - RegionLeft;
  while (i < end) {
    const std::uint64_t word =
        final ? words[i >> WordShift] : ~words[i >> WordShift];
    const std::uint64_t found = word >> (i & WordMask);
    if (found != 0)
      return std::min(to, RegionLeft + i + CountTrailingZeros(found));
    i = (i | WordMask) + 1;
  }
  return to;
}

std::uint64_t *CTextCompositor::FinalRow(std::int64_t y) {
  return Final.data() + (y - RegionTop) * WordsPerRow;
}

bool CTextCompositor::IsFinalEverywhere(const Placed &glyph) const {
  const std::int64_t from = std::max(glyph.X, RegionLeft);
  const std::int64_t to =
      std::min(glyph.X + glyph.Width, RegionLeft + RegionWidth);
  const std::int64_t bottom =
      std::min(glyph.Y + glyph.Rows, RegionTop + RegionHeight);
  for (std::int64_t y = std::max(glyph.Y, RegionTop); y < bottom; ++y)
    if (NextColumn(y, from, to, false) < to)
      return false;
  return true;
}

void CTextCompositor::ForEachInkStretch(const Placed &glyph, bool onlyOpen,
                                        StretchAction action) {
  const CGlyphBitmap *bitmap = glyph.Bitmap;
  if (!bitmap)
    return;
  std::int64_t x = OriginX + bitmap->Left;
  std::int64_t y = OriginY - bitmap->Top;
  if (bitmap->FollowsPen) {
    x += FloorPixels(glyph.At.Pen.x);
    y -= FloorPixels(glyph.At.Pen.y);
  }
  const std::int64_t firstRow = std::max<std::int64_t>(0, RegionTop - y);
  const std::int64_t endRow =
      std::min<std::int64_t>(bitmap->Rows, RegionTop + RegionHeight - y);
  const std::int64_t regionRight = RegionLeft + RegionWidth;
  for (std::int64_t row = firstRow; row < endRow; ++row) {
    const std::size_t lastRun = bitmap->RowRuns[row + 1];
    for (std::size_t run = bitmap->RowRuns[row]; run < lastRun; ++run) {
      const CGlyphBitmap::InkRun &ink = bitmap->Runs[run];
      Span span;
      span.Y = y + row;
      span.X = x + ink.First;
      span.Line = bitmap->Coverage.data() + ink.Offset;
      const std::int64_t from = std::max(span.X, RegionLeft);
      const std::int64_t to = std::min(x + ink.End, regionRight);
      if (!onlyOpen) {
        if (from < to)
          (this->*action)(span, from, to);
        continue;
      }
      for (std::int64_t open = NextColumn(span.Y, from, to, false);
           open < to;) {
        const std::int64_t closed = NextColumn(span.Y, open, to, true);
        (this->*action)(span, open, closed);
        open = NextColumn(span.Y, closed, to, false);
      }
    }
  }
}

void CTextCompositor::NoteStretch(const Span &span, std::int64_t from,
                                  std::int64_t to) {
  std::uint8_t *pixel =
      Canvas.Rows[static_cast<std::size_t>(span.Y)] + Channels * from;
  std::uint64_t *final = FinalRow(span.Y);
  const std::uint8_t *coverage = span.Line + (from - span.X);
  const std::int64_t offset = (span.Y - RegionTop) * RegionWidth - RegionLeft;
  for (std::int64_t x = from; x < to; ++x, pixel += Channels, ++coverage) {
    if (*coverage == FullCoverage) {
      pixel[0] = Colour[0];
      pixel[1] = Colour[1];
      pixel[2] = Colour[2];
      const std::int64_t i = x - RegionLeft;
      final[i >> WordShift] |= std::uint64_t{1} << (i & WordMask);
    } else if (*coverage != 0) {
      PartialAt.push_back(static_cast<std::uint32_t>(offset + x));
      PartialCoverage.push_back(*coverage);
    }
  }
}

void CTextCompositor::BlendStretch(const Span &span, std::int64_t from,
                                   std::int64_t to) {
  std::uint8_t *pixel =
      Canvas.Rows[static_cast<std::size_t>(span.Y)] + Channels * from;
  const std::uint8_t *coverage = span.Line + (from - span.X);
  for (std::int64_t x = from; x < to; ++x, ++coverage, pixel += Channels)
    Blend(pixel, *coverage);
}

void CTextCompositor::ApplyPartials() {
  // Noted last glyph first; blended first glyph first.
  for (std::size_t k = PartialAt.size(); k-- > 0;) {
    const std::int64_t offset = PartialAt[k];
    const std::int64_t x = RegionLeft + offset % RegionWidth;
    const std::int64_t y = RegionTop + offset / RegionWidth;
    Blend(Canvas.Rows[static_cast<std::size_t>(y)] + Channels * x,
          PartialCoverage[k]);
  }
}

void CTextCompositor::Blend(std::uint8_t *pixel, int coverage) const {
  if (coverage == FullCoverage) {
    // Full coverage mixes nothing of the old colour in.
    pixel[0] = Colour[0];
    pixel[1] = Colour[1];
    pixel[2] = Colour[2];
  } else if (Tables.empty()) {
    for (std::size_t channel = 0; channel < Channels; ++channel)
      pixel[channel] = BlendChannel(pixel[channel], Ink[channel], coverage);
  } else {
    const std::uint8_t *table =
        Tables.data() + static_cast<std::size_t>(coverage) * Levels;
    for (std::size_t channel = 0; channel < Channels; ++channel)
      pixel[channel] = table[channel * Levels * Levels + pixel[channel]];
  }
}

void CTextCompositor::BuildTables() {
  Tables.resize(Channels * Levels * Levels);
  std::uint8_t *entry = Tables.data();
  for (std::size_t channel = 0; channel < Channels; ++channel)
    for (std::size_t coverage = 0; coverage < Levels; ++coverage)
      for (std::size_t old = 0; old < Levels; ++old)
        *entry++ = BlendChannel(static_cast<int>(old), Ink[channel],
                                static_cast<int>(coverage));
}

} // namespace strixel
