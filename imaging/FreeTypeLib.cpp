#include "imaging/ImageWriter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "imaging/IntRange.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#ifdef STRIXEL_TRUETYPE_ONLY
#include FT_MODULE_H
// The module classes of the FreeType archive (declared in its internal
// headers; each begins with its FT_Module_Class).
extern "C" {
extern const FT_Module_Class tt_driver_class;
extern const FT_Module_Class sfnt_module_class;
extern const FT_Module_Class ft_smooth_renderer_class;
}
#endif

namespace strixel {

namespace {

// FreeType positions are 26.6 fixed point, its matrices 16.16.
constexpr long PixelFraction = 64;
constexpr double MatrixOne = 65536.0;

// The letter whose descender sets the depth of the text band.
constexpr FT_ULong DescenderProbe = 'j';

long long TruncToLong(double value) {
  return static_cast<long long>(value);
}

// Nearest integer, a fraction of exactly one half going away from zero.
long long RoundHalfAwayLong(double value) {
  return std::llround(value);
}

int ClampToInt(long long value) {
  return static_cast<int>(
      std::clamp<long long>(value, INT_MIN / 2, INT_MAX / 2));
}

// The 16.16 rotation by angle; each entry truncated toward zero.
FT_Matrix RotationMatrix(double c, double s) {
  FT_Matrix matrix;
  matrix.xx = static_cast<FT_Fixed>(TruncToLong(c * MatrixOne));
  matrix.xy = static_cast<FT_Fixed>(TruncToLong(-s * MatrixOne));
  matrix.yx = static_cast<FT_Fixed>(TruncToLong(s * MatrixOne));
  matrix.yy = matrix.xx;
  return matrix;
}

// The row of a bitmap that is on top on the canvas: FreeType stores
// upward-flowing bitmaps bottom row first.
const std::uint8_t *TopRow(const FT_Bitmap &bitmap) {
  const std::uint8_t *buffer = bitmap.buffer;
  if (bitmap.pitch < 0 && bitmap.rows > 0)
    buffer -= static_cast<long long>(bitmap.pitch) * (bitmap.rows - 1);
  return buffer;
}

// The coverage blend of one channel: the inverted values are mixed and the
// sum truncated, which rounds the mixed value towards the text colour.
std::uint8_t MixChannel(int old, int ink, double a) {
  return static_cast<std::uint8_t>(
      255 - static_cast<int>((255 - old) * (1.0 - a) + ink * a));
}

#ifdef STRIXEL_TRUETYPE_ONLY
// FreeType's memory functions, the same as its default ones: the C heap.
void *AllocateBlock(FT_Memory, long size) {
  return std::malloc(static_cast<std::size_t>(size));
}

void FreeBlock(FT_Memory, void *block) {
  std::free(block);
}

void *ReallocateBlock(FT_Memory, long, long size, void *block) {
  return std::realloc(block, static_cast<std::size_t>(size));
}

// A constant table of the three functions; FreeType only reads it.
constexpr FT_MemoryRec_ CHeap = {nullptr, AllocateBlock, FreeBlock,
                                 ReallocateBlock};
#endif

// Starts a FreeType library. In the statically linked program it holds
// only the modules a hinted TrueType face needs: the TrueType driver, the
// SFNT table loader and the anti-aliasing renderer. FT_Init_FreeType would
// link and start all twenty (Type 1, CFF, bitmap formats, the auto-hinter,
// validators, ...), and starting each brings pages of its code into memory,
// on every request. The embedded font carries its own hinting instructions
// and never reaches any of the others, so its glyphs are the same either
// way. (A font file without instructions would be drawn unhinted here.)
FT_Error StartFontEngine(FT_Library *library) {
#ifdef STRIXEL_TRUETYPE_ONLY
  FT_Error error = FT_New_Library(const_cast<FT_Memory>(&CHeap), library);
  if (error) {
    *library = nullptr;
    return error;
  }
  const FT_Module_Class *const modules[] = {
      &tt_driver_class, &sfnt_module_class, &ft_smooth_renderer_class};
  for (const FT_Module_Class *module : modules) {
    error = FT_Add_Module(*library, module);
    if (error) {
      FT_Done_Library(*library);
      *library = nullptr;
      return error;
    }
  }
  // No FT_Set_Default_Properties: the FREETYPE_PROPERTIES variable of
  // whoever started the web server does not change the hinting, so an image
  // depends on its request alone. (It also lives with FT_Init_FreeType.)
  return 0;
#else
  return FT_Init_FreeType(library);
#endif
}

// The counterpart of StartFontEngine. (FT_Done_FreeType lives with
// FT_Init_FreeType and would link every module again.)
void StopFontEngine(FT_Library library) {
#ifdef STRIXEL_TRUETYPE_ONLY
  FT_Done_Library(library);
#else
  FT_Done_FreeType(library);
#endif
}

// Owns a copy of a glyph image (FT_Get_Glyph) and releases it.
class GlyphImage {
public:
  GlyphImage() = default;
  GlyphImage(const GlyphImage &) = delete;
  GlyphImage &operator=(const GlyphImage &) = delete;
  GlyphImage(GlyphImage &&other) noexcept : Image(other.Image) {
    other.Image = nullptr;
  }
  GlyphImage &operator=(GlyphImage &&other) noexcept {
    std::swap(Image, other.Image);
    return *this;
  }
  ~GlyphImage() {
    if (Image)
      FT_Done_Glyph(Image);
  }
  FT_Glyph Get() const { return Image; }
  // For FreeType calls that replace the image (FT_Glyph_To_Bitmap).
  FT_Glyph *Address() { return &Image; }
  explicit operator bool() const { return Image != nullptr; }

private:
  FT_Glyph Image = nullptr;
};

// A glyph as loaded without a transform: hinted, upright, at the origin.
struct UprightGlyph {
  bool Loaded = false;    // FT_Load_Glyph succeeded
  FT_Vector Advance = {}; // 26.6, not rotated
  GlyphImage Image;       // absent when not kept or when copying failed
};

// At most this many measured glyphs are kept for drawing; a longer aligned
// text loads the rest again rather than hold every outline at once.
constexpr std::size_t MaxKeptGlyphs = 256;

UprightGlyph LoadUpright(FT_Face face, FT_UInt index, bool keepImage) {
  UprightGlyph glyph;
  if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT))
    return glyph;
  glyph.Loaded = true;
  glyph.Advance = face->glyph->advance;
  if (keepImage) {
    FT_Glyph image;
    if (!FT_Get_Glyph(face->glyph, &image))
      *glyph.Image.Address() = image;
  }
  return glyph;
}

} // namespace

