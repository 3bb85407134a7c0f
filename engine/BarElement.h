#pragma once

#include <cstdint>

namespace strixel {

// One element of a symbol's bar/space pattern. A numbered bar or space is
// that many modules wide; the wide ones are Wide2NarrowRatio modules wide.
enum BarElement : std::uint8_t {
  Bar1 = 0,
  Bar2 = 1,
  Space1 = 2,
  Space2 = 3,
  Bar3 = 4,
  Space3 = 5,
  Bar4 = 6,
  Space4 = 7,
  GuardBar = 8,     // one module, drawn down into the text band
  ShortBar = 9,     // postal patterns only
  TallBar = 10,     // postal patterns only
  PostalSpace = 11, // postal patterns only
  WideSpace = 12,
  WideBar = 13,
};

} // namespace strixel
