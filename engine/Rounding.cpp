#include "engine/Rounding.h"

#include <climits>
#include <cmath>

namespace strixel {

int RoundHalfAway(double value) {
  if (std::isnan(value))
    return 0;
  const double r =
      value < 0 ? -std::floor(-value + 0.5) : std::floor(value + 0.5);
  if (r >= static_cast<double>(INT_MAX))
    return INT_MAX;
  if (r <= static_cast<double>(INT_MIN))
    return INT_MIN;
  return static_cast<int>(r);
}

} // namespace strixel
