#include "imaging/GlyphSet.h"

#include <cstring>
#include <new>

#include FT_OUTLINE_H

namespace strixel {

void ThrowIfOutOfMemory(FT_Error error) {
  if (error == FT_Err_Out_Of_Memory)
    throw std::bad_alloc();
}

std::int64_t FloorPixels(std::int64_t value) {
  return value >= 0 ? value / PixelFraction
                    : -((-value + PixelFraction - 1) / PixelFraction);
}

namespace {

std::int64_t CeilPixels(std::int64_t value) {
  return -FloorPixels(-value);
}

FT_Pos Phase(FT_Pos value) {
  return static_cast<FT_Pos>(value - FloorPixels(value) * PixelFraction);
}

// The renderer refuses a bitmap with an edge beyond 16 bits.
constexpr std::int64_t LowestPixel = -0x8000;
constexpr std::int64_t HighestPixel = 0x7FFF;

// The row of a bitmap that is on top on the canvas: FreeType stores
// upward-flowing bitmaps bottom row first.
const std::uint8_t *TopRow(const FT_Bitmap &bitmap) {
  const std::uint8_t *buffer = bitmap.buffer;
  if (bitmap.pitch < 0 && bitmap.rows > 0)
    buffer -= static_cast<std::int64_t>(bitmap.pitch) * (bitmap.rows - 1);
  return buffer;
}

bool IsOutline(const CGlyphSet::Glyph &glyph) {
  return glyph.Image && glyph.Image->format == FT_GLYPH_FORMAT_OUTLINE;
}

const FT_Outline &OutlineOf(const CGlyphSet::Glyph &glyph) {
  return reinterpret_cast<FT_OutlineGlyph>(glyph.Image.get())->outline;
}

// Eight coverage bytes at once: long blank margins and fully inked
// interiors are the bulk of a large glyph.
std::uint64_t EightBytes(const std::uint8_t *bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

constexpr std::uint64_t LowBits = 0x0101010101010101ULL;
constexpr std::uint64_t HighBits = 0x8080808080808080ULL;

bool HasZeroByte(std::uint64_t word) {
  return ((word - LowBits) & ~word & HighBits) != 0;
}

// The first column from column on whose coverage is (ink) or is not 0.
int SkipWhile(const std::uint8_t *line, int column, int width, bool ink) {
  if (ink)
    while (column + 8 <= width && !HasZeroByte(EightBytes(line + column)))
      column += 8;
  else
    while (column + 8 <= width && EightBytes(line + column) == 0)
      column += 8;
  while (column < width && (line[column] != 0) == ink)
    ++column;
  return column;
}

std::size_t CountPartial(const std::uint8_t *run, std::size_t length) {
  std::size_t count = 0;
  std::size_t k = 0;
  for (; k + 8 <= length; k += 8)
    if (EightBytes(run + k) != ~std::uint64_t{0})
      for (std::size_t j = k; j < k + 8; ++j)
        count += run[j] != FullCoverage;
  for (; k < length; ++k)
    count += run[k] != FullCoverage;
  return count;
}

constexpr std::size_t BlankToGiveBack = 4096;

// Copies the runs of ink out of FreeType's bitmap, top row first.
void CopyCoverage(const FT_Bitmap &source, CGlyphBitmap &bitmap) {
  bitmap.Width = static_cast<int>(source.width);
  bitmap.Rows = static_cast<int>(source.rows);
  const std::size_t width = source.width;
  bitmap.RowRuns.assign(1, 0);
  bitmap.RowRuns.reserve(source.rows + 1);
  // Room for the whole bitmap at once; what a large glyph leaves blank is
  // given back below.
  bitmap.Coverage.reserve(width * source.rows);
  bitmap.Runs.reserve(2 * source.rows);
  const std::uint8_t *top = TopRow(source);
  for (unsigned row = 0; row < source.rows; ++row) {
    const std::uint8_t *line =
        top + static_cast<std::int64_t>(source.pitch) * row;
    int column = SkipWhile(line, 0, bitmap.Width, false);
    while (column < bitmap.Width) {
      const int end = SkipWhile(line, column, bitmap.Width, true);
      const std::size_t offset = bitmap.Coverage.size();
      bitmap.Runs.push_back({column, end, offset});
      bitmap.Coverage.insert(bitmap.Coverage.end(), line + column, line + end);
      column = SkipWhile(line, end, bitmap.Width, false);
    }
    bitmap.RowRuns.push_back(bitmap.Runs.size());
  }
  if (bitmap.Coverage.capacity() - bitmap.Coverage.size() > BlankToGiveBack)
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
  GlyphBytes += sizeof(Glyph) + sizeof(FT_UInt);
  const FT_Error loadError = FT_Load_Glyph(Face, index, FT_LOAD_DEFAULT);
  ThrowIfOutOfMemory(loadError);
  if (loadError)
    return glyph;
  glyph.Loaded = true;
  glyph.Advance = Face->glyph->advance;
  glyph.Turned = glyph.Advance;
  FT_Vector_Transform(&glyph.Turned, &Matrix);
  FT_Glyph image = nullptr;
  const FT_Error copyError = FT_Get_Glyph(Face->glyph, &image);
  ThrowIfOutOfMemory(copyError);
  if (copyError)
    return glyph;
  glyph.Image.reset(image);
  // As FreeType does with the transform of a face: turn the outline; the
  // pen moves it later. (A bitmap glyph of a bitmap font cannot be turned
  // and stays where it is.)
  FT_Glyph_Transform(image, &Matrix, nullptr);
  if (IsOutline(glyph)) {
    const FT_Outline &outline = OutlineOf(glyph);
    FT_Outline_Get_CBox(&outline, &glyph.Box);
    GlyphBytes += sizeof(FT_OutlineGlyphRec) +
                  static_cast<std::size_t>(outline.n_points) *
                      (sizeof(FT_Vector) + sizeof(char)) +
                  static_cast<std::size_t>(outline.n_contours) * sizeof(short);
  }
  return glyph;
}

bool CGlyphSet::BoxAt(FT_UInt index, FT_Vector pen, Box &box) {
  const Glyph &glyph = Get(index);
  if (!glyph.Image)
    return false;
  if (!IsOutline(glyph)) {
    CGlyphBitmap spare;
    const CGlyphBitmap *bitmap = BitmapAt(index, pen, spare);
    if (!bitmap)
      return false;
    box = {bitmap->Left, bitmap->Top, bitmap->Width, bitmap->Rows};
    return box.Width > 0 && box.Rows > 0;
  }
  if (OutlineOf(glyph).n_points == 0)
    return false;
  // The renderer's own pixel box: the control box moved to the pen and
  // widened to whole pixels.
  const std::int64_t left = FloorPixels(glyph.Box.xMin + pen.x);
  const std::int64_t right = CeilPixels(glyph.Box.xMax + pen.x);
  const std::int64_t bottom = FloorPixels(glyph.Box.yMin + pen.y);
  const std::int64_t top = CeilPixels(glyph.Box.yMax + pen.y);
  if (left < LowestPixel || right > HighestPixel || bottom < LowestPixel ||
      top > HighestPixel)
    return false;
  box = {left, top, right - left, top - bottom};
  return box.Width > 0 && box.Rows > 0;
}

const CGlyphBitmap *CGlyphSet::BitmapAt(FT_UInt index, FT_Vector pen,
                                        CGlyphBitmap &spare) {
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
  CGlyphBitmap bitmap;
  if (!Render(glyph, phase, bitmap))
    return nullptr;
  const std::size_t bytes = bitmap.Bytes();
  if (KeptBytes + bytes <= MaxKeptBytes) {
    KeptBytes += bytes;
    return &Bitmaps.emplace(key, std::move(bitmap)).first->second;
  }
  spare = std::move(bitmap);
  return &spare;
}

std::size_t CGlyphSet::Bytes() const {
  return sizeof(CGlyphSet) + GlyphBytes + KeptBytes;
}

std::size_t CGlyphBitmap::PartialPixels() const {
  if (!PartialCounted) {
    PartialCount = CountPartial(Coverage.data(), Coverage.size());
    PartialCounted = true;
  }
  return PartialCount;
}

std::size_t CGlyphBitmap::Bytes() const {
  return Coverage.capacity() + Runs.capacity() * sizeof(Runs[0]) +
         RowRuns.capacity() * sizeof(RowRuns[0]);
}

bool CGlyphSet::Render(const Glyph &glyph, FT_Vector phase,
                       CGlyphBitmap &bitmap) {
  bitmap.FollowsPen = IsOutline(glyph);
  // FreeType moves the outline by the origin, renders it and moves it back
  // (whole 26.6 units, so exactly back); the kept glyph is not destroyed
  // and a new bitmap glyph comes back, or the glyph itself when it is a
  // bitmap already.
  FT_Glyph rendered = glyph.Image.get();
  const FT_Error error =
      FT_Glyph_To_Bitmap(&rendered, FT_RENDER_MODE_NORMAL,
                         bitmap.FollowsPen ? &phase : nullptr, 0);
  ThrowIfOutOfMemory(error);
  if (error)
    return false;
  GlyphImage image(rendered != glyph.Image.get() ? rendered : nullptr);
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
