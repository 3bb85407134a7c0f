#include "symbologies/Code128.h"

#include <iterator>

#include "engine/Digits.h"
#include "symbologies/PatternRows.h"

namespace strixel {

namespace {

// Code 128 symbol character widths (ISO/IEC 15417, Table 1): bar, space,
// bar, space, bar, space in modules; row 106 is the stop character, which
// the termination bar follows.
constexpr std::uint8_t Code128Patterns[][6] = {
    {2, 1, 2, 2, 2, 2}, {2, 2, 2, 1, 2, 2}, {2, 2, 2, 2, 2, 1},
    {1, 2, 1, 2, 2, 3}, {1, 2, 1, 3, 2, 2}, {1, 3, 1, 2, 2, 2},
    {1, 2, 2, 2, 1, 3}, {1, 2, 2, 3, 1, 2}, {1, 3, 2, 2, 1, 2},
    {2, 2, 1, 2, 1, 3}, {2, 2, 1, 3, 1, 2}, {2, 3, 1, 2, 1, 2},
    {1, 1, 2, 2, 3, 2}, {1, 2, 2, 1, 3, 2}, {1, 2, 2, 2, 3, 1},
    {1, 1, 3, 2, 2, 2}, {1, 2, 3, 1, 2, 2}, {1, 2, 3, 2, 2, 1},
    {2, 2, 3, 2, 1, 1}, {2, 2, 1, 1, 3, 2}, {2, 2, 1, 2, 3, 1},
    {2, 1, 3, 2, 1, 2}, {2, 2, 3, 1, 1, 2}, {3, 1, 2, 1, 3, 1},
    {3, 1, 1, 2, 2, 2}, {3, 2, 1, 1, 2, 2}, {3, 2, 1, 2, 2, 1},
    {3, 1, 2, 2, 1, 2}, {3, 2, 2, 1, 1, 2}, {3, 2, 2, 2, 1, 1},
    {2, 1, 2, 1, 2, 3}, {2, 1, 2, 3, 2, 1}, {2, 3, 2, 1, 2, 1},
    {1, 1, 1, 3, 2, 3}, {1, 3, 1, 1, 2, 3}, {1, 3, 1, 3, 2, 1},
    {1, 1, 2, 3, 1, 3}, {1, 3, 2, 1, 1, 3}, {1, 3, 2, 3, 1, 1},
    {2, 1, 1, 3, 1, 3}, {2, 3, 1, 1, 1, 3}, {2, 3, 1, 3, 1, 1},
    {1, 1, 2, 1, 3, 3}, {1, 1, 2, 3, 3, 1}, {1, 3, 2, 1, 3, 1},
    {1, 1, 3, 1, 2, 3}, {1, 1, 3, 3, 2, 1}, {1, 3, 3, 1, 2, 1},
    {3, 1, 3, 1, 2, 1}, {2, 1, 1, 3, 3, 1}, {2, 3, 1, 1, 3, 1},
    {2, 1, 3, 1, 1, 3}, {2, 1, 3, 3, 1, 1}, {2, 1, 3, 1, 3, 1},
    {3, 1, 1, 1, 2, 3}, {3, 1, 1, 3, 2, 1}, {3, 3, 1, 1, 2, 1},
    {3, 1, 2, 1, 1, 3}, {3, 1, 2, 3, 1, 1}, {3, 3, 2, 1, 1, 1},
    {3, 1, 4, 1, 1, 1}, {2, 2, 1, 4, 1, 1}, {4, 3, 1, 1, 1, 1},
    {1, 1, 1, 2, 2, 4}, {1, 1, 1, 4, 2, 2}, {1, 2, 1, 1, 2, 4},
    {1, 2, 1, 4, 2, 1}, {1, 4, 1, 1, 2, 2}, {1, 4, 1, 2, 2, 1},
    {1, 1, 2, 2, 1, 4}, {1, 1, 2, 4, 1, 2}, {1, 2, 2, 1, 1, 4},
    {1, 2, 2, 4, 1, 1}, {1, 4, 2, 1, 1, 2}, {1, 4, 2, 2, 1, 1},
    {2, 4, 1, 2, 1, 1}, {2, 2, 1, 1, 1, 4}, {4, 1, 3, 1, 1, 1},
    {2, 4, 1, 1, 1, 2}, {1, 3, 4, 1, 1, 1}, {1, 1, 1, 2, 4, 2},
    {1, 2, 1, 1, 4, 2}, {1, 2, 1, 2, 4, 1}, {1, 1, 4, 2, 1, 2},
    {1, 2, 4, 1, 1, 2}, {1, 2, 4, 2, 1, 1}, {4, 1, 1, 2, 1, 2},
    {4, 2, 1, 1, 1, 2}, {4, 2, 1, 2, 1, 1}, {2, 1, 2, 1, 4, 1},
    {2, 1, 4, 1, 2, 1}, {4, 1, 2, 1, 2, 1}, {1, 1, 1, 1, 4, 3},
    {1, 1, 1, 3, 4, 1}, {1, 3, 1, 1, 4, 1}, {1, 1, 4, 1, 1, 3},
    {1, 1, 4, 3, 1, 1}, {4, 1, 1, 1, 1, 3}, {4, 1, 1, 3, 1, 1},
    {1, 1, 3, 1, 4, 1}, {1, 1, 4, 1, 3, 1}, {3, 1, 1, 1, 4, 1},
    {4, 1, 1, 1, 3, 1}, {2, 1, 1, 4, 1, 2}, {2, 1, 1, 2, 1, 4},
    {2, 1, 1, 2, 3, 2}, {2, 3, 3, 1, 1, 1},
};
static_assert(std::size(Code128Patterns) == 107,
              "values 0 to 105 and the stop character");

constexpr bool EveryRowSpansElevenModules() {
  for (const auto &row : Code128Patterns) {
    int sum = 0;
    for (std::uint8_t w : row)
      sum += w;
    if (sum != 11)
      return false;
  }
  return true;
}
static_assert(EveryRowSpansElevenModules(), "every character is 11 modules");

// Set C carries an even number of digits: an odd text is padded in front.
std::string PaddedToEvenLength(const std::string &text) {
  return text.size() % 2 == 0 ? text : "0" + text;
}

} // namespace

bool CBarcodeSymCode128::HasCode128Values(std::string_view text) {
  for (char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < ValueOffset || b > LastSpecialByte)
      return false;
  }
  return true;
}

