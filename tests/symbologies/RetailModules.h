#pragma once

// Reads retail bar patterns back module by module, with the EAN/UPC digit
// codes written as the standard prints them (1 = bar module), so that the
// tests do not lean on the encoder's own width table.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/BarElement.h"

using namespace strixel;

namespace retail_test {

// One character per module: '1' for a bar module, '0' for a space module.
// Returns "?" for a code that has no fixed width in a retail pattern.
inline std::string ModuleString(const std::vector<std::uint8_t> &elements) {
  std::string modules;
  for (std::uint8_t e : elements) {
    switch (e) {
    case Bar1:
    case GuardBar:
      modules += "1";
      break;
    case Bar2:
      modules += "11";
      break;
    case Bar3:
      modules += "111";
      break;
    case Bar4:
      modules += "1111";
      break;
    case Space1:
      modules += "0";
      break;
    case Space2:
      modules += "00";
      break;
    case Space3:
      modules += "000";
      break;
    case Space4:
      modules += "0000";
      break;
    default:
      return "?";
    }
  }
  return modules;
}

// Number set A (L) as printed in the standard; set C (R) is its complement
// and set B (G) the mirror image of set C.
inline const char *const LeftOddCodes[10] = {
    "0001101", "0011001", "0010011", "0111101", "0100011",
    "0110001", "0101111", "0111011", "0110111", "0001011"};

inline std::string RightCode(int digit) {
  std::string code = LeftOddCodes[digit];
  for (char &c : code)
    c = c == '1' ? '0' : '1';
  return code;
}

inline std::string LeftEvenCode(int digit) {
  const std::string right = RightCode(digit);
  return std::string(right.rbegin(), right.rend());
}

// The digit of a seven-module left-hand code, -1 when it is none; set is 'O'
// for odd parity (set A) and 'E' for even parity (set B).
inline int ReadLeftDigit(std::string_view seven, char &set) {
  for (int d = 0; d < 10; ++d) {
    if (seven == LeftOddCodes[d]) {
      set = 'O';
      return d;
    }
    if (seven == LeftEvenCode(d)) {
      set = 'E';
      return d;
    }
  }
  set = '?';
  return -1;
}

inline int ReadRightDigit(std::string_view seven) {
  for (int d = 0; d < 10; ++d)
    if (seven == RightCode(d))
      return d;
  return -1;
}

// Reads count left-hand digits of seven modules from modules[at...]: the
// digits as text and their parities as 'O'/'E' letters.
inline void ReadLeftDigits(const std::string &modules, std::size_t at,
                           int count, std::string &digits,
                           std::string &parities) {
  for (int k = 0; k < count; ++k) {
    char set = '?';
    const int d =
        ReadLeftDigit(std::string_view(modules).substr(at + 7 * k, 7), set);
    digits += d < 0 ? '?' : static_cast<char>('0' + d);
    parities += set;
  }
}

inline std::string ReadRightDigits(const std::string &modules, std::size_t at,
                                   int count) {
  std::string digits;
  for (int k = 0; k < count; ++k) {
    const int d =
        ReadRightDigit(std::string_view(modules).substr(at + 7 * k, 7));
    digits += d < 0 ? '?' : static_cast<char>('0' + d);
  }
  return digits;
}

} // namespace retail_test
