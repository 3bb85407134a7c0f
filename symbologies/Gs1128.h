#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "symbologies/Code128.h"

namespace strixel {

// GS1-128 (UCC/EAN-128): Code 128 with FNC1 in the first position. The text
// marks application identifiers as "<AI" + 2 to 5 digits + ">" and explicit
// separators as "<FNC1>"; an FNC1 separator is inserted before every
// identifier that follows one of variable length.
class CBarcodeSymUCCEAN128 : public CBarcodeSymCode128 {
public:
  // The byte that stands for FNC1 in CodeChars (value 102 in every set).
  static constexpr std::uint8_t Fnc1Byte = 134;

  explicit CBarcodeSymUCCEAN128(const CBarcodeProps &props)
      : CBarcodeSymCode128(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  // Whether a tag that follows the identifier previousAI (-1 for none) needs
  // an FNC1 before it.
  static bool NeedsFNC1(int previousAI);

private:
  // What the markup at a position of the text amounts to.
  struct Markup {
    enum Kind { Byte, Tag, Literal, Separator } What = Byte;
    std::size_t Next = 0;        // position after the markup
    std::size_t DigitsFirst = 0; // a tag's identifier digits
    std::size_t DigitsCount = 0;
  };
  static Markup ReadMarkup(const std::string &text, std::size_t position);
};

// SSCC-18: application identifier 00 with the 17 digits of a serial shipping
// container code and their check digit, in GS1-128.
class CBarcodeSymSSCC18 : public CBarcodeSymUCCEAN128 {
public:
  static constexpr std::size_t DataDigits = 17;
  // The identifier 00 before the data digits, in the text and in CodeChars.
  static constexpr std::size_t IdentifierDigits = 2;
  // Where the data digits start in CodeChars: after FNC1 and the identifier.
  static constexpr std::size_t DataOffset = 1 + IdentifierDigits;

  explicit CBarcodeSymSSCC18(const CBarcodeProps &props)
      : CBarcodeSymUCCEAN128(props) {}

  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;
};

// EAN-14: 13 digits and their check digit in Code 128 set C after FNC1.
class CBarcodeSymEAN14 : public CBarcodeSymCode128 {
public:
  explicit CBarcodeSymEAN14(const CBarcodeProps &props)
      : CBarcodeSymCode128(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;
};

} // namespace strixel
