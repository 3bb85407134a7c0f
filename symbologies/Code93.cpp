#include "symbologies/Code93.h"

#include <string>

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

struct Code93ExtEntry {
  std::uint8_t First;
  std::uint8_t Second; // 0: the byte takes one character only
};

// AIM USS Code 93 full ASCII table: the character values of every byte 0 to
// 127; 43 ($), 44 (%), 45 (/) and 46 (+) are the shift characters.
constexpr Code93ExtEntry Code93ExtMap[] = {
    {44, 30}, {43, 10}, {43, 11}, {43, 12}, // 0-3
    {43, 13}, {43, 14}, {43, 15}, {43, 16}, // 4-7
    {43, 17}, {43, 18}, {43, 19}, {43, 20}, // 8-11
    {43, 21}, {43, 22}, {43, 23}, {43, 24}, // 12-15
    {43, 25}, {43, 26}, {43, 27}, {43, 28}, // 16-19
    {43, 29}, {43, 30}, {43, 31}, {43, 32}, // 20-23
    {43, 33}, {43, 34}, {43, 35}, {44, 10}, // 24-27
    {44, 11}, {44, 12}, {44, 13}, {44, 14}, // 28-31
    {38, 0},  {45, 10}, {45, 11}, {45, 12}, // 32-35: space ! " #
    {39, 0},  {42, 0},  {45, 15}, {45, 16}, // 36-39: $ % & '
    {45, 17}, {45, 18}, {45, 19}, {41, 0},  // 40-43: ( ) * +
    {45, 21}, {36, 0},  {37, 0},  {40, 0},  // 44-47: , - . /
    {0, 0},   {1, 0},   {2, 0},   {3, 0},   // 48-51
    {4, 0},   {5, 0},   {6, 0},   {7, 0},   // 52-55
    {8, 0},   {9, 0},   {45, 35}, {44, 15}, // 56-59: 8 9 : ;
    {44, 16}, {44, 17}, {44, 18}, {44, 19}, // 60-63: < = > ?
    {44, 31}, {10, 0},  {11, 0},  {12, 0},  // 64-67
    {13, 0},  {14, 0},  {15, 0},  {16, 0},  // 68-71
    {17, 0},  {18, 0},  {19, 0},  {20, 0},  // 72-75
    {21, 0},  {22, 0},  {23, 0},  {24, 0},  // 76-79
    {25, 0},  {26, 0},  {27, 0},  {28, 0},  // 80-83
    {29, 0},  {30, 0},  {31, 0},  {32, 0},  // 84-87
    {33, 0},  {34, 0},  {35, 0},  {44, 20}, // 88-91: X Y Z [
    {44, 21}, {44, 22}, {44, 23}, {44, 24}, // 92-95
    {44, 32}, {46, 10}, {46, 11}, {46, 12}, // 96-99
    {46, 13}, {46, 14}, {46, 15}, {46, 16}, // 100-103
    {46, 17}, {46, 18}, {46, 19}, {46, 20}, // 104-107
    {46, 21}, {46, 22}, {46, 23}, {46, 24}, // 108-111
    {46, 25}, {46, 26}, {46, 27}, {46, 28}, // 112-115
    {46, 29}, {46, 30}, {46, 31}, {46, 32}, // 116-119
    {46, 33}, {46, 34}, {46, 35}, {44, 25}, // 120-123
    {44, 26}, {44, 27}, {44, 28}, {44, 29}, // 124-127
};
static_assert(std::size(Code93ExtMap) == 128, "one entry per ASCII byte");

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
  for (std::uint8_t byte : Settings.CodeChars) {
    if (byte >= std::size(Code93ExtMap))
      continue;
    const Code93ExtEntry &entry = Code93ExtMap[byte];
    values.push_back(entry.First);
    if (entry.Second != 0)
      values.push_back(entry.Second);
  }
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
