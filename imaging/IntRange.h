#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace strixel {

// A 64-bit length or coordinate brought back into the int range: a request
// can carry any number, so sizes are computed wide and saturate here.
inline int SaturateToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

} // namespace strixel
