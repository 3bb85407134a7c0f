#pragma once

#include <ctime>

#include "imaging/ImageWriter.h"

namespace strixel {

// The PNG form of the raster: IHDR, gAMA, tIME, five tEXt chunks, IDAT, IEND.
class CMyPngWriter : public CImageWriter {
public:
  // Exit code of a request whose image the encoder could not finish.
  static constexpr int EncoderError = 2;
  using ClockFunction = std::time_t (*)();

  CMyPngWriter(int width, int height, const char *fontPath, int dpiX, int dpiY,
               std::uint32_t backgroundColor, int compressionLevel);
  ~CMyPngWriter() override;
  int WriteImage(std::FILE *stream) override;

  int CompressionLevel;
  double Gamma = 0.5;
  // Source of the time stamp; tests replace it to get reproducible files.
  ClockFunction Clock;
};

} // namespace strixel
