#pragma once

namespace strixel {

// A rectangle in pixels, y downwards: width = right - left.
struct CRect {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

} // namespace strixel
