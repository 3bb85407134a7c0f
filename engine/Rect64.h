#pragma once

#include <cstdint>

namespace strixel {

// A canvas rectangle in 64 bits, y downwards.
struct Rect64 {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t right = 0;
  std::int64_t bottom = 0;
};

} // namespace strixel
