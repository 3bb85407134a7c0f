#pragma once

#include <cstdint>

#include "engine/BarcodeProps.h"
#include "engine/Point64.h"
#include "engine/Rect.h"
#include "engine/Rect64.h"

namespace strixel {

// How a turned symbol lies on the canvas. The symbol has two axes: "along"
// runs across the bars, from the first bar to the last, and "across" runs
// along the bars, from the start corner into the box. Each lies on one
// canvas axis and points to larger (+1) or smaller (-1) coordinates. The
// drawing works in symbol axes and leaves the orientation to this value.
struct SymbolAxes {
  int Degrees;
  bool AlongIsX;
  int AlongSign;
  int AcrossSign;

  // Turning counter-clockwise: at 0 the symbol runs to the right with its
  // bars downwards, at 90 upwards with its bars to the right, at 180 to the
  // left with its bars upwards, at 270 downwards with its bars to the left.
  // An angle that is no quarter turn (none comes from a request) is drawn
  // upright.
  static constexpr SymbolAxes Of(int orientation) {
    switch (orientation) {
    case Rotate90:
      return {Rotate90, false, -1, +1};
    case Rotate180:
      return {Rotate180, true, -1, -1};
    case Rotate270:
      return {Rotate270, false, +1, -1};
    default:
      return {Rotate0, true, +1, +1};
    }
  }

  // A box's extent along and across the symbol.
  constexpr int Along(int width, int height) const {
    return AlongIsX ? width : height;
  }
  constexpr int Across(int width, int height) const {
    return AlongIsX ? height : width;
  }

  // The point reached from p by moving along and across the symbol.
  constexpr Point64 Move(Point64 p, std::int64_t along,
                         std::int64_t across) const {
    if (AlongIsX)
      return {p.x + AlongSign * along, p.y + AcrossSign * across};
    return {p.x + AcrossSign * across, p.y + AlongSign * along};
  }

  // The corner of a box where both axes start: the one that the canvas
  // axes pointing the other way reach last.
  constexpr Point64 StartCorner(const CRect &box, int width, int height) const {
    const int xSign = AlongIsX ? AlongSign : AcrossSign;
    const int ySign = AlongIsX ? AcrossSign : AlongSign;
    return {std::int64_t{box.left} + (xSign > 0 ? 0 : width),
            std::int64_t{box.top} + (ySign > 0 ? 0 : height)};
  }

  // The canvas rectangle that covers the lengths along and across the
  // symbol from corner p.
  constexpr Rect64 Cover(Point64 p, std::int64_t along,
                         std::int64_t across) const {
    const Point64 far = Move(p, along, across);
    return {p.x < far.x ? p.x : far.x, p.y < far.y ? p.y : far.y,
            p.x < far.x ? far.x : p.x, p.y < far.y ? far.y : p.y};
  }
};

} // namespace strixel
