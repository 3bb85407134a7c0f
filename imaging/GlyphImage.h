#pragma once

#include <memory>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

namespace strixel {

// Gives a glyph copy back to FreeType.
struct GlyphRelease {
  void operator()(FT_Glyph glyph) const { FT_Done_Glyph(glyph); }
};

// A FreeType glyph copy and its owner.
using GlyphImage = std::unique_ptr<FT_GlyphRec_, GlyphRelease>;

} // namespace strixel
