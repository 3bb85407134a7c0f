#pragma once

// Reads a discrete narrow/wide pattern (Codabar, Code 11) back into its
// characters, by the published tables the tests give: each character is
// Width alternating elements, bar first, n narrow and w wide, with a narrow
// space between characters.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/BarElement.h"

using namespace strixel;

struct PublishedChar {
  char Character;
  const char *Widths;
};

// "!" for a malformed pattern, "?" for a character not in the table.
template <std::size_t N>
std::string ReadDiscrete(const std::vector<std::uint8_t> &elements,
                         std::size_t width, const PublishedChar (&table)[N]) {
  if (elements.size() % (width + 1) != width)
    return "!";
  std::string chars;
  for (std::size_t i = 0; i < elements.size(); i += width + 1) {
    std::string widths;
    for (std::size_t k = 0; k < width; ++k) {
      const std::uint8_t e = elements[i + k];
      const bool bar = k % 2 == 0;
      if ((bar && e != Bar1 && e != WideBar) ||
          (!bar && e != Space1 && e != WideSpace))
        return "!";
      widths += (e == WideBar || e == WideSpace) ? 'w' : 'n';
    }
    if (i + width < elements.size() && elements[i + width] != Space1)
      return "!";
    char found = '?';
    for (const PublishedChar &c : table)
      if (widths == c.Widths)
        found = c.Character;
    chars += found;
  }
  return chars;
}
