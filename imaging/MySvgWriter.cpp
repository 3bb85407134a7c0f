#include "imaging/MySvgWriter.h"

#include <charconv>
#include <cstdio>
#include <new>

#include "engine/ErrorCodes.h"
#include "imaging/GlyphSet.h"

#include FT_OUTLINE_H

namespace strixel {

namespace {

// Outline paths are written in FreeType's 26.6 units, whole numbers, and
// scaled down to pixels by the path's transform.
constexpr char OutlineScale[] = "0.015625";
static_assert(PixelFraction == 64, "the scale is 1/64");

// Room for a 64-bit number in decimal, with its sign.
constexpr std::size_t MaxNumberChars = 24;

// What the document is reserved before it is built: the XML declaration,
// the svg element and the background, a title escaped at up to six bytes a
// byte ("&quot;"), and the element around each shape's path data.
constexpr std::size_t DocumentFrameBytes = 400;
constexpr std::size_t EscapedBytesPerByte = 6;
constexpr std::size_t ShapeFrameBytes = 80;

// The replacement character, U+FFFD, in UTF-8.
constexpr char Replacement[] = "\xEF\xBF\xBD";

bool IsDigitChar(char c) {
  return c >= '0' && c <= '9';
}

// A number in path data: a space separates it from a number before it,
// where a minus sign does not already.
void AppendNumber(std::string &out, std::int64_t value) {
  if (value >= 0 && !out.empty() && IsDigitChar(out.back()))
    out += ' ';
  char digits[MaxNumberChars];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void AppendPlain(std::string &out, std::int64_t value) {
  char digits[MaxNumberChars];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// "#rrggbb" of a stored colour (red in the low byte).
void AppendColour(std::string &out, std::uint32_t colour) {
  static const char Hex[] = "0123456789abcdef";
  out += '#';
  for (int channel = 0; channel < CImageWriter::BytesPerPixel; ++channel) {
    const unsigned value = ColourChannel(colour, channel);
    out += Hex[value >> 4];
    out += Hex[value & 0xF];
  }
}

// Turns FreeType's outline segments into relative path commands in canvas
// units of 1/64 pixel: x to the right from the pen origin's column, y
// downwards from its row.
struct CPathBuilder {
  std::string &Out;
  std::int64_t OriginX; // 26.6
  std::int64_t OriginY; // 26.6
  std::int64_t X = 0, Y = 0;
  bool Open = false;

  std::int64_t CanvasX(const FT_Vector *p) const { return OriginX + p->x; }
  std::int64_t CanvasY(const FT_Vector *p) const { return OriginY - p->y; }
  void Relative(const FT_Vector *p) {
    AppendNumber(Out, CanvasX(p) - X);
    AppendNumber(Out, CanvasY(p) - Y);
  }
  void MoveTo(const FT_Vector *p) {
    if (Open)
      Out += 'z';
    Out += 'M';
    X = CanvasX(p);
    Y = CanvasY(p);
    AppendNumber(Out, X);
    AppendNumber(Out, Y);
    Open = true;
  }
  void To(char command, std::initializer_list<const FT_Vector *> points) {
    Out += command;
    for (const FT_Vector *p : points)
      Relative(p);
    const FT_Vector *last = *(points.end() - 1);
    X = CanvasX(last);
    Y = CanvasY(last);
  }
};

int MoveTo(const FT_Vector *to, void *user) {
  static_cast<CPathBuilder *>(user)->MoveTo(to);
  return 0;
}

int LineTo(const FT_Vector *to, void *user) {
  static_cast<CPathBuilder *>(user)->To('l', {to});
  return 0;
}

int ConicTo(const FT_Vector *control, const FT_Vector *to, void *user) {
  static_cast<CPathBuilder *>(user)->To('q', {control, to});
  return 0;
}

int CubicTo(const FT_Vector *control1, const FT_Vector *control2,
            const FT_Vector *to, void *user) {
  static_cast<CPathBuilder *>(user)->To('c', {control1, control2, to});
  return 0;
}

constexpr FT_Outline_Funcs PathFunctions = {MoveTo,  LineTo, ConicTo,
                                            CubicTo, 0,      0};

// The length of a well-formed UTF-8 sequence at text[i], 0 when there is
// none (the ranges of the Unicode standard: no overlong forms, no
// surrogates, nothing above U+10FFFF); code receives its code point.
std::size_t Utf8Sequence(const std::string &text, std::size_t i,
                         std::uint32_t &code) {
  const auto byte = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned lead = byte(i);
  if (lead < 0xC2 || lead > 0xF4)
    return 0;
  const std::size_t length = lead <= 0xDF ? 2 : lead <= 0xEF ? 3 : 4;
  code = lead & (0x7F >> length); // the bits after the length's marks
  // The second byte's range: all continuation bytes but for four leads.
  unsigned low = 0x80, high = 0xBF;
  if (lead == 0xE0)
    low = 0xA0; // overlong below
  else if (lead == 0xED)
    high = 0x9F; // surrogates above
  else if (lead == 0xF0)
    low = 0x90; // overlong below
  else if (lead == 0xF4)
    high = 0x8F; // beyond U+10FFFF above
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned next = byte(i + k);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
      return 0;
    code = (code << 6) | (next & 0x3F);
  }
  return length;
}

// Code points a title shows as U+FFFD: the C1 controls, and the two that
// XML does not allow.
bool IsUnwanted(std::uint32_t code) {
  return (code >= 0x80 && code <= 0x9F) || code == 0xFFFE || code == 0xFFFF;
}

} // namespace

CMySvgWriter::CMySvgWriter(int width, int height, const char *fontPath,
                           int dpiX, int dpiY, std::uint32_t backgroundColor,
                           std::string title)
    : CImageWriter(width, height, backgroundColor, fontPath, dpiX, dpiY),
      Title(std::move(title)) {}

CMySvgWriter::~CMySvgWriter() = default;

bool CMySvgWriter::Create() {
  if (!IsSizeAllowed(Width, Height))
    return false;
  return Font.Init() == Success;
}

std::string &CMySvgWriter::ShapeData(std::uint32_t colour, bool outline) {
  colour &= 0xFFFFFF;
  if (Shapes.empty() || Shapes.back().Colour != colour ||
      Shapes.back().Outline != outline)
    Shapes.push_back({colour, outline, std::string()});
  return Shapes.back().Data;
}

void CMySvgWriter::FillArea(std::int64_t left, std::int64_t top,
                            std::int64_t right, std::int64_t bottom,
                            std::uint32_t colour) {
  std::string &data = ShapeData(colour, false);
  data += 'M';
  AppendNumber(data, left);
  AppendNumber(data, top);
  data += 'h';
  AppendNumber(data, right - left);
  data += 'v';
  AppendNumber(data, bottom - top);
  data += 'h';
  AppendNumber(data, left - right);
  data += 'z';
}

FT_Glyph CMySvgWriter::UprightOutline(FT_Face face, FT_UInt index) {
  const GlyphKey key{index, face->size->metrics.x_scale,
                     face->size->metrics.y_scale};
  const auto found = Outlines.find(key);
  if (found != Outlines.end())
    return found->second.get();
  GlyphImage &image = Outlines[key];
  // The raster draws hinted glyphs, fitted to its pixel grid; a vector
  // document has no grid, so it takes the design outline at the same size.
  // Out of memory ends the request, as in the raster: a document with
  // glyphs silently missing would be a wrong answer reported as success.
  // Other errors depend only on the font and leave the glyph out.
  const FT_Error loadError = FT_Load_Glyph(
      face, index,
      FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_IGNORE_TRANSFORM);
  ThrowIfOutOfMemory(loadError);
  if (loadError || face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
    return nullptr;
  FT_Glyph glyph = nullptr;
  const FT_Error copyError = FT_Get_Glyph(face->glyph, &glyph);
  ThrowIfOutOfMemory(copyError);
  if (!copyError)
    image.reset(glyph);
  return image.get();
}

bool CMySvgWriter::DrawOutlines(const PlacedText &text) {
  const std::int64_t originX = text.OriginX * PixelFraction;
  const std::int64_t originY = text.OriginY * PixelFraction;
  const std::int64_t width = static_cast<std::int64_t>(Width) * PixelFraction;
  const std::int64_t height = static_cast<std::int64_t>(Height) * PixelFraction;
  FT_Matrix matrix = text.Matrix;
  for (const PenPosition &at : text.Pens) {
    FT_Glyph upright = UprightOutline(text.Face, at.Index);
    if (!upright)
      continue;
    FT_Glyph copy = nullptr;
    const FT_Error copyError = FT_Glyph_Copy(upright, &copy);
    ThrowIfOutOfMemory(copyError);
    if (copyError)
      continue;
    const GlyphImage turned(copy);
    FT_Glyph_Transform(copy, &matrix, nullptr);
    FT_Outline &outline = reinterpret_cast<FT_OutlineGlyph>(copy)->outline;
    if (outline.n_points == 0)
      continue;
    const std::int64_t penX = originX + at.Pen.x;
    const std::int64_t penY = originY - at.Pen.y;
    // A glyph wholly off the canvas is left out, as the raster leaves it.
    FT_BBox box;
    FT_Outline_Get_CBox(&outline, &box);
    if (penX + box.xMax <= 0 || penX + box.xMin >= width ||
        penY - box.yMin <= 0 || penY - box.yMax >= height)
      continue;
    CPathBuilder path{ShapeData(text.Colour, true), penX, penY};
    FT_Outline_Decompose(&outline, &PathFunctions, &path);
    if (path.Open)
      path.Out += 'z';
  }
  return true;
}

void CMySvgWriter::AppendXmlText(std::string &out, const std::string &text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (c < 0x20 || c == 0x7F)
          out += Replacement;
        else
          out += static_cast<char>(c);
      }
      continue;
    }
    std::uint32_t code = 0;
    const std::size_t length = Utf8Sequence(text, i, code);
    if (length == 0 || IsUnwanted(code)) {
      out += Replacement;
      i += length == 0 ? 1 : length;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
}

int CMySvgWriter::EncodeImage(std::string &document) const {
  try {
    std::string svg;
    std::size_t size = DocumentFrameBytes + EscapedBytesPerByte * Title.size();
    for (const Shape &shape : Shapes)
      size += ShapeFrameBytes + shape.Data.size();
    svg.reserve(size);
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
           "width=\"";
    AppendPlain(svg, Width);
    svg += "\" height=\"";
    AppendPlain(svg, Height);
    svg += "\" viewBox=\"0 0 ";
    AppendPlain(svg, Width);
    svg += ' ';
    AppendPlain(svg, Height);
    svg += "\">\n<title>";
    AppendXmlText(svg, Title);
    svg += "</title>\n<rect width=\"";
    AppendPlain(svg, Width);
    svg += "\" height=\"";
    AppendPlain(svg, Height);
    svg += "\" fill=\"";
    AppendColour(svg, BackgroundColor);
    svg += "\"/>\n";
    for (const Shape &shape : Shapes) {
      svg += "<path fill=\"";
      AppendColour(svg, shape.Colour);
      if (shape.Outline) {
        svg += "\" transform=\"scale(";
        svg += OutlineScale;
        svg += ')';
      }
      svg += "\" d=\"";
      svg += shape.Data;
      svg += "\"/>\n";
    }
    svg += "</svg>\n";
    document += svg;
    return Success;
  } catch (const std::bad_alloc &) {
    return Failure;
  }
}

int CMySvgWriter::WriteImage(std::FILE *stream) {
  std::string document;
  if (!stream || EncodeImage(document) != Success)
    return Failure;
  if (std::fwrite(document.data(), 1, document.size(), stream) !=
          document.size() ||
      std::fflush(stream) != 0)
    return Failure;
  return Success;
}

} // namespace strixel