bool CBarcodeSymCode128::IsTextValid() {
  return HasText() && HasCode128Values(Settings.BarText) &&
         (Settings.Code128CharSet != SetC || IsAllDigits(Settings.BarText));
}

void CBarcodeSymCode128::BuildCodeChars() {
  if (Settings.Code128CharSet == SetC) {
    const std::string padded = PaddedToEvenLength(Settings.BarText);
    SetCodeChars(padded.begin(), padded.end());
  } else {
    SetCodeChars(Settings.BarText.begin(), Settings.BarText.end());
  }
}

void CBarcodeSymCode128::BuildDisplayText() {
  Settings.DisplayText = Settings.Code128CharSet == SetC
                             ? PaddedToEvenLength(Settings.BarText)
                             : Settings.BarText;
  if (Settings.ShowCheck)
    Settings.DisplayText.push_back(static_cast<char>(CheckValue + ValueOffset));
}

std::uint8_t CBarcodeSymCode128::Code128Checksum(const Values &values) {
  if (values.empty())
    return 0;
  // Modulo-103 sum, the start character weighted 1 like the first data
  // character; reduced at every step so that no length can overflow.
  std::uint64_t sum = values[0];
  for (std::size_t i = 1; i < values.size(); ++i)
    sum = (sum + (i % 103) * values[i]) % 103;
  return static_cast<std::uint8_t>(sum % 103);
}

bool CBarcodeSymCode128::StartValues(Values &values) {
  CheckValue = 0;
  if (!PrepareEncode())
    return false;
  values.clear();
  values.reserve(Settings.CodeChars.size() + 10);
  return true;
}

void CBarcodeSymCode128::FinishSymbol(Values &values) {
  CheckValue = Code128Checksum(values);
  values.push_back(CheckValue);
  AppendSymbolPattern(values);
  BuildDisplayText();
}

bool CBarcodeSymCode128::Encode() {
  Values values;
  if (!StartValues(values))
    return false;
  const std::vector<std::uint8_t> &chars = Settings.CodeChars;
  switch (Settings.Code128CharSet) {
  case AutoSet:
    EncodeAuto(values);
    break;
  case SetA:
  case SetB:
    AppendRunAB(Settings.Code128CharSet, values, chars.data(), chars.size(),
                true);
    break;
  case SetC:
    AppendRunC(values, chars.data(), chars.size(), true);
    break;
  default:
    return false;
  }
  FinishSymbol(values);
  return true;
}