CImageWriter::CFreeTypeLib::CFreeTypeLib(CImageWriter *owner,
                                         const char *fontPath, int dpiX,
                                         int dpiY)
    : Owner(owner), FontPath(fontPath ? fontPath : ""),
      HasFontPath(fontPath != nullptr && *fontPath != '\0'), DpiX(dpiX),
      DpiY(dpiY) {}

CImageWriter::CFreeTypeLib::~CFreeTypeLib() {
  if (Face)
    FT_Done_Face(Face);
  if (Library)
    StopFontEngine(Library);
}

int CImageWriter::CFreeTypeLib::Init() {
  if (!Owner)
    return 1;
  // A second Init starts over rather than leaking the first engine.
  if (Face) {
    FT_Done_Face(Face);
    Face = nullptr;
  }
  if (Library) {
    StopFontEngine(Library);
    Library = nullptr;
  }
  FT_Error error = StartFontEngine(&Library);
  if (error) {
    Library = nullptr;
    return error;
  }
  if (HasFontPath)
    error = FT_New_Face(Library, FontPath.c_str(), 0, &Face);
  else
    error =
        FT_New_Memory_Face(Library, EmbeddedFontData,
                           static_cast<FT_Long>(EmbeddedFontSize), 0, &Face);
  if (error) {
    Face = nullptr;
    return error;
  }
  SizeIsSet = false;
  return 0;
}

int CImageWriter::CFreeTypeLib::GetTextHeight(int fontHeight) {
  const long long h = fontHeight;
  // Setting a character size makes the TrueType driver run the font's
  // control value program again before the next glyph, the dearest step of
  // drawing a short text; a barcode measures its band and draws one to
  // three strings of one size. So a size already set is not set again and
  // its band height is reused.
  if (Face && SizeIsSet && SizedFontHeight == fontHeight)
    return SizedBandHeight;
  SizeIsSet = false;
  if (Face && !FT_Set_Char_Size(
                  Face, 0, static_cast<FT_F26Dot6>(h * PixelFraction),
                  static_cast<FT_UInt>(DpiX), static_cast<FT_UInt>(DpiY))) {
    const FT_UInt glyph = FT_Get_Char_Index(Face, DescenderProbe);
    if (!FT_Load_Glyph(Face, glyph, FT_LOAD_DEFAULT)) {
      const FT_Glyph_Metrics &metrics = Face->glyph->metrics;
      const long long depth =
          (static_cast<long long>(metrics.height) - metrics.horiBearingY) /
          PixelFraction;
      const int band = SaturateToInt(h + 2 * depth);
      SizeIsSet = true;
      SizedFontHeight = fontHeight;
      SizedBandHeight = band;
      return band;
    }
  }
  return SaturateToInt(TruncToLong(static_cast<double>(h) * 1.5));
}

