#pragma once

namespace strixel {

// The character size last set on a face, with the text band height measured
// for it, so that a size already set is not set again.
struct FaceSize {
  bool IsSet = false;
  int FontHeight = 0;
  int DpiX = 0;
  int DpiY = 0;
  int BandHeight = 0;
};

} // namespace strixel
