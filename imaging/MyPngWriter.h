#pragma once

#include <ctime>
#include <string>

#include "imaging/ImageWriter.h"

namespace strixel {

// The PNG form of the raster: IHDR, gAMA, tIME, five tEXt chunks, IDAT, IEND.
class CMyPngWriter : public CImageWriter {
public:
  using ClockFunction = std::time_t (*)();
  // The CompressionLevel that stands for the writer's own default level.
  static constexpr int DefaultCompression = -2;

  CMyPngWriter(int width, int height, const char *fontPath, int dpiX, int dpiY,
               std::uint32_t backgroundColor, int compressionLevel);
  ~CMyPngWriter() override;
  // Encodes the raster and writes the whole file onto stream; 0, or Failure
  // when the encoder or the stream failed.
  int WriteImage(std::FILE *stream) override;
  // Appends the PNG file of the raster to file; 0, or Failure with file left
  // as it was.
  int EncodeImage(std::string &file);

  int CompressionLevel;
  double Gamma = 0.5;
  // Source of the time stamp; tests replace it to get reproducible files.
  ClockFunction Clock;
};

} // namespace strixel
