#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace strixel {

// The rounding and saturating helpers of the program: lengths and
// coordinates are computed in 64 bits or as reals and come back to int
// here, so that no request can make them overflow.

// Rounds to the nearest integer, halves away from zero (2.5 gives 3, -2.5
// gives -3), saturating at the int range; NaN gives 0. Every real length
// that becomes whole pixels goes through here.
int RoundHalfAway(double value);

// A 64-bit length or coordinate brought back into the int range: a request
// can carry any number, so sizes are computed wide and saturate here.
inline int SaturateToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

} // namespace strixel
