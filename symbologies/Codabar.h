#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/BarcodeSym.h"

namespace strixel {

// Codabar: the data characters 0-9 - $ : / . + between a start and a stop
// character that the text supplies itself, one of the letters A to D in
// either case. No check character.
class CBarcodeSymCodabar : public CBarcodeSym {
public:
  explicit CBarcodeSymCodabar(const CBarcodeProps &props)
      : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  // True for a, A, b, B, c, C, d and D.
  static bool IsStartStop(std::uint8_t byte);
  // The upper-case form of a start/stop letter; any other byte unchanged.
  static std::uint8_t UpperStartStop(std::uint8_t byte);
  // The row of a character of the symbology (data or upper-case start/stop).
  static bool LookUpCharacter(std::uint8_t byte, std::size_t &row);
};

} // namespace strixel
