#pragma once

#include <cstdint>

namespace strixel {

// A canvas point in 64 bits: moving it by any length cannot overflow.
struct Point64 {
  std::int64_t x = 0;
  std::int64_t y = 0;
};

} // namespace strixel
