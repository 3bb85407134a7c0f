#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "imaging/GlyphSet.h"
#include "imaging/ImageWriter.h"
#include "imaging/PenPosition.h"

namespace strixel {

// One channel of the coverage blend: the inverted values (ink amounts) are
// mixed and the sum truncated, which rounds the mixed value towards the
// text colour. Coverage 255 gives the text colour whatever was there.
std::uint8_t BlendChannel(int old, int ink, int coverage);

// The largest value of a colour channel.
constexpr int MaxChannel = 255;

// Blends the glyphs of one string into a canvas in one colour. The result
// is that of blending every glyph in order, but the work is bounded by the
// pixels the text reaches, not by glyph count x glyph area: the glyphs are
// visited last to first, a pixel that a glyph covers fully is final from
// then on (every earlier glyph would be overwritten there), so earlier
// glyphs skip it, and a glyph whose box is final everywhere is not even
// rendered. Partial coverage of pixels that are not final is noted and
// applied at the end, first glyph first. A string with very many partial
// pixels is done in runs of consecutive glyphs, to bound that memory.
class CTextCompositor {
public:
  // (ox, oy) is the canvas pixel of the pen origin; canvas rows grow
  // downwards, FreeType's upwards.
  CTextCompositor(CImageWriter &canvas, std::uint32_t colour, std::int64_t ox,
                  std::int64_t oy);
  void Draw(CGlyphSet &glyphs, const std::vector<PenPosition> &pens);
  // Blends one pixel (red, green, blue) towards the text colour by coverage
  // (0 to 255): the blend of every glyph, whichever way it is composited.
  void Blend(std::uint8_t *pixel, int coverage) const;

private:
  // A glyph box on the canvas: top-left pixel and size.
  struct Placed {
    PenPosition At;
    std::int64_t X, Y, Width, Rows;
    const CGlyphBitmap *Bitmap; // once its run is planned
  };
  // A run of ink of a bitmap row on the canvas.
  struct Span {
    std::int64_t Y; // canvas row
    std::int64_t X; // canvas column of Line[0]
    const std::uint8_t *Line;
  };

  std::vector<Placed> PlaceOnCanvas(CGlyphSet &glyphs,
                                    const std::vector<PenPosition> &pens);
  // The end of the run of glyphs from begin whose partial pixels and
  // bitmaps of its own stay within their limits (at least one glyph); the
  // run's bitmaps are rendered here.
  std::size_t RunEnd(CGlyphSet &glyphs, std::vector<Placed> &placed,
                     std::size_t begin);
  void DrawRun(const std::vector<Placed> &placed, std::size_t begin,
               std::size_t end);
  void FindRegion(const std::vector<Placed> &placed, std::size_t begin,
                  std::size_t end);
  // The first column in [from, to) of canvas row y whose pixel is final
  // (or is not, with final false), or to.
  std::int64_t NextColumn(std::int64_t y, std::int64_t from, std::int64_t to,
                          bool final) const;
  // The bits of canvas row y, one per region column.
  std::uint64_t *FinalRow(std::int64_t y);
  bool IsFinalEverywhere(const Placed &glyph) const;
  // Hands every stretch of the glyph's bitmap that has ink (and, with
  // onlyOpen, is not final yet) to action.
  using StretchAction = void (CTextCompositor::*)(const Span &, std::int64_t,
                                                  std::int64_t);
  void ForEachInkStretch(const Placed &glyph, bool onlyOpen,
                         StretchAction action);
  // Full coverage sets the colour and makes the pixel final; partial
  // coverage is noted.
  void NoteStretch(const Span &span, std::int64_t from, std::int64_t to);
  void BlendStretch(const Span &span, std::int64_t from, std::int64_t to);
  void ApplyPartials();
  void BuildTables();

  CImageWriter &Canvas;
  std::int64_t CanvasWidth, CanvasHeight;
  std::int64_t OriginX, OriginY;
  std::uint8_t Colour[CImageWriter::BytesPerPixel];
  int Ink[CImageWriter::BytesPerPixel];
  // The region the glyphs reach, and one bit per pixel of it: set once a
  // later glyph has covered the pixel fully.
  std::int64_t RegionLeft = 0, RegionTop = 0, RegionWidth = 0, RegionHeight = 0;
  std::int64_t WordsPerRow = 0;
  std::vector<std::uint64_t> Final;
  // Partial coverage of pixels not yet final, in the order found (last
  // glyph first): region offset and coverage.
  std::vector<std::uint32_t> PartialAt;
  std::vector<std::uint8_t> PartialCoverage;
  std::size_t MaxPartials = 0;
  // Blend results per channel, coverage x old value, once the blends are
  // many enough to pay for them.
  std::vector<std::uint8_t> Tables;
  // The coverage bytes of the current run's glyphs, and its bitmaps that
  // the glyph set does not keep.
  std::size_t RunInk = 0;
  std::deque<CGlyphBitmap> RunBitmaps;
};

} // namespace strixel
