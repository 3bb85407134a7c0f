// The text engine: CImageWriter::CFreeTypeLib, the class nested in the
// canvas and declared with it in ImageWriter.h. A string is drawn in three
// steps: measuring (the length that alignment needs), placing (the pen of
// every glyph, with kerning and spreading) and blending (TextCompositor).

#include "imaging/ImageWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/ErrorCodes.h"
#include "engine/Rounding.h"
#include "imaging/GlyphSet.h"
#include "imaging/KeptFontFace.h"
#include "imaging/PlacedText.h"
#include "imaging/TextCompositor.h"

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

// The WOFF2 decompressor FreeType's archive asks for. Debian builds the
// SFNT loader as one object, sfnt.o, and the WOFF2 reader inside it calls
// brotli; linking the TrueType support therefore links that call, and with
// it all of brotli (its decoder and its 120 KiB dictionary). The program
// opens one face, the embedded TrueType font, whose tag is never "wOF2", so
// the reader is never entered. Answering the call here with brotli's own
// failure code keeps brotli out of the program; were WOFF2 data ever
// opened, FreeType would refuse it as an invalid table instead of drawing.
#include <brotli/decode.h>
extern "C" BrotliDecoderResult BrotliDecoderDecompress(size_t, const uint8_t *,
                                                       size_t *, uint8_t *) {
  return BROTLI_DECODER_RESULT_ERROR;
}
#endif

