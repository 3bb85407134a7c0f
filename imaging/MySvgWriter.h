#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "imaging/GlyphImage.h"
#include "imaging/ImageWriter.h"
#include "imaging/PlacedText.h"

namespace strixel {

// The SVG form of a drawing: the same canvas operations as the raster, fed
// by the same drawing code, but the rectangles and the glyphs are kept as
// shapes instead of pixels, so no raster is ever allocated. The document is
// one rectangle of the background colour, then every shape in the order
// drawn: the filled rectangles (clipped to the canvas as the raster fills
// them) in pixels, the glyphs as the font's unhinted outlines at the pens
// the text engine chose. Consecutive shapes of one colour share one path.
class CMySvgWriter : public CImageWriter {
public:
  CMySvgWriter(int width, int height, const char *fontPath, int dpiX, int dpiY,
               std::uint32_t backgroundColor, std::string title);
  ~CMySvgWriter() override;
  // Encodes the document and writes it onto stream; 0, or Failure when the
  // stream failed.
  int WriteImage(std::FILE *stream) override;
  void FillArea(std::int64_t left, std::int64_t top, std::int64_t right,
                std::int64_t bottom, std::uint32_t colour) override;
  bool DrawOutlines(const PlacedText &text) override;

  // Checks the size as the raster's Create does and starts the text engine,
  // but allocates no raster: the same requests fail, with the same code.
  bool Create();
  // Appends the SVG document to document; 0, or Failure with document left
  // as it was.
  int EncodeImage(std::string &document) const;

  // Escapes text for XML character data: markup characters become
  // references, and bytes that are no valid UTF-8, control characters and
  // the code points XML forbids become U+FFFD.
  static void AppendXmlText(std::string &out, const std::string &text);

private:
  // A glyph at one size: index and the face's two scales.
  using GlyphKey = std::tuple<FT_UInt, FT_Fixed, FT_Fixed>;

  struct Shape {
    std::uint32_t Colour;
    bool Outline; // path data in 1/64 pixel, else in pixels
    std::string Data;
  };

  std::string &ShapeData(std::uint32_t colour, bool outline);
  // The unhinted, upright outline of a glyph at the face's size; null when
  // the glyph cannot be loaded or is no outline.
  FT_Glyph UprightOutline(FT_Face face, FT_UInt index);

  std::string Title;
  std::vector<Shape> Shapes;
  std::map<GlyphKey, GlyphImage> Outlines;
};

} // namespace strixel
