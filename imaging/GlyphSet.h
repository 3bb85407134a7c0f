#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#include "imaging/GlyphBitmap.h"
#include "imaging/GlyphImage.h"

namespace strixel {

// FreeType positions are 26.6 fixed point.
constexpr FT_Pos PixelFraction = 64;

// The coverage byte of a pixel that a glyph inks fully.
constexpr int FullCoverage = 255;

// Throws std::bad_alloc when FreeType reports that an allocation failed, so
// that a glyph lost for want of memory ends the request like any other
// allocation failure (code 14, nothing written) instead of leaving a blank
// in an image reported as a success. Other errors are the caller's.
void ThrowIfOutOfMemory(FT_Error error);

// The whole pixels of a 26.6 position, rounded down.
std::int64_t FloorPixels(std::int64_t value);

// The glyphs of one string, turned by its matrix: each glyph index is
// loaded and hinted once, and rendered once per sub-pixel phase of the pen.
// A text of thousands of bytes has at most a few hundred glyph indices and
// 64 phases per axis, so repeated glyphs cost a copy, not a rendering.
//
// Reusing is exact for this font engine: a hinted glyph does not depend on
// the glyphs loaded before it (the interpreter keeps a glyph program's
// changes to the control values and storage to that glyph), and the
// renderer moves the outline to the bitmap's own whole-pixel origin before
// it scans it, so a bitmap depends on the pen only through its fraction of
// a pixel. Where the renderer refuses a position (a bitmap edge beyond
// its 16-bit pixel range) the glyph is not drawn, as before.
class CGlyphSet {
public:
  // The pixels a glyph's bitmap takes for one pen position: left column,
  // top row counted upwards, and size.
  struct Box {
    std::int64_t Left = 0;
    std::int64_t Top = 0;
    std::int64_t Width = 0;
    std::int64_t Rows = 0;
  };

  struct Glyph {
    bool Loaded = false;    // FT_Load_Glyph succeeded
    FT_Vector Advance = {}; // 26.6, upright
    FT_Vector Turned = {};  // the advance turned by the matrix
    GlyphImage Image;       // turned, at the origin; absent when the
                            // copy failed
    FT_BBox Box = {};       // control box of a turned outline
  };

  CGlyphSet(FT_Face face, const FT_Matrix &matrix);
  CGlyphSet(const CGlyphSet &) = delete;
  CGlyphSet &operator=(const CGlyphSet &) = delete;

  // The glyph of index, loaded (with FT_LOAD_DEFAULT, no transform) on the
  // first request. Throws std::bad_alloc when FreeType runs out of memory.
  const Glyph &Get(FT_UInt index);
  // The box of the glyph's bitmap for the pen; false when it draws
  // nothing there (no ink, or a position the renderer refuses).
  bool BoxAt(FT_UInt index, FT_Vector pen, Box &box);
  // The bitmap for the pen's sub-pixel phase; null when rendering fails
  // (std::bad_alloc when for want of memory). Once the set keeps no more
  // bitmaps it renders into spare.
  const CGlyphBitmap *BitmapAt(FT_UInt index, FT_Vector pen,
                               CGlyphBitmap &spare);
  // About the memory the set holds: its glyphs' outlines and its bitmaps.
  std::size_t Bytes() const;

private:
  // Bitmaps kept for reuse stay within this many bytes; beyond it a bitmap
  // is rendered for the caller alone.
  static constexpr std::size_t MaxKeptBytes = 8u << 20;

  using PhaseKey = std::pair<FT_UInt, std::pair<FT_Pos, FT_Pos>>;

  bool Render(const Glyph &glyph, FT_Vector phase, CGlyphBitmap &bitmap);

  FT_Face Face;
  FT_Matrix Matrix;
  std::unordered_map<FT_UInt, Glyph> Glyphs;
  std::map<PhaseKey, CGlyphBitmap> Bitmaps;
  std::size_t KeptBytes = 0;
  std::size_t GlyphBytes = 0;
};

} // namespace strixel
