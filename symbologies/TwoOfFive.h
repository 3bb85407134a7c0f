#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/BarcodeSym.h"

namespace strixel {

// Industrial 2 of 5: every digit is five bars, two of them wide, separated by
// narrow spaces; only the bars carry information. Any number of digits, with
// an optional modulo-10 check digit.
class CBarcodeSymIndustr25 : public CBarcodeSym {
public:
  explicit CBarcodeSymIndustr25(const CBarcodeProps &props)
      : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

private:
  char CheckDigitChar() const;
};

// Interleaved 2 of 5: digits in pairs, the first of a pair in the five bars
// and the second in the five spaces between them; a leading zero makes the
// number of digits (check digit included) even.
class CBarcodeSymInterl25 : public CBarcodeSym {
public:
  explicit CBarcodeSymInterl25(const CBarcodeProps &props)
      : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  // text, with a "0" in front when the digits to encode (counting the check
  // digit when CalcCheck adds one) would otherwise be odd in number.
  void PaddedText(std::string &out, std::string_view text) const;

private:
  static char CheckDigitChar(std::string_view padded);
};

// ITF-14: the GS1 trade item number of 13 digits and its check digit in
// Interleaved 2 of 5; a fourteenth digit in the text is replaced by the
// computed one.
class CBarcodeSymITF14 : public CBarcodeSymInterl25 {
public:
  explicit CBarcodeSymITF14(const CBarcodeProps &props)
      : CBarcodeSymInterl25(props) {}

  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;
};

} // namespace strixel
