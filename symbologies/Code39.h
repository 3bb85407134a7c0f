#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/BarcodeSym.h"

namespace strixel {

// Code 39: the 43 data characters 0-9, A-Z, "-", ".", space, "$", "/", "+"
// and "%" between two start/stop characters, with an optional modulo-43
// check character.
class CBarcodeSymCode39 : public CBarcodeSym {
public:
  // Value of the start/stop character, the row after the data characters.
  static constexpr std::uint8_t StartStopValue = 43;
  static constexpr std::uint8_t DataCharacterCount = 43;

  explicit CBarcodeSymCode39(const CBarcodeProps &props) : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildDisplayText() override;

  // The data character of a value 0 to 42.
  static char CharacterOf(std::uint8_t value);

  // Check character of the last encode that added one.
  std::uint8_t CheckValue = 0;

protected:
  // Frames the Code 39 characters with start/stop, adds the check character
  // when asked, appends the pattern and rebuilds the display text.
  bool EncodeCharacters(std::string_view chars, std::size_t reserve);
  // The check character shown after the data, when there is one to show.
  void AppendShownCheck(std::string &text) const;
};

// Code 39 full ASCII: every byte 0 to 127 becomes one or two Code 39
// characters; bytes that cannot be typed are written as tilde escapes.
class CBarcodeSymCode39Ext : public CBarcodeSymCode39 {
public:
  explicit CBarcodeSymCode39Ext(const CBarcodeProps &props)
      : CBarcodeSymCode39(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  // True when text is not empty and every byte is printable ASCII (0x20 to
  // 0x7F); shared by the full-ASCII variant of Code 93.
  static bool IsFullAsciiText(std::string_view text);
};

// The full-ASCII table of Code 39: the one or two Code 39 characters that
// stand for a byte 0 to 127, none for a byte above. Code 93 Extended reads
// it too.
const char *Code39FullAscii(std::uint8_t byte);

// Resolves "~~" to "~" and "~hh" (two hexadecimal digits) to the byte hh,
// which is kept only when it lies in lowest..highest; any other tilde stays
// literal.
void ParseTildeEscapes(std::string_view text,
                       std::vector<std::uint8_t> &codeChars,
                       std::uint8_t lowest, std::uint8_t highest);

} // namespace strixel