bool CImageWriter::CFreeTypeLib::DrawString(const char *text, int fontHeight,
                                            int align, int x, int y, int width,
                                            double angle,
                                            std::uint32_t colour) {
  if (!text || !Face)
    return true;
  const int bandHeight = GetTextHeight(fontHeight);
  // The baseline lies this far above the bottom line of the text band.
  const long long descent =
      (static_cast<long long>(bandHeight) - fontHeight) / 2;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  FT_Matrix matrix = RotationMatrix(c, s);

  // Bytes are taken as signed codes, so 0x80 and above map to glyph 0, the
  // font's missing-glyph shape.
  const std::size_t byteCount = std::strlen(text);
  std::vector<FT_UInt> glyphs;
  glyphs.reserve(byteCount);
  for (std::size_t i = 0; i < byteCount; ++i) {
    const long code = static_cast<signed char>(text[i]);
    glyphs.push_back(FT_Get_Char_Index(Face, static_cast<FT_ULong>(code)));
  }

  // The transform the face had from the last string: FreeType rotates the
  // advances measured under it. Glyphs are loaded upright at the origin and
  // turned and moved here, with the functions FreeType applies to a glyph
  // loaded under a transform, so that a glyph measured for the alignment
  // need not be loaded and hinted a second time to be drawn.
  FT_Matrix measureMatrix;
  FT_Vector measureDelta;
  FT_Get_Transform(Face, &measureMatrix, &measureDelta);
  FT_Set_Transform(Face, nullptr, nullptr);

  // The text length in 26.6 units, measured under that transform; the
  // larger advance component is the length along a quarter-turn baseline
  // too. The glyphs measured are kept for drawing, up to a bound on memory.
  long long total = 0;
  std::vector<UprightGlyph> measured;
  if (align != 0) {
    measured.reserve(std::min(glyphs.size(), MaxKeptGlyphs));
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
      UprightGlyph glyph = LoadUpright(Face, glyphs[i], i < MaxKeptGlyphs);
      if (glyph.Loaded) {
        FT_Vector advance = glyph.Advance;
        FT_Vector_Transform(&advance, &measureMatrix);
        total += std::max(std::llabs(advance.x), std::llabs(advance.y));
      }
      if (i < MaxKeptGlyphs)
        measured.push_back(std::move(glyph));
    }
  }

  long long startX = x;
  long long startY = y;
  double spread = 0.0;
  if (width != 0) {
    const long long length = total / PixelFraction;
    long long shift = 0;
    bool shifts = false;
    if (align == 1) {
      shift = width - length;
      shifts = true;
    } else if (align == 2) {
      shift = (width - length) / 2;
      shifts = true;
    } else if (align == 3 && byteCount > 1) {
      spread = static_cast<double>(
                   static_cast<long long>(width) * PixelFraction - total) /
               static_cast<double>(byteCount - 1);
    }
    if (shifts) {
      startX += TruncToLong(static_cast<double>(shift) * c);
      startY -= TruncToLong(static_cast<double>(shift) * s);
    }
  }

  // The pen carries only a sub-pixel vertical offset; the canvas row comes
  // from oy, because FreeType's y axis points up and the canvas's down.
  FT_Vector pen;
  pen.x = static_cast<FT_Pos>(startX * PixelFraction);
  pen.y = static_cast<FT_Pos>(startY / PixelFraction);
  const long long ox = -RoundHalfAwayLong(static_cast<double>(descent) * s);
  const long long oy =
      startY - RoundHalfAwayLong(static_cast<double>(descent) * c);

  const bool kerns = FT_HAS_KERNING(Face);
  const bool spreads = align == 3 && width != 0;
  FT_UInt previous = 0;
  FT_Vector lastPen = pen;
  for (std::size_t i = 0; i < glyphs.size(); ++i) {
    const FT_UInt index = glyphs[i];
    if (kerns && previous != 0 && index != 0) {
      FT_Vector kerning;
      if (!FT_Get_Kerning(Face, previous, index, FT_KERNING_DEFAULT,
                          &kerning)) {
        pen.x += static_cast<FT_Pos>(
            TruncToLong(static_cast<double>(kerning.x) * c));
        pen.y += static_cast<FT_Pos>(
            TruncToLong(static_cast<double>(kerning.x) * s));
      }
    }
    lastPen = pen;
    UprightGlyph glyph = i < measured.size() ? std::move(measured[i])
                                             : LoadUpright(Face, index, true);
    if (!glyph.Loaded || !glyph.Image)
      continue;
    // As FreeType does with the transform of a face: turn the outline,
    // then move it to the pen; the advance turns with it. (A bitmap glyph
    // of a bitmap font cannot be turned and stays where it is.)
    FT_Glyph_Transform(glyph.Image.Get(), &matrix, &pen);
    FT_Vector advance = glyph.Advance;
    FT_Vector_Transform(&advance, &matrix);
    pen.x += advance.x;
    pen.y += advance.y;
    if (spreads) {
      pen.x += static_cast<FT_Pos>(TruncToLong(spread * c));
      pen.y += static_cast<FT_Pos>(TruncToLong(spread * s));
    }
    previous = index;
    if (!FT_Glyph_To_Bitmap(glyph.Image.Address(), FT_RENDER_MODE_NORMAL,
                            nullptr, 1)) {
      const auto *bitmapGlyph =
          reinterpret_cast<FT_BitmapGlyph>(glyph.Image.Get());
      const FT_Bitmap &bitmap = bitmapGlyph->bitmap;
      // Only 8-bit coverage can be blended; other pixel modes come only
      // from bitmap fonts given as a font file.
      if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY)
        BlendGlyph(TopRow(bitmap), static_cast<int>(bitmap.rows),
                   static_cast<int>(bitmap.width), bitmap.pitch,
                   ClampToInt(bitmapGlyph->left + ox),
                   ClampToInt(oy - bitmapGlyph->top), colour);
    }
  }
  // The face keeps the transform of the last glyph, for the next string's
  // measuring.
  if (glyphs.empty())
    FT_Set_Transform(Face, &measureMatrix, &measureDelta);
  else
    FT_Set_Transform(Face, &matrix, &lastPen);
  return true;
}

