#include "imaging/ImageWriter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

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

int SaturateToInt(long long value) {
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
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
    FT_Done_FreeType(Library);
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
    FT_Done_FreeType(Library);
    Library = nullptr;
  }
  FT_Error error = FT_Init_FreeType(&Library);
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
  if (error)
    Face = nullptr;
  return error;
}

int CImageWriter::CFreeTypeLib::GetTextHeight(int fontHeight) {
  const long long h = fontHeight;
  if (Face && !FT_Set_Char_Size(
                  Face, 0, static_cast<FT_F26Dot6>(h * PixelFraction),
                  static_cast<FT_UInt>(DpiX), static_cast<FT_UInt>(DpiY))) {
    const FT_UInt glyph = FT_Get_Char_Index(Face, DescenderProbe);
    if (!FT_Load_Glyph(Face, glyph, FT_LOAD_DEFAULT)) {
      const FT_Glyph_Metrics &metrics = Face->glyph->metrics;
      const long long depth =
          (static_cast<long long>(metrics.height) - metrics.horiBearingY) /
          PixelFraction;
      return SaturateToInt(h + 2 * depth);
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

  // The text length in 26.6 units, measured under whatever transform the
  // face last had; the larger advance component is the length along a
  // quarter-turn baseline too.
  long long total = 0;
  if (align != 0) {
    for (FT_UInt glyph : glyphs) {
      if (FT_Load_Glyph(Face, glyph, FT_LOAD_DEFAULT))
        continue;
      const FT_Vector &advance = Face->glyph->advance;
      total += std::max(std::llabs(advance.x), std::llabs(advance.y));
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
  for (FT_UInt glyph : glyphs) {
    if (kerns && previous != 0 && glyph != 0) {
      FT_Vector kerning;
      if (!FT_Get_Kerning(Face, previous, glyph, FT_KERNING_DEFAULT,
                          &kerning)) {
        pen.x += static_cast<FT_Pos>(
            TruncToLong(static_cast<double>(kerning.x) * c));
        pen.y += static_cast<FT_Pos>(
            TruncToLong(static_cast<double>(kerning.x) * s));
      }
    }
    FT_Set_Transform(Face, &matrix, &pen);
    if (FT_Load_Glyph(Face, glyph, FT_LOAD_DEFAULT))
      continue;
    FT_Glyph image;
    if (FT_Get_Glyph(Face->glyph, &image))
      continue;
    pen.x += Face->glyph->advance.x;
    pen.y += Face->glyph->advance.y;
    if (spreads) {
      pen.x += static_cast<FT_Pos>(TruncToLong(spread * c));
      pen.y += static_cast<FT_Pos>(TruncToLong(spread * s));
    }
    previous = glyph;
    if (!FT_Glyph_To_Bitmap(&image, FT_RENDER_MODE_NORMAL, nullptr, 1)) {
      const auto *bitmapGlyph = reinterpret_cast<FT_BitmapGlyph>(image);
      const FT_Bitmap &bitmap = bitmapGlyph->bitmap;
      // Only 8-bit coverage can be blended; other pixel modes come only
      // from bitmap fonts given as a font file.
      if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY)
        BlendGlyph(TopRow(bitmap), static_cast<int>(bitmap.rows),
                   static_cast<int>(bitmap.width), bitmap.pitch,
                   ClampToInt(bitmapGlyph->left + ox),
                   ClampToInt(oy - bitmapGlyph->top), colour);
    }
    FT_Done_Glyph(image);
  }
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
  for (int i = 0; i < rows; ++i) {
    const long long canvasY = static_cast<long long>(y) + i;
    if (canvasY < 0 || canvasY >= canvasHeight)
      continue;
    const std::uint8_t *line = coverage + static_cast<long long>(pitch) * i;
    for (int j = 0; j < width; ++j) {
      const long long canvasX = static_cast<long long>(x) + j;
      if (canvasX < 0 || canvasX >= canvasWidth)
        continue;
      const double a = line[j] / 255.0;
      if (a == 0.0)
        continue;
      const int px = static_cast<int>(canvasX);
      const int py = static_cast<int>(canvasY);
      auto mix = [a](int old, int ink) {
        return 255 - static_cast<int>((255 - old) * (1.0 - a) + ink * a);
      };
      const std::uint32_t red = mix(Owner->GetRed(px, py), inkRed);
      const std::uint32_t green = mix(Owner->GetGreen(px, py), inkGreen);
      const std::uint32_t blue = mix(Owner->GetBlue(px, py), inkBlue);
      Owner->SetPixel(px, py, red | (green << 8) | (blue << 16));
    }
  }
}
