#include "imaging/ImageWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/ErrorCodes.h"

namespace strixel {

CImageWriter::CImageWriter(int width, int height, std::uint32_t backgroundColor,
                           const char *fontPath, int dpiX, int dpiY)
    : Width(width), Height(height), BackgroundColor(backgroundColor),
      Font(this, fontPath, dpiX, dpiY) {}

// The rows go first, then the text engine (a member, destroyed after this
// body). Raster holds the pixels only once Create has allocated them, so a
// Create that failed or never ran frees exactly what exists.
CImageWriter::~CImageWriter() {
  Rows.clear();
  Raster.reset();
}

bool CImageWriter::IsSizeAllowed(std::int64_t width, std::int64_t height) {
  if (width < 1 || height < 1)
    return false;
  if (width > MaxSidePixels || height > MaxSidePixels)
    return false;
  // Both factors are at most a million, so the product fits in 64 bits.
  return BytesPerPixel * width * height <= MaxRasterBytes;
}

bool CImageWriter::Create() {
  Rows.clear();
  Raster.reset();
  if (!IsSizeAllowed(Width, Height))
    return false;
  // One block holds every row, one after the other: each row is still one
  // contiguous buffer for the encoder and one block fill for a bar, but the
  // request makes one allocation instead of one per row.
  const std::size_t rowBytes = BytesPerPixel * static_cast<std::size_t>(Width);
  const std::size_t rasterBytes = rowBytes * static_cast<std::size_t>(Height);
  std::unique_ptr<std::uint8_t[]> raster(new (std::nothrow)
                                             std::uint8_t[rasterBytes]);
  if (!raster)
    return false;
  try {
    Rows.reserve(static_cast<std::size_t>(Height));
  } catch (const std::bad_alloc &) {
    Rows.clear();
    return false;
  }
  for (int y = 0; y < Height; ++y) {
    std::uint8_t *row = raster.get() + rowBytes * static_cast<std::size_t>(y);
    std::memset(row, WhiteByte, rowBytes);
    Rows.push_back(row);
  }
  Raster = std::move(raster);
  return Font.Init() == Success;
}

void CImageWriter::SetPixel(int x, int y, std::uint32_t colour) {
  std::uint8_t *pixel = Rows[y] + BytesPerPixel * static_cast<std::size_t>(x);
  for (int channel = 0; channel < BytesPerPixel; ++channel)
    pixel[channel] = ColourChannel(colour, channel);
}

std::uint8_t CImageWriter::GetRed(int x, int y) const {
  return Rows[y][BytesPerPixel * static_cast<std::size_t>(x)];
}

std::uint8_t CImageWriter::GetGreen(int x, int y) const {
  return Rows[y][BytesPerPixel * static_cast<std::size_t>(x) + 1];
}

std::uint8_t CImageWriter::GetBlue(int x, int y) const {
  return Rows[y][BytesPerPixel * static_cast<std::size_t>(x) + 2];
}

void CImageWriter::FillRect(int x, int y, int width, int height,
                            std::uint32_t colour) {
  if (width <= 0 || height <= 0)
    return;
  // Clip to the canvas in 64 bits so that x + width cannot overflow.
  const std::int64_t left = std::max<std::int64_t>(x, 0);
  const std::int64_t top = std::max<std::int64_t>(y, 0);
  const std::int64_t right =
      std::min<std::int64_t>(static_cast<std::int64_t>(x) + width, Width);
  const std::int64_t bottom =
      std::min<std::int64_t>(static_cast<std::int64_t>(y) + height, Height);
  if (left >= right || top >= bottom)
    return;
  FillArea(left, top, right, bottom, colour);
}

bool CImageWriter::DrawOutlines(const PlacedText &) {
  return false;
}

void CImageWriter::FillArea(std::int64_t left, std::int64_t top,
                            std::int64_t right, std::int64_t bottom,
                            std::uint32_t colour) {
  // No raster before Create.
  if (bottom > static_cast<std::int64_t>(Rows.size()))
    return;
  const std::uint8_t red = ColourChannel(colour, 0);
  const std::uint8_t green = ColourChannel(colour, 1);
  const std::uint8_t blue = ColourChannel(colour, 2);
  const std::size_t first = BytesPerPixel * static_cast<std::size_t>(left);
  const std::size_t count =
      BytesPerPixel * static_cast<std::size_t>(right - left);
  if (red == green && green == blue) {
    // Black bars, white background and greys: one block fill per row.
    for (std::int64_t row = top; row < bottom; ++row)
      std::memset(Rows[row] + first, red, count);
    return;
  }
  // Other colours: the first row pixel by pixel, every other row a copy of
  // it (a copy runs several times faster than the three-byte loop).
  std::uint8_t *firstRow = Rows[top] + first;
  for (std::uint8_t *pixel = firstRow; pixel != firstRow + count;) {
    *pixel++ = red;
    *pixel++ = green;
    *pixel++ = blue;
  }
  for (std::int64_t row = top + 1; row < bottom; ++row)
    std::memcpy(Rows[row] + first, firstRow, count);
}

int CImageWriter::GetTextHeight(int fontHeight) {
  return Font.GetTextHeight(fontHeight);
}

void CImageWriter::DrawString(const char *text, int fontHeight, int align,
                              int x, int y, int width, double angle,
                              std::uint32_t colour) {
  Font.DrawString(text, fontHeight, align, x, y, width, angle, colour);
}

void CImageWriter::DrawStringN(const char *text, std::size_t count,
                               int fontHeight, int align, int x, int y,
                               int width, double angle, std::uint32_t colour) {
  Font.DrawStringN(text, count, fontHeight, align, x, y, width, angle, colour);
}

} // namespace strixel