bool CImageWriter::CFreeTypeLib::DrawStringN(const char *text,
                                             std::size_t count, int fontHeight,
                                             int align, int x, int y, int width,
                                             double angle,
                                             std::uint32_t colour) {
  if (!text)
    return true;
  // Never read past the end of a shorter text.
  const std::string part(text, strnlen(text, count));
  return DrawString(part.c_str(), fontHeight, align, x, y, width, angle,
                    colour);
}

void CImageWriter::CFreeTypeLib::BlendGlyph(const std::uint8_t *coverage,
                                            int rows, int width, int pitch,
                                            int x, int y,
                                            std::uint32_t colour) {
  if (!coverage || !Owner)
    return;
  // The blend works on inverted channels (ink amounts), so that the mixed
  // value is rounded towards the text colour.
  const int inkRed = 255 - static_cast<int>(colour & 0xFF);
  const int inkGreen = 255 - static_cast<int>((colour >> 8) & 0xFF);
  const int inkBlue = 255 - static_cast<int>((colour >> 16) & 0xFF);
  const long long canvasWidth = Owner->Width;
  const long long canvasHeight =
      std::min<long long>(Owner->Height, Owner->Rows.size());
  // The columns of the bitmap that fall on the canvas, the same for every
  // row.
  const long long firstColumn =
      std::max<long long>(0, -static_cast<long long>(x));
  const long long endColumn =
      std::min<long long>(width, canvasWidth - static_cast<long long>(x));
  for (int i = 0; i < rows; ++i) {
    const long long canvasY = static_cast<long long>(y) + i;
    if (canvasY < 0 || canvasY >= canvasHeight)
      continue;
    const std::uint8_t *line = coverage + static_cast<long long>(pitch) * i;
    std::uint8_t *row = Owner->Rows[static_cast<std::size_t>(canvasY)];
    for (long long j = firstColumn; j < endColumn; ++j) {
      const std::uint8_t ink = line[j];
      if (ink == 0)
        continue;
      std::uint8_t *pixel = row + 3 * (x + j);
      if (ink == 255) {
        // Full coverage mixes nothing of the old colour in.
        pixel[0] = static_cast<std::uint8_t>(255 - inkRed);
        pixel[1] = static_cast<std::uint8_t>(255 - inkGreen);
        pixel[2] = static_cast<std::uint8_t>(255 - inkBlue);
        continue;
      }
      const double a = ink / 255.0;
      pixel[0] = MixChannel(pixel[0], inkRed, a);
      pixel[1] = MixChannel(pixel[1], inkGreen, a);
      pixel[2] = MixChannel(pixel[2], inkBlue, a);
    }
  }
}

} // namespace strixel
