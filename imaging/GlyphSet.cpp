#include "imaging/GlyphSet.h"

#include FT_OUTLINE_H

namespace strixel {

long long FloorPixels(long long value) {
  return value >= 0 ? value / PixelFraction
                    : -((-value + PixelFraction - 1) / PixelFraction);
}

namespace {

long long CeilPixels(long long value) {
  return -FloorPixels(-value);
}

long Phase(long value) {
  return static_cast<long>(value - FloorPixels(value) * PixelFraction);
}

// The renderer refuses a bitmap with an edge beyond 16 bits.
constexpr long long LowestPixel = -0x8000;
constexpr long long HighestPixel = 0x7FFF;

// The row of a bitmap that is on top on the canvas: FreeType stores
// upward-flowing bitmaps bottom row first.
const std::uint8_t *TopRow(const FT_Bitmap &bitmap) {
  const std::uint8_t *buffer = bitmap.buffer;
  if (bitmap.pitch < 0 && bitmap.rows > 0)
    buffer -= static_cast<long long>(bitmap.pitch) * (bitmap.rows - 1);
  return buffer;
}

bool IsOutline(const CGlyphSet::Glyph &glyph) {
  return glyph.Image && glyph.Image->format == FT_GLYPH_FORMAT_OUTLINE;
}

const FT_Outline &OutlineOf(const CGlyphSet::Glyph &glyph) {
  return reinterpret_cast<FT_OutlineGlyph>(glyph.Image.get())->outline;
}

// Copies the runs of ink out of FreeType's bitmap, top row first.
void CopyCoverage(const FT_Bitmap &source, GlyphBitmap &bitmap) {
  bitmap.Width = static_cast<int>(source.width);
  bitmap.Rows = static_cast<int>(source.rows);
  bitmap.RowRuns.assign(1, 0);
  bitmap.RowRuns.reserve(source.rows + 1);
  const std::uint8_t *top = TopRow(source);
  for (unsigned row = 0; row < source.rows; ++row) {
    const std::uint8_t *line = top + static_cast<long long>(source.pitch) * row;
    int column = 0;
    while (column < bitmap.Width) {
      while (column < bitmap.Width && line[column] == 0)
        ++column;
      const int first = column;
      while (column < bitmap.Width && line[column] != 0)
        ++column;
      if (first == column)
        continue;
      bitmap.Runs.push_back({first, column, bitmap.Coverage.size()});
      bitmap.Coverage.insert(bitmap.Coverage.end(), line + first,
                             line + column);
    }
    bitmap.RowRuns.push_back(bitmap.Runs.size());
  }
  // Kept bitmaps are counted by their size; let that be what they hold.
  bitmap.Runs.shrink_to_fit();
  bitmap.Coverage.shrink_to_fit();
}

} // namespace

CGlyphSet::CGlyphSet(FT_Face face, const FT_Matrix &matrix)
    : Face(face), Matrix(matrix) {}

const CGlyphSet::Glyph &CGlyphSet::Get(FT_UInt index) {
  const auto found = Glyphs.find(index);
  if (found != Glyphs.end())
    return found->second;
  Glyph &glyph = Glyphs[index];
  if (FT_Load_Glyph(Face, index, FT_LOAD_DEFAULT))
    return glyph;
  glyph.Loaded = true;
  glyph.Advance = Face->glyph->advance;
  glyph.Turned = glyph.Advance;
  FT_Vector_Transform(&glyph.Turned, &Matrix);
  FT_Glyph image = nullptr;
  if (FT_Get_Glyph(Face->glyph, &image))
    return glyph;
  glyph.Image.reset(image);
  // As FreeType does with the transform of a face: turn the outline; the
  // pen moves it later. (A bitmap glyph of a bitmap font cannot be turned
  // and stays where it is.)
  FT_Glyph_Transform(image, &Matrix, nullptr);
  if (IsOutline(glyph))
    FT_Outline_Get_CBox(&OutlineOf(glyph), &glyph.Box);
  return glyph;
}

bool CGlyphSet::BoxAt(FT_UInt index, FT_Vector pen, GlyphBox &box) {
  const Glyph &glyph = Get(index);
  if (!glyph.Image)
    return false;
  if (!IsOutline(glyph)) {
    const GlyphBitmap *bitmap = BitmapAt(index, pen);
    if (!bitmap)
      return false;
    box = {bitmap->Left, bitmap->Top, bitmap->Width, bitmap->Rows};
    return box.Width > 0 && box.Rows > 0;
  }
  if (OutlineOf(glyph).n_points == 0)
    return false;
  // The renderer's own pixel box: the control box moved to the pen and
  // widened to whole pixels.
  const long long left = FloorPixels(glyph.Box.xMin + pen.x);
  const long long right = CeilPixels(glyph.Box.xMax + pen.x);
  const long long bottom = FloorPixels(glyph.Box.yMin + pen.y);
  const long long top = CeilPixels(glyph.Box.yMax + pen.y);
  if (left < LowestPixel || right > HighestPixel || bottom < LowestPixel ||
      top > HighestPixel)
    return false;
  box = {left, top, right - left, top - bottom};
  return box.Width > 0 && box.Rows > 0;
}

const GlyphBitmap *CGlyphSet::BitmapAt(FT_UInt index, FT_Vector pen) {
  const Glyph &glyph = Get(index);
  if (!glyph.Image)
    return nullptr;
  FT_Vector phase = {0, 0};
  if (IsOutline(glyph))
    phase = {Phase(pen.x), Phase(pen.y)};
  const PhaseKey key{index, {phase.x, phase.y}};
  const auto found = Bitmaps.find(key);
  if (found != Bitmaps.end())
    return &found->second;
  GlyphBitmap bitmap;
  if (!Render(glyph, phase, bitmap))
    return nullptr;
  const std::size_t bytes = bitmap.Coverage.size() +
                            bitmap.Runs.size() * sizeof(bitmap.Runs[0]) +
                            bitmap.RowRuns.size() * sizeof(bitmap.RowRuns[0]);
  if (KeptBytes + bytes <= MaxKeptBytes) {
    KeptBytes += bytes;
    return &Bitmaps.emplace(key, std::move(bitmap)).first->second;
  }
  Scratch = std::move(bitmap);
  return &Scratch;
}

bool CGlyphSet::Render(const Glyph &glyph, FT_Vector phase,
                       GlyphBitmap &bitmap) {
  FT_Glyph copy = nullptr;
  if (FT_Glyph_Copy(glyph.Image.get(), &copy))
    return false;
  GlyphImage image(copy);
  bitmap.FollowsPen = IsOutline(glyph);
  if (bitmap.FollowsPen)
    FT_Glyph_Transform(copy, nullptr, &phase);
  // On success the bitmap glyph replaces the copy; on failure the copy
  // stays. Either way image owns what is left.
  FT_Glyph rendered = image.release();
  const FT_Error error =
      FT_Glyph_To_Bitmap(&rendered, FT_RENDER_MODE_NORMAL, nullptr, 1);
  image.reset(rendered);
  if (error)
    return false;
  const auto *bitmapGlyph = reinterpret_cast<FT_BitmapGlyph>(rendered);
  // Only 8-bit coverage can be blended; other pixel modes come only from
  // bitmap fonts given as a font file.
  if (bitmapGlyph->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY)
    return false;
  bitmap.Left = bitmapGlyph->left;
  bitmap.Top = bitmapGlyph->top;
  CopyCoverage(bitmapGlyph->bitmap, bitmap);
  return true;
}

} // namespace strixel
