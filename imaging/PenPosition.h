#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

namespace strixel {

// A glyph of a string and the pen it is drawn at (26.6).
struct PenPosition {
  FT_UInt Index;
  FT_Vector Pen;
};

} // namespace strixel
