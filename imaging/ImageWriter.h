#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imaging/FaceSize.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace strixel {

class CKeptFontFace;
struct PlacedText;

// Byte channel of a colour (0x00BBGGRR): 0 red, 1 green, 2 blue.
constexpr std::uint8_t ColourChannel(std::uint32_t colour, int channel) {
  return static_cast<std::uint8_t>((colour >> (8 * channel)) & 0xFF);
}

// How DrawString places a text in its width: from the reference point, ending
// at the far end, centred, or with its glyphs spread to fill the width. The
// last three act only with a width.
enum StringAlign : int {
  AlignStart = 0,
  AlignEnd = 1,
  AlignCentre = 2,
  AlignSpread = 3,
};

// The drawing surface of one request: a 24-bit RGB raster, row by row, red
// first in every pixel (the order of a PNG truecolour row).
class CImageWriter {
public:
  // One byte each of red, green and blue.
  static constexpr int BytesPerPixel = 3;
  // The byte of a canvas byte fill that makes white.
  static constexpr std::uint8_t WhiteByte = 0xFF;
  // Rasters beyond these are refused by Create: the encoder cannot write a
  // side above a million pixels, and no scannable barcode needs more than
  // this much memory.
  static constexpr std::int64_t MaxSidePixels = 1000000;
  static constexpr std::int64_t MaxRasterBytes = std::int64_t{64} * 1024 * 1024;

  // Text engine: draws strings into its owner canvas with FreeType.
  // Defined in FreeTypeLib.cpp; its glyph cache and compositing are in
  // GlyphSet.h and TextCompositor.h.
  class CFreeTypeLib {
  public:
    CFreeTypeLib(CImageWriter *owner, const char *fontPath, int dpiX, int dpiY);
    CFreeTypeLib(const CFreeTypeLib &) = delete;
    CFreeTypeLib &operator=(const CFreeTypeLib &) = delete;
    virtual ~CFreeTypeLib();

    // Starts FreeType and opens the face: Success, InvalidArgument without
    // an owner canvas, CannotCreateCanvas when FreeType fails.
    int Init();
    int GetTextHeight(int fontHeight);
    // Draws text with its reference point at (x, y). Nothing can fail here
    // that a caller could act on: a glyph that cannot be drawn is left out,
    // and running out of memory throws.
    void DrawString(const char *text, int fontHeight, int align, int x, int y,
                    int width, double angle, std::uint32_t colour);
    void DrawStringN(const char *text, std::size_t count, int fontHeight,
                     int align, int x, int y, int width, double angle,
                     std::uint32_t colour);

  private:
    CImageWriter *Owner;
    std::string FontPath;
    bool HasFontPath;
    int DpiX;
    int DpiY;
    FT_LibraryRec_ *Library = nullptr;
    FT_FaceRec_ *Face = nullptr;
    // The kept face lent for the request whose Library and Face these are,
    // or nullptr when they are this engine's own.
    CKeptFontFace *Kept = nullptr;
    // The character size last set on Face: OwnSize, or the kept face's.
    FaceSize OwnSize;
    FaceSize *Size = &OwnSize;

    void Release();
    // Whether the face is set to fontHeight at this engine's resolution.
    bool HasSize(int fontHeight) const;
  };

  CImageWriter(int width, int height, std::uint32_t backgroundColor,
               const char *fontPath, int dpiX, int dpiY);
  CImageWriter(const CImageWriter &) = delete;
  CImageWriter &operator=(const CImageWriter &) = delete;
  virtual ~CImageWriter();
  // Encodes the raster onto stream; 0 on success, else an error code.
  virtual int WriteImage(std::FILE *stream) = 0;
  // Where the drawing reaches the output. FillArea gets every rectangle
  // FillRect fills, already clipped to the canvas ([left, right) x [top,
  // bottom), never empty); the raster sets its pixels. DrawOutlines gets
  // the glyphs of every string where the text engine has placed them; a
  // writer that keeps outlines takes them and returns true, the raster
  // returns false and the text engine blends the glyph bitmaps into it.
  virtual void FillArea(std::int64_t left, std::int64_t top, std::int64_t right,
                        std::int64_t bottom, std::uint32_t colour);
  virtual bool DrawOutlines(const PlacedText &text);

  // Whether a canvas of this size may be drawn: the encoder writes no side
  // above MaxSidePixels and a request holds no more than MaxRasterBytes.
  static bool IsSizeAllowed(std::int64_t width, std::int64_t height);

  bool Create();
  void SetPixel(int x, int y, std::uint32_t colour);
  std::uint8_t GetRed(int x, int y) const;
  std::uint8_t GetGreen(int x, int y) const;
  std::uint8_t GetBlue(int x, int y) const;
  void FillRect(int x, int y, int width, int height, std::uint32_t colour);

  int GetTextHeight(int fontHeight);
  void DrawString(const char *text, int fontHeight, int align, int x, int y,
                  int width, double angle, std::uint32_t colour);
  void DrawStringN(const char *text, std::size_t count, int fontHeight,
                   int align, int x, int y, int width, double angle,
                   std::uint32_t colour);

  int Width;
  int Height;
  int BitDepth = 8;
  std::uint32_t BackgroundColor;
  // Row pointers, top row first, each 3 x Width bytes (empty until Create).
  std::vector<std::uint8_t *> Rows;

private:
  // The one block the rows point into, row after row (null until Create).
  std::unique_ptr<std::uint8_t[]> Raster;

public:
  CFreeTypeLib Font;
};

// The TrueType font compiled into the program.
extern "C" const unsigned char EmbeddedFontData[];
extern "C" const unsigned long long EmbeddedFontSize;

} // namespace strixel
