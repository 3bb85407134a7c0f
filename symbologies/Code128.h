#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/BarcodeSym.h"

namespace strixel {

// Code 128, with the automatic choice between sets B and C or a forced set
// A, B or C. Also the base of the GS1 types, which reuse its encoder.
class CBarcodeSymCode128 : public CBarcodeSym {
public:
  // Character sets as Code128CharSet and the encoder name them.
  enum CharSet { AutoSet = 0, SetA = 1, SetB = 2, SetC = 3 };
  // Symbol values with a meaning of their own.
  enum Value : std::uint8_t {
    CodeC = 99,
    CodeB = 100,
    CodeA = 101,
    Fnc1 = 102,
    StartA = 103,
    StartB = 104,
    StartC = 105,
    Stop = 106,
  };
  using Values = std::vector<std::uint8_t>;

  explicit CBarcodeSymCode128(const CBarcodeProps &props)
      : CBarcodeSym(props) {}

  bool Encode() override;
  bool IsTextValid() override;
  void BuildCodeChars() override;
  void BuildDisplayText() override;

  // The check value of the last Encode.
  std::uint8_t CheckValue = 0;

protected:
  // Whether every byte of text has a Code 128 value: 32 to 134.
  static bool HasCode128Values(std::string_view text);
  // The first steps of every Encode: CheckValue 0, PrepareEncode, and an
  // empty value list with room for the code characters; false for an
  // invalid text.
  bool StartValues(Values &values);
  // The last steps: the check character, the pattern and the display text.
  void FinishSymbol(Values &values);
  void EncodeAuto(Values &values) const;
  static void ChooseRun(int currentSet, const std::uint8_t *bytes,
                        std::size_t count, int &set, std::size_t &length);
  static bool CountDigitPairs(const std::uint8_t *bytes, std::size_t count,
                              std::size_t &length);
  static bool FitsSetC(const std::uint8_t *bytes, std::size_t count,
                       std::size_t &length);
  // The start code of newSet for an empty sequence, else its switch code.
  static void AppendSetCode(Values &values, int newSet);
  static bool AppendRunAB(int set, Values &values, const std::uint8_t *bytes,
                          std::size_t count, bool withStart);
  static bool AppendRunC(Values &values, const std::uint8_t *bytes,
                         std::size_t count, bool withStart);
  static std::uint8_t Code128Checksum(const Values &values);
  void AppendValuePattern(int value, bool &bar);
  void AppendSymbolPattern(const Values &values);

  // A byte of the text stands for the value byte - ValueOffset, so the
  // bytes 32 to 127 are the characters of sets A and B and the bytes 128 to
  // 134 the function values 96 to 102.
  static constexpr std::uint8_t ValueOffset = 32;
  static constexpr std::uint8_t LastSpecialByte = 134;
  // The function bytes that exist in set C as well: CODE B, CODE A and
  // FNC1 (132 to 134), which a set C run carries one at a time.
  static constexpr std::uint8_t FirstSetCByte = 132;
  static bool IsSetCFunctionByte(std::uint8_t byte) {
    return byte >= FirstSetCByte && byte <= LastSpecialByte;
  }
};

} // namespace strixel
