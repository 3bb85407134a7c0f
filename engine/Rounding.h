#pragma once

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace strixel {

// The rounding and saturating helpers of the program: lengths and
// coordinates are computed in 64 bits or as reals and come back to int
// here, so that no request can make them overflow.

// Rounds to the nearest integer, halves away from zero (2.5 gives 3, -2.5
// gives -3), saturating at the int range; NaN gives 0. Every real length
// that becomes whole pixels goes through here.
int RoundHalfAway(double value);

// --- 64-bit lengths and the text engine's fixed point -----------------------

// A 64-bit length or coordinate brought back into the int range: a request
// can carry any number, so sizes are computed wide and saturate here.
inline int SaturateToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

// A real truncated toward zero, for values the caller keeps within 64 bits
// (FreeType's 26.6 and 16.16 fixed point).
inline std::int64_t TruncToInt64(double value) {
  return static_cast<std::int64_t>(value);
}

// Nearest integer, a fraction of exactly one half going away from zero, for
// values the caller keeps within 64 bits. Unlike RoundHalfAway it rounds
// the largest double below one half down, as llround does.
inline std::int64_t RoundHalfAwayInt64(double value) {
  return std::llround(value);
}

} // namespace strixel
