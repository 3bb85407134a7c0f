#pragma once

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
};

} // namespace strixel
