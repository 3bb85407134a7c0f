#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/BarcodeSym.h"

namespace strixel {

// Code 93: the 43 data characters of Code 39 in a denser pattern, always
// with the two check characters C and K, between start and stop characters
// and closed by a termination bar.
class CBarcodeSymCode93 : public CBarcodeSym {
public:
  static constexpr std::uint8_t DataCharacterCount = 43;
  // The first of the shift characters ($), (%), (/) and (+), values 43 to
  // 46, which the full-ASCII variant uses.
  static constexpr std::uint8_t ShiftDollar = 43;
  static constexpr std::uint8_t StartValue = 47;
  static constexpr std::uint8_t StopValue = 48;

  explicit CBarcodeSymCode93(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildDisplayText() override;

  // The character byte of a value 0 to 46 (a shift shows as $ % / +).
  static char CharacterOf(std::uint8_t value);
  // Check character C (weights up to 20) or K (weights up to 15) of values.
  static std::uint8_t Code93CheckValue(const std::vector<std::uint8_t> &values,
                                       bool isC);

  std::uint8_t CheckC = 0;
  std::uint8_t CheckK = 0;

protected:
  // A value list that holds the start character, with room for the text.
  std::vector<std::uint8_t> StartValues() const;
  // Appends both check characters, the stop character, the pattern and the
  // termination bar to a value list that begins with the start character,
  // and rebuilds the display text.
  void EncodeValues(std::vector<std::uint8_t> &values);
  void AppendShownChecks(std::string &text) const;
};

// Code 93 full ASCII: every byte 0 to 127 becomes a data character or a
// shift character and a data character. Text and escapes are those of
// Code 39 Extended.
class CBarcodeSymCode93Ext : public CBarcodeSymCode93 {
public:
  explicit CBarcodeSymCode93Ext(const CBarcodeProps &props)
      : CBarcodeSymCode93(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;
};

} // namespace strixel
