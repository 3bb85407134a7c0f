#pragma once

#include <cstdint>
#include <vector>

#include "imaging/PenPosition.h"

namespace strixel {

// One string as the text engine has laid it out, for a writer that draws
// the glyphs itself (CImageWriter::DrawOutlines): the face at the string's
// size, the rotation of the glyphs (16.16), the glyph and pen (26.6, y
// upwards) of every glyph drawn, and the canvas pixel of the pen origin.
// A point p of a glyph turned by Matrix and moved by its pen lies at canvas
// (OriginX + p.x / 64, OriginY - p.y / 64), where the raster's bitmaps put
// it.
struct PlacedText {
  FT_Face Face;
  FT_Matrix Matrix;
  const std::vector<PenPosition> &Pens;
  std::int64_t OriginX;
  std::int64_t OriginY;
  std::uint32_t Colour;
};

} // namespace strixel
