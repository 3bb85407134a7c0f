// The glyph set and FreeType's failures. A glyph lost for want of memory
// must end the request like any other allocation failure, never leave a
// blank in an image reported as a success; and no glyph of the embedded
// font fails in any other way, so nothing else can blank the text.

#include "imaging/GlyphSet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>

#include "imaging/ImageWriter.h"

#include FT_MODULE_H

using namespace strixel;

namespace {

// FreeType's memory functions over the C heap, refusing every allocation
// while Refuse is set.
struct Heap {
  bool Refuse = false;
};

void *Allocate(FT_Memory memory, long size) {
  if (static_cast<Heap *>(memory->user)->Refuse)
    return nullptr;
  return std::malloc(static_cast<std::size_t>(size));
}

void Release(FT_Memory, void *block) {
  std::free(block);
}

void *Reallocate(FT_Memory memory, long, long size, void *block) {
  if (static_cast<Heap *>(memory->user)->Refuse)
    return nullptr;
  return std::realloc(block, static_cast<std::size_t>(size));
}

// The embedded font opened in a library of its own, over that heap.
class CTestFace {
public:
  explicit CTestFace(int fontHeight) {
    Memory.user = &Allocations;
    Memory.alloc = Allocate;
    Memory.free = Release;
    Memory.realloc = Reallocate;
    if (FT_New_Library(&Memory, &Library))
      return;
    FT_Add_Default_Modules(Library);
    if (FT_New_Memory_Face(Library, EmbeddedFontData,
                           static_cast<FT_Long>(EmbeddedFontSize), 0, &Face))
      Face = nullptr;
    else
      FT_Set_Char_Size(Face, 0, fontHeight * PixelFraction, 96, 96);
  }
  CTestFace(const CTestFace &) = delete;
  CTestFace &operator=(const CTestFace &) = delete;
  ~CTestFace() {
    Allocations.Refuse = false;
    if (Face)
      FT_Done_Face(Face);
    if (Library)
      FT_Done_Library(Library);
  }

  Heap Allocations;
  FT_Face Face = nullptr;

private:
  FT_MemoryRec_ Memory = {};
  FT_Library Library = nullptr;
};

FT_Matrix Rotation(double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  FT_Matrix m;
  m.xx = static_cast<FT_Fixed>(c * 65536);
  m.xy = static_cast<FT_Fixed>(-s * 65536);
  m.yx = static_cast<FT_Fixed>(s * 65536);
  m.yy = m.xx;
  return m;
}

TEST(GlyphSet, FontEngineOutOfMemoryIsAnAllocationFailure) {
  const FT_Vector pen = {5 * PixelFraction + 17, 3 * PixelFraction + 40};
  struct Row {
    const char *Name;
    // The glyph is loaded before the heap refuses.
    bool LoadedFirst;
  } rows[] = {
      {"loading and copying the outline", false},
      {"rendering the bitmap", true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    CTestFace face(40);
    ASSERT_NE(face.Face, nullptr);
    const FT_UInt index = FT_Get_Char_Index(face.Face, 'W');
    ASSERT_NE(index, 0u);
    CGlyphSet glyphs(face.Face, Rotation(0));
    if (row.LoadedFirst) {
      ASSERT_NE(glyphs.Get(index).Image, nullptr);
    }
    face.Allocations.Refuse = true;
    CGlyphBitmap spare;
    EXPECT_THROW(glyphs.BitmapAt(index, pen, spare), std::bad_alloc);
  }
}

TEST(GlyphSet, EveryGlyphOfTheEmbeddedFontLoadsAndRenders) {
  const FT_Vector pen = {7 * PixelFraction + 33, -2 * PixelFraction - 5};
  for (const int fontHeight : {6, 14, 440}) {
    for (const double angle : {0.0, 1.5707963267948966, 0.5}) {
      SCOPED_TRACE(testing::Message()
                   << "font height " << fontHeight << ", angle " << angle);
      CTestFace face(fontHeight);
      ASSERT_NE(face.Face, nullptr);
      CGlyphSet glyphs(face.Face, Rotation(angle));
      for (FT_Long index = 0; index < face.Face->num_glyphs; ++index) {
        const auto glyph = static_cast<FT_UInt>(index);
        const CGlyphSet::Glyph &loaded = glyphs.Get(glyph);
        ASSERT_TRUE(loaded.Loaded) << "glyph " << index;
        ASSERT_NE(loaded.Image, nullptr) << "glyph " << index;
        CGlyphSet::Box box;
        if (!glyphs.BoxAt(glyph, pen, box))
          continue;
        CGlyphBitmap spare;
        const CGlyphBitmap *bitmap = glyphs.BitmapAt(glyph, pen, spare);
        ASSERT_NE(bitmap, nullptr) << "glyph " << index;
        EXPECT_FALSE(bitmap->Coverage.empty()) << "glyph " << index;
      }
    }
  }
}

} // namespace
