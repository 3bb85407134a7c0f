#include "symbologies/Code93.h"

#include <cstring>
#include <string>
#include <string_view>

#include "symbologies/Code39.h"
#include "symbologies/PatternRows.h"

namespace strixel {

namespace {

// AIM USS Code 93 character set: bar, space, bar, space, bar, space widths.
constexpr CharacterRow<6> Code93Patterns[] = {
    {'0', {1, 3, 1, 1, 1, 2}}, // 0
    {'1', {1, 1, 1, 2, 1, 3}}, // 1
    {'2', {1, 1, 1, 3, 1, 2}}, // 2
    {'3', {1, 1, 1, 4, 1, 1}}, // 3
    {'4', {1, 2, 1, 1, 1, 3}}, // 4
    {'5', {1, 2, 1, 2, 1, 2}}, // 5
    {'6', {1, 2, 1, 3, 1, 1}}, // 6
    {'7', {1, 1, 1, 1, 1, 4}}, // 7
    {'8', {1, 3, 1, 2, 1, 1}}, // 8
    {'9', {1, 4, 1, 1, 1, 1}}, // 9
    {'A', {2, 1, 1, 1, 1, 3}}, // 10
    {'B', {2, 1, 1, 2, 1, 2}}, // 11
    {'C', {2, 1, 1, 3, 1, 1}}, // 12
    {'D', {2, 2, 1, 1, 1, 2}}, // 13
    {'E', {2, 2, 1, 2, 1, 1}}, // 14
    {'F', {2, 3, 1, 1, 1, 1}}, // 15
    {'G', {1, 1, 2, 1, 1, 3}}, // 16
    {'H', {1, 1, 2, 2, 1, 2}}, // 17
    {'I', {1, 1, 2, 3, 1, 1}}, // 18
    {'J', {1, 2, 2, 1, 1, 2}}, // 19
    {'K', {1, 3, 2, 1, 1, 1}}, // 20
    {'L', {1, 1, 1, 1, 2, 3}}, // 21
    {'M', {1, 1, 1, 2, 2, 2}}, // 22
    {'N', {1, 1, 1, 3, 2, 1}}, // 23
    {'O', {1, 2, 1, 1, 2, 2}}, // 24
    {'P', {1, 3, 1, 1, 2, 1}}, // 25
    {'Q', {2, 1, 2, 1, 1, 2}}, // 26
    {'R', {2, 1, 2, 2, 1, 1}}, // 27
    {'S', {2, 1, 1, 1, 2, 2}}, // 28
    {'T', {2, 1, 1, 2, 2, 1}}, // 29
    {'U', {2, 2, 1, 1, 2, 1}}, // 30
    {'V', {2, 2, 2, 1, 1, 1}}, // 31
    {'W', {1, 1, 2, 1, 2, 2}}, // 32
    {'X', {1, 1, 2, 2, 2, 1}}, // 33
    {'Y', {1, 2, 2, 1, 2, 1}}, // 34
    {'Z', {1, 2, 3, 1, 1, 1}}, // 35
    {'-', {1, 2, 1, 1, 3, 1}}, // 36
    {'.', {3, 1, 1, 1, 1, 2}}, // 37
    {' ', {3, 1, 1, 2, 1, 1}}, // 38
    {'$', {3, 2, 1, 1, 1, 1}}, // 39
    {'/', {1, 1, 2, 1, 3, 1}}, // 40
    {'+', {1, 1, 3, 1, 2, 1}}, // 41
    {'%', {2, 1, 1, 1, 3, 1}}, // 42
    {'$', {1, 2, 1, 2, 2, 1}}, // 43: shift ($)
    {'%', {3, 1, 2, 1, 1, 1}}, // 44: shift (%)
    {'/', {3, 1, 1, 1, 2, 1}}, // 45: shift (/)
    {'+', {1, 2, 2, 2, 1, 1}}, // 46: shift (+)
    {0, {1, 1, 1, 1, 4, 1}},   // 47: start
    {0, {1, 1, 1, 1, 4, 1}},   // 48: stop
};
static_assert(std::size(Code93Patterns) == CBarcodeSymCode93::StopValue + 1,
              "43 data characters, 4 shifts, start and stop");

// Code 93's full ASCII table is that of Code 39 (Code39FullAscii) read in
// Code 93 characters: a pair is a shift character, ($), (%), (/) or (+),
// written as its sign, and a data character. Only "$", "%", "+" and "/",
// which Code 39 writes as pairs, are data characters of Code 93 and stand
// for themselves.
constexpr char OwnDataCharacters[] = "$%+/";

// The place of a shift sign among ($), (%), (/) and (+), the values after
// the data characters.
int ShiftIndex(char sign) {
  constexpr char ShiftSigns[] = "$%/+";
  return static_cast<int>(std::strchr(ShiftSigns, sign) - ShiftSigns);
}

// Appends the Code 93 values of a byte 0 to 127; nothing for a byte above.
void AppendFullAsciiValues(std::uint8_t byte,
                           std::vector<std::uint8_t> &values) {
  const char own[] = {static_cast<char>(byte), '\0'};
  const bool isOwn = byte != 0 && std::strchr(OwnDataCharacters, byte);
  const char *entry = isOwn ? own : Code39FullAscii(byte);
  if (entry[0] == '\0')
    return;
  if (entry[1] != '\0')
    values.push_back(static_cast<std::uint8_t>(CBarcodeSymCode93::ShiftDollar +
                                               ShiftIndex(*entry++)));
  FindCharacters(Code93Patterns, CBarcodeSymCode93::DataCharacterCount,
                 std::string_view(entry), values);
}

// Weights of the check characters run 1, 2, ... from the last value back and
// start again at 1 after this many values.
constexpr unsigned CheckCWeightLimit = 20;
constexpr unsigned CheckKWeightLimit = 15;

} // namespace

std::uint8_t
CBarcodeSymCode93::Code93CheckValue(const std::vector<std::uint8_t> &values,
                                    bool isC) {
  unsigned limit = isC ? CheckCWeightLimit : CheckKWeightLimit;
  unsigned weight = 1;
  unsigned sum = 0;
  for (auto it = values.rbegin(); it != values.rend(); ++it) {
    sum = (sum + weight * *it) % 47;
    weight = weight == limit ? 1 : weight + 1;
  }
  return static_cast<std::uint8_t>(sum);
}

char CBarcodeSymCode93::CharacterOf(std::uint8_t value) {
  return value < StartValue ? Code93Patterns[value].Character : '\0';
}

bool CBarcodeSymCode93::IsTextValid() {
  return IsTextOfCharacters(Code93Patterns, DataCharacterCount,
                            Settings.BarText);
}

std::vector<std::uint8_t> CBarcodeSymCode93::StartValues() const {
  std::vector<std::uint8_t> values;
  values.reserve(Settings.CodeChars.size() + 10);
  values.push_back(StartValue);
  return values;
}

void CBarcodeSymCode93::EncodeValues(std::vector<std::uint8_t> &values) {
  // Both check characters are mandatory in Code 93; K covers C as well.
  CheckC = Code93CheckValue(values, true);
  values.push_back(CheckC);
  CheckK = Code93CheckValue(values, false);
  values.push_back(CheckK);
  values.push_back(StopValue);
  // Characters follow each other without a gap.
  for (std::uint8_t value : values)
    AppendRow(Elements, Code93Patterns[value].Widths);
  // The stop character ends in a space; the termination bar closes it.
  AppendElement(Bar1);
  BuildDisplayText();
}

bool CBarcodeSymCode93::Encode() {
  if (!PrepareEncode())
    return false;
  std::vector<std::uint8_t> values = StartValues();
  if (!FindCharacters(Code93Patterns, DataCharacterCount, Settings.CodeChars,
                      values)) {
    // Never reached after IsTextValid; refuse to draw a partial symbol.
    TextValid = false;
    return false;
  }
  EncodeValues(values);
  return true;
}

void CBarcodeSymCode93::AppendShownChecks(std::string &text) const {
  if (!Settings.ShowCheck)
    return;
  text.push_back(CharacterOf(CheckC));
  text.push_back(CharacterOf(CheckK));
}

void CBarcodeSymCode93::BuildDisplayText() {
  std::string text = Settings.BarText;
  AppendShownChecks(text);
  Settings.DisplayText = std::move(text);
}

// Code 93 Extended

bool CBarcodeSymCode93Ext::IsTextValid() {
  return CBarcodeSymCode39Ext::IsFullAsciiText(Settings.BarText);
}

void CBarcodeSymCode93Ext::BuildCodeChars() {
  ParseTildeEscapes(Settings.BarText, Settings.CodeChars, 0, 127);
}

bool CBarcodeSymCode93Ext::Encode() {
  if (!PrepareEncode())
    return false;
  std::vector<std::uint8_t> values = StartValues();
  for (std::uint8_t byte : Settings.CodeChars)
    AppendFullAsciiValues(byte, values);
  EncodeValues(values);
  return true;
}

void CBarcodeSymCode93Ext::BuildDisplayText() {
  std::string text;
  CharsToDisplayText(Settings.CodeChars, text, Settings.NonPrintingToTxt);
  AppendShownChecks(text);
  Settings.DisplayText = std::move(text);
}

} // namespace strixel
