#pragma once

// Reads a Code 128 bar pattern back: every six elements are one character,
// looked up by their module widths in the published table (written out here
// as the standard prints it, independently of the encoder's table), and the
// values are turned back into data as a scanner would.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/BarElement.h"

using namespace strixel;

namespace code128_test {

inline const char *const PublishedWidths =
    "212222 222122 222221 121223 121322 131222 122213 122312 132212 221213 "
    "221312 231212 112232 122132 122231 113222 123122 123221 223211 221132 "
    "221231 213212 223112 312131 311222 321122 321221 312212 322112 322211 "
    "212123 212321 232121 111323 131123 131321 112313 132113 132311 211313 "
    "231113 231311 112133 112331 132131 113123 113321 133121 313121 211331 "
    "231131 213113 213311 213131 311123 311321 331121 312113 312311 332111 "
    "314111 221411 431111 111224 111422 121124 121421 141122 141221 112214 "
    "112412 122114 122411 142112 142211 241211 221114 413111 241112 134111 "
    "111242 121142 121241 114212 124112 124211 411212 421112 421211 212141 "
    "214121 412121 111143 111341 131141 114113 114311 411113 411311 113141 "
    "114131 311141 411131 211412 211214 211232 233111";

inline int ModulesOf(std::uint8_t e) {
  switch (e) {
  case Bar1:
  case Space1:
    return 1;
  case Bar2:
  case Space2:
    return 2;
  case Bar3:
  case Space3:
    return 3;
  case Bar4:
  case Space4:
    return 4;
  default:
    return 0;
  }
}

inline bool IsBar(std::uint8_t e) {
  return e == Bar1 || e == Bar2 || e == Bar3 || e == Bar4;
}

// The values of a pattern (start and check included) without its stop
// character and termination bar; empty when the pattern is malformed.
inline std::vector<int> ReadValues(const std::vector<std::uint8_t> &elements) {
  std::map<std::string, int> byWidths;
  std::string all = PublishedWidths;
  for (int value = 0; value * 7 < static_cast<int>(all.size()); ++value)
    byWidths[all.substr(value * 7, 6)] = value;
  std::vector<int> values;
  if (elements.size() < 7 || (elements.size() - 7) % 6 != 0)
    return {};
  for (std::size_t i = 0; i < elements.size(); ++i)
    if (IsBar(elements[i]) != (i % 2 == 0))
      return {};
  for (std::size_t i = 0; i + 7 < elements.size(); i += 6) {
    std::string widths;
    for (std::size_t j = i; j < i + 6; ++j)
      widths.push_back(static_cast<char>('0' + ModulesOf(elements[j])));
    auto found = byWidths.find(widths);
    if (found == byWidths.end())
      return {};
    values.push_back(found->second);
  }
  std::string stop;
  for (std::size_t j = elements.size() - 7; j < elements.size() - 1; ++j)
    stop.push_back(static_cast<char>('0' + ModulesOf(elements[j])));
  if (stop != "233111" || elements.back() != Bar2)
    return {};
  return values;
}

// The modulo-103 check of a value sequence (start included, check excluded).
inline int Checksum(const std::vector<int> &values) {
  int sum = values[0];
  for (std::size_t i = 1; i < values.size(); ++i)
    sum = (sum + static_cast<int>(i) * values[i]) % 103;
  return sum % 103;
}

// What a scanner transmits for a symbol.
struct ScannedData {
  bool Ok = false;  // a start code, a matching check and known values
  bool Gs1 = false; // FNC1 right after the start: GS1 data (]C1)
  std::string Data; // later FNC1s as the group separator 0x1D
};

// Decodes the values of ReadValues (check included) through sets A, B and C,
// the way a scanner does; FNC2, FNC3, FNC4 and SHIFT are not read.
inline ScannedData ScanValues(const std::vector<int> &values) {
  ScannedData scanned;
  if (values.size() < 2 || values[0] < 103 || values[0] > 105)
    return scanned;
  std::vector<int> body(values.begin(), values.end() - 1);
  if (Checksum(body) != values.back())
    return scanned;
  char set = static_cast<char>('A' + (values[0] - 103));
  for (std::size_t i = 1; i < body.size(); ++i) {
    const int v = body[i];
    if (v == 102) {
      if (i == 1)
        scanned.Gs1 = true;
      else
        scanned.Data.push_back('\x1d');
    } else if (v == 99 && set != 'C') {
      set = 'C';
    } else if (v == 100 && set != 'B') {
      set = 'B';
    } else if (v == 101 && set != 'A') {
      set = 'A';
    } else if (set == 'C' && v < 100) {
      scanned.Data.push_back(static_cast<char>('0' + v / 10));
      scanned.Data.push_back(static_cast<char>('0' + v % 10));
    } else if (set == 'B' && v < 96) {
      scanned.Data.push_back(static_cast<char>(v + 32));
    } else if (set == 'A' && v < 96) {
      scanned.Data.push_back(static_cast<char>(v < 64 ? v + 32 : v - 64));
    } else {
      return scanned;
    }
  }
  scanned.Ok = true;
  return scanned;
}

} // namespace code128_test