namespace strixel {

namespace {

// FreeType's matrices are 16.16 fixed point.
constexpr double MatrixOne = 65536.0;

// The letter whose descender sets the depth of the text band.
constexpr FT_ULong DescenderProbe = 'j';

// The text band of a face that cannot take the size, per unit of font
// height.
constexpr double FallbackBandFactor = 1.5;

// The 16.16 rotation by angle; each entry truncated toward zero.
FT_Matrix RotationMatrix(double c, double s) {
  FT_Matrix matrix;
  matrix.xx = static_cast<FT_Fixed>(TruncToInt64(c * MatrixOne));
  matrix.xy = static_cast<FT_Fixed>(TruncToInt64(-s * MatrixOne));
  matrix.yx = static_cast<FT_Fixed>(TruncToInt64(s * MatrixOne));
  matrix.yy = matrix.xx;
  return matrix;
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

FT_Error OpenEmbeddedFace(FT_Library library, FT_Face *face) {
  return FT_New_Memory_Face(library, EmbeddedFontData,
                            static_cast<FT_Long>(EmbeddedFontSize), 0, face);
}

// The face lent to the text engines of the current request, if any.
CKeptFontFace *LentFace = nullptr;

// Bytes are taken as signed codes, so 0x80 and above map to glyph 0, the
// font's missing-glyph shape.
std::vector<FT_UInt> GlyphIndices(FT_Face face, const char *text) {
  const std::size_t byteCount = std::strlen(text);
  std::vector<FT_UInt> indices;
  indices.reserve(byteCount);
  for (std::size_t i = 0; i < byteCount; ++i) {
    const long code = static_cast<signed char>(text[i]);
    indices.push_back(FT_Get_Char_Index(face, static_cast<FT_ULong>(code)));
  }
  return indices;
}

// The text length in 26.6 units. FreeType rotates an advance by the
// transform last set on the face, which is the one the previous string
// left, so the advances are measured under it; the larger component is the
// length along a quarter-turn baseline too.
std::int64_t MeasureText(CGlyphSet &glyphs, const std::vector<FT_UInt> &indices,
                         const FT_Matrix &lastMatrix) {
  std::int64_t total = 0;
  for (const FT_UInt index : indices) {
    const CGlyphSet::Glyph &glyph = glyphs.Get(index);
    if (!glyph.Loaded)
      continue;
    FT_Vector advance = glyph.Advance;
    FT_Vector_Transform(&advance, &lastMatrix);
    total += std::max<std::int64_t>(std::abs(advance.x), std::abs(advance.y));
  }
  return total;
}

// Where the pen starts, and what is added to it after every glyph.
struct TextStart {
  std::int64_t X = 0;
  std::int64_t Y = 0;
  bool Spreads = false;
  double Spread = 0.0; // 1/64 pixel
};

// The start moves along the rotated baseline for an end or centre
// alignment; spreading shares out the difference between the width and the
// text length, which pulls the glyphs together when it is negative.
TextStart AlignText(int align, int width, std::int64_t total,
                    std::size_t byteCount, int x, int y, double c, double s) {
  TextStart start;
  start.X = x;
  start.Y = y;
  if (width == 0)
    return start;
  const std::int64_t length = total / PixelFraction;
  std::int64_t shift = 0;
  switch (align) {
  case AlignEnd:
    shift = width - length;
    break;
  case AlignCentre:
    shift = (width - length) / 2;
    break;
  case AlignSpread:
    start.Spreads = true;
    if (byteCount > 1)
      start.Spread =
          static_cast<double>(static_cast<std::int64_t>(width) * PixelFraction -
                              total) /
          static_cast<double>(byteCount - 1);
    return start;
  default:
    return start;
  }
  start.X += TruncToInt64(static_cast<double>(shift) * c);
  start.Y -= TruncToInt64(static_cast<double>(shift) * s);
  return start;
}

// The pen moved along the rotated baseline by d (26.6), each component
// truncated toward zero.
void MovePen(FT_Vector &pen, double d, double c, double s) {
  pen.x += static_cast<FT_Pos>(TruncToInt64(d * c));
  pen.y += static_cast<FT_Pos>(TruncToInt64(d * s));
}

// The pen of every glyph that is drawn, in order: kerning pulls a pair
// together, the turned advance and the spread move on. A glyph that cannot
// be loaded or copied is skipped with no advance (one lost for want of
// memory has ended the request already: the glyph set throws). Returns the pen
// of the last glyph, where the face's transform is left for the next string.
FT_Vector PlaceGlyphs(FT_Face face, CGlyphSet &glyphs,
                      const std::vector<FT_UInt> &indices,
                      const TextStart &start, double c, double s,
                      std::vector<PenPosition> &pens) {
  // The pen carries only a sub-pixel vertical offset; the canvas row comes
  // from the start itself, because FreeType's y axis points up and the
  // canvas's down.
  FT_Vector pen;
  pen.x = static_cast<FT_Pos>(start.X * PixelFraction);
  pen.y = static_cast<FT_Pos>(start.Y / PixelFraction);
  const bool kerns = FT_HAS_KERNING(face);
  FT_UInt previous = 0;
  FT_Vector lastPen = pen;
  pens.reserve(indices.size());
  for (const FT_UInt index : indices) {
    FT_Vector kerning;
    if (kerns && previous != 0 && index != 0 &&
        !FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kerning))
      MovePen(pen, static_cast<double>(kerning.x), c, s);
    lastPen = pen;
    const CGlyphSet::Glyph &glyph = glyphs.Get(index);
    if (!glyph.Loaded || !glyph.Image)
      continue;
    pens.push_back({index, pen});
    pen.x += glyph.Turned.x;
    pen.y += glyph.Turned.y;
    if (start.Spreads)
      MovePen(pen, start.Spread, c, s);
    previous = index;
  }
  return lastPen;
}

} // namespace

CImageWriter::CFreeTypeLib::CFreeTypeLib(CImageWriter *owner,
                                         const char *fontPath, int dpiX,
                                         int dpiY)
    : Owner(owner), FontPath(fontPath ? fontPath : ""),
      HasFontPath(fontPath != nullptr && *fontPath != '\0'), DpiX(dpiX),
      DpiY(dpiY) {}

CImageWriter::CFreeTypeLib::~CFreeTypeLib() {
  Release();
}

void CImageWriter::CFreeTypeLib::Release() {
  // Stopping the engine closes the faces it opened.
  if (!Kept && Library)
    StopFontEngine(Library);
  Face = nullptr;
  Library = nullptr;
  Kept = nullptr;
  Size = &OwnSize;
}

int CImageWriter::CFreeTypeLib::Init() {
  if (!Owner)
    return InvalidArgument;
  // A second Init starts over rather than leaking the first engine.
  Release();
  CKeptFontFace *kept = HasFontPath ? nullptr : LentFontFace();
  if (kept && kept->Open() == Success) {
    Library = kept->Library;
    Face = kept->Face;
    Kept = kept;
    Size = &kept->Size;
    // A fresh face measures its first string without a transform.
    FT_Set_Transform(Face, nullptr, nullptr);
    return Success;
  }
  // FreeType's own error codes stop here: the canvas and the request know
  // only whether the text engine started.
  FT_Error error = StartFontEngine(&Library);
  if (error) {
    Library = nullptr;
    return CannotCreateCanvas;
  }
  if (HasFontPath)
    error = FT_New_Face(Library, FontPath.c_str(), 0, &Face);
  else
    error = OpenEmbeddedFace(Library, &Face);
  if (error) {
    Face = nullptr;
    return CannotCreateCanvas;
  }
  OwnSize = FaceSize();
  return Success;
}

bool CImageWriter::CFreeTypeLib::HasSize(int fontHeight) const {
  return Size->IsSet && Size->FontHeight == fontHeight && Size->DpiX == DpiX &&
         Size->DpiY == DpiY;
}

int CImageWriter::CFreeTypeLib::GetTextHeight(int fontHeight) {
  const std::int64_t h = fontHeight;
  // Setting a character size makes the TrueType driver run the font's
  // control value program again before the next glyph, the dearest step of
  // drawing a short text; a barcode measures its band and draws one to
  // three strings of one size. So a size already set is not set again and
  // its band height is reused.
  if (Face && HasSize(fontHeight))
    return Size->BandHeight;
  Size->IsSet = false;
  // The fallback height is for a face that cannot take the size; one that
  // ran out of memory would give another band height, and another image.
  FT_Error error = 0;
  if (Face) {
    error = FT_Set_Char_Size(
        Face, 0, static_cast<FT_F26Dot6>(h * PixelFraction),
        static_cast<FT_UInt>(DpiX), static_cast<FT_UInt>(DpiY));
    ThrowIfOutOfMemory(error);
  }
  if (Face && !error) {
    const FT_UInt glyph = FT_Get_Char_Index(Face, DescenderProbe);
    error = FT_Load_Glyph(Face, glyph, FT_LOAD_DEFAULT);
    ThrowIfOutOfMemory(error);
    if (!error) {
      const FT_Glyph_Metrics &metrics = Face->glyph->metrics;
      const std::int64_t depth =
          (static_cast<std::int64_t>(metrics.height) - metrics.horiBearingY) /
          PixelFraction;
      const int band = SaturateToInt(h + 2 * depth);
      *Size = {true, fontHeight, DpiX, DpiY, band};
      return band;
    }
  }
  return SaturateToInt(
      TruncToInt64(static_cast<double>(h) * FallbackBandFactor));
}

void CImageWriter::CFreeTypeLib::DrawString(const char *text, int fontHeight,
                                            int align, int x, int y, int width,
                                            double angle,
                                            std::uint32_t colour) {
  if (!text || !Face || !Owner)
    return;
  const int bandHeight = GetTextHeight(fontHeight);
  // The baseline lies this far above the bottom line of the text band.
  const std::int64_t descent =
      (static_cast<std::int64_t>(bandHeight) - fontHeight) / 2;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  FT_Matrix matrix = RotationMatrix(c, s);
  const std::vector<FT_UInt> indices = GlyphIndices(Face, text);

  // Glyphs are loaded upright at the origin and turned and moved by the
  // glyph set with the functions FreeType applies to a glyph loaded under a
  // transform, so that each is loaded once; the transform the last string
  // left is kept for measuring.
  FT_Matrix lastMatrix;
  FT_Vector lastDelta;
  FT_Get_Transform(Face, &lastMatrix, &lastDelta);
  FT_Set_Transform(Face, nullptr, nullptr);
  // A kept face keeps its glyphs for the next request, provided they are
  // those of the size asked for (a face that refused the size has another).
  const bool keepsGlyphs = Kept && HasSize(fontHeight);
  std::optional<CGlyphSet> ownGlyphs;
  if (!keepsGlyphs)
    ownGlyphs.emplace(Face, matrix);
  CGlyphSet &glyphs = keepsGlyphs ? Kept->GlyphsFor(matrix) : *ownGlyphs;
  const std::int64_t total =
      align != AlignStart ? MeasureText(glyphs, indices, lastMatrix) : 0;
  const TextStart start =
      AlignText(align, width, total, indices.size(), x, y, c, s);
  std::vector<PenPosition> pens;
  FT_Vector lastPen = PlaceGlyphs(Face, glyphs, indices, start, c, s, pens);
  const std::int64_t ox = -RoundHalfAwayInt64(static_cast<double>(descent) * s);
  const std::int64_t oy =
      start.Y - RoundHalfAwayInt64(static_cast<double>(descent) * c);
  if (!Owner->DrawOutlines({Face, matrix, pens, ox, oy, colour}))
    CTextCompositor(*Owner, colour, ox, oy).Draw(glyphs, pens);

  // The face keeps the transform of the last glyph, for the next string's
  // measuring.
  if (indices.empty())
    FT_Set_Transform(Face, &lastMatrix, &lastDelta);
  else
    FT_Set_Transform(Face, &matrix, &lastPen);
}

void CImageWriter::CFreeTypeLib::DrawStringN(const char *text,
                                             std::size_t count, int fontHeight,
                                             int align, int x, int y, int width,
                                             double angle,
                                             std::uint32_t colour) {
  if (!text)
    return;
  // Never read past the end of a shorter text.
  const std::string part(text, strnlen(text, count));
  DrawString(part.c_str(), fontHeight, align, x, y, width, angle, colour);
}

CKeptFontFace::CKeptFontFace() = default;

CKeptFontFace::~CKeptFontFace() {
  Close();
}

int CKeptFontFace::Open() {
  if (Face)
    return Success;
  Close();
  if (StartFontEngine(&Library)) {
    Library = nullptr;
    return CannotCreateCanvas;
  }
  if (OpenEmbeddedFace(Library, &Face)) {
    Face = nullptr;
    Close();
    return CannotCreateCanvas;
  }
  return Success;
}

CGlyphSet &CKeptFontFace::GlyphsFor(const FT_Matrix &matrix) {
  const GlyphSetKey key{Size.FontHeight, Size.DpiX, Size.DpiY, matrix.xx,
                        matrix.xy,       matrix.yx, matrix.yy};
  const auto found = GlyphSets.find(key);
  if (found != GlyphSets.end())
    return *found->second;
  auto glyphs = std::make_unique<CGlyphSet>(Face, matrix);
  return *GlyphSets.emplace(key, std::move(glyphs)).first->second;
}

std::size_t CKeptFontFace::GlyphBytes() const {
  std::size_t bytes = 0;
  for (const auto &entry : GlyphSets)
    bytes += entry.second->Bytes();
  return bytes;
}

void CKeptFontFace::KeepGlyphsWithin(std::size_t bytes) {
  if (GlyphBytes() > bytes)
    GlyphSets.clear();
}

void CKeptFontFace::Close() {
  // The glyphs are FreeType's and go before it.
  GlyphSets.clear();
  // Stopping the engine closes the face too.
  if (Library)
    StopFontEngine(Library);
  Face = nullptr;
  Library = nullptr;
  Size = FaceSize();
}

CKeptFaceScope::CKeptFaceScope(CKeptFontFace &face) : Previous(LentFace) {
  LentFace = &face;
}

CKeptFaceScope::~CKeptFaceScope() {
  LentFace = Previous;
}

CKeptFontFace *LentFontFace() {
  return LentFace;
}

} // namespace strixel