void CBarcodeSymCode128::EncodeAuto(Values &values) const {
  const std::vector<std::uint8_t> &chars = Settings.CodeChars;
  int current = SetC;
  std::size_t position = 0;
  std::size_t left = chars.size();
  while (left > 0) {
    int set = SetB;
    std::size_t length = 1;
    ChooseRun(current, chars.data() + position, left, set, length);
    left -= length;
    if (set != current || values.empty()) {
      AppendSetCode(values, set);
      current = set;
    }
    if (set == SetC)
      AppendRunC(values, chars.data() + position, length, false);
    else
      AppendRunAB(SetB, values, chars.data() + position, length, false);
    position += length;
  }
}

void CBarcodeSymCode128::ChooseRun(int currentSet, const std::uint8_t *bytes,
                                   std::size_t count, int &set,
                                   std::size_t &length) {
  // Set C pays off for four digits or more; a shorter digit run stays in C
  // only when C is already current, as at the very start.
  if (CountDigitPairs(bytes, count, length)) {
    set = SetC;
    return;
  }
  if (currentSet == SetC && FitsSetC(bytes, count, length)) {
    set = SetC;
    return;
  }
  set = SetB;
  length = 1;
}

bool CBarcodeSymCode128::CountDigitPairs(const std::uint8_t *bytes,
                                         std::size_t count,
                                         std::size_t &length) {
  std::size_t digits = 0;
  while (digits < count && IsDigit(bytes[digits]))
    ++digits;
  length = digits - digits % 2;
  return digits >= 4;
}

bool CBarcodeSymCode128::FitsSetC(const std::uint8_t *bytes, std::size_t count,
                                  std::size_t &length) {
  // CODE B, CODE A and FNC1 exist in set C as well.
  if (count >= 1 && IsSetCFunctionByte(bytes[0])) {
    length = 1;
    return true;
  }
  if (count >= 2 && IsDigit(bytes[0]) && IsDigit(bytes[1])) {
    length = 2;
    return true;
  }
  return false;
}

void CBarcodeSymCode128::AppendSetCode(Values &values, int newSet) {
  if (values.empty()) {
    values.push_back(newSet == SetA   ? StartA
                     : newSet == SetB ? StartB
                                      : StartC);
    return;
  }
  values.push_back(newSet == SetA ? CodeA : newSet == SetB ? CodeB : CodeC);
}

bool CBarcodeSymCode128::AppendRunAB(int set, Values &values,
                                     const std::uint8_t *bytes,
                                     std::size_t count, bool withStart) {
  if (bytes == nullptr || count == 0)
    return false;
  if (withStart)
    values.push_back(set == SetA ? StartA : StartB);
  // Sets A and B share the value of a byte: in set A the values 64 to 95 are
  // the control characters, so a forced set A turns lower case into them.
  for (std::size_t i = 0; i < count; ++i)
    values.push_back(static_cast<std::uint8_t>(bytes[i] - ValueOffset));
  return true;
}

bool CBarcodeSymCode128::AppendRunC(Values &values, const std::uint8_t *bytes,
                                    std::size_t count, bool withStart) {
  if (bytes == nullptr)
    return false;
  if (withStart)
    values.push_back(StartC);
  if (count == 1 && IsSetCFunctionByte(bytes[0])) {
    values.push_back(static_cast<std::uint8_t>(bytes[0] - ValueOffset));
    return true;
  }
  if (count == 0 || count % 2 != 0)
    return false;
  for (std::size_t i = 0; i < count; i += 2)
    values.push_back(static_cast<std::uint8_t>(DigitValue(bytes[i]) * 10 +
                                               DigitValue(bytes[i + 1])));
  return true;
}

void CBarcodeSymCode128::AppendValuePattern(int value, bool &bar) {
  if (value < 0 || value > Stop)
    return;
  AppendRow(Elements, Code128Patterns[value], bar);
}

void CBarcodeSymCode128::AppendSymbolPattern(const Values &values) {
  bool bar = true;
  for (std::uint8_t value : values)
    AppendValuePattern(value, bar);
  AppendValuePattern(Stop, bar);
  Elements.push_back(Bar2); // termination bar
}

} // namespace strixel
