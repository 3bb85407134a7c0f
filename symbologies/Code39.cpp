#include "symbologies/Code39.h"

#include <array>
#include <string>

#include "engine/Digits.h"

namespace strixel {

namespace {

struct Code39Row {
  char Character;       // 0 for the start/stop character
  std::uint8_t Wide[9]; // bar, space, ..., bar: 0 narrow, 1 wide
};

// ISO/IEC 16388 Code 39 character set, narrow and wide; the row is the value.
static constexpr std::array<Code39Row, 44> Code39Patterns = {{
    {'0', {0, 0, 0, 1, 1, 0, 1, 0, 0}}, // 0
    {'1', {1, 0, 0, 1, 0, 0, 0, 0, 1}}, // 1
    {'2', {0, 0, 1, 1, 0, 0, 0, 0, 1}}, // 2
    {'3', {1, 0, 1, 1, 0, 0, 0, 0, 0}}, // 3
    {'4', {0, 0, 0, 1, 1, 0, 0, 0, 1}}, // 4
    {'5', {1, 0, 0, 1, 1, 0, 0, 0, 0}}, // 5
    {'6', {0, 0, 1, 1, 1, 0, 0, 0, 0}}, // 6
    {'7', {0, 0, 0, 1, 0, 0, 1, 0, 1}}, // 7
    {'8', {1, 0, 0, 1, 0, 0, 1, 0, 0}}, // 8
    {'9', {0, 0, 1, 1, 0, 0, 1, 0, 0}}, // 9
    {'A', {1, 0, 0, 0, 0, 1, 0, 0, 1}}, // 10
    {'B', {0, 0, 1, 0, 0, 1, 0, 0, 1}}, // 11
    {'C', {1, 0, 1, 0, 0, 1, 0, 0, 0}}, // 12
    {'D', {0, 0, 0, 0, 1, 1, 0, 0, 1}}, // 13
    {'E', {1, 0, 0, 0, 1, 1, 0, 0, 0}}, // 14
    {'F', {0, 0, 1, 0, 1, 1, 0, 0, 0}}, // 15
    {'G', {0, 0, 0, 0, 0, 1, 1, 0, 1}}, // 16
    {'H', {1, 0, 0, 0, 0, 1, 1, 0, 0}}, // 17
    {'I', {0, 0, 1, 0, 0, 1, 1, 0, 0}}, // 18
    {'J', {0, 0, 0, 0, 1, 1, 1, 0, 0}}, // 19
    {'K', {1, 0, 0, 0, 0, 0, 0, 1, 1}}, // 20
    {'L', {0, 0, 1, 0, 0, 0, 0, 1, 1}}, // 21
    {'M', {1, 0, 1, 0, 0, 0, 0, 1, 0}}, // 22
    {'N', {0, 0, 0, 0, 1, 0, 0, 1, 1}}, // 23
    {'O', {1, 0, 0, 0, 1, 0, 0, 1, 0}}, // 24
    {'P', {0, 0, 1, 0, 1, 0, 0, 1, 0}}, // 25
    {'Q', {0, 0, 0, 0, 0, 0, 1, 1, 1}}, // 26
    {'R', {1, 0, 0, 0, 0, 0, 1, 1, 0}}, // 27
    {'S', {0, 0, 1, 0, 0, 0, 1, 1, 0}}, // 28
    {'T', {0, 0, 0, 0, 1, 0, 1, 1, 0}}, // 29
    {'U', {1, 1, 0, 0, 0, 0, 0, 0, 1}}, // 30
    {'V', {0, 1, 1, 0, 0, 0, 0, 0, 1}}, // 31
    {'W', {1, 1, 1, 0, 0, 0, 0, 0, 0}}, // 32
    {'X', {0, 1, 0, 0, 1, 0, 0, 0, 1}}, // 33
    {'Y', {1, 1, 0, 0, 1, 0, 0, 0, 0}}, // 34
    {'Z', {0, 1, 1, 0, 1, 0, 0, 0, 0}}, // 35
    {'-', {0, 1, 0, 0, 0, 0, 1, 0, 1}}, // 36
    {'.', {1, 1, 0, 0, 0, 0, 1, 0, 0}}, // 37
    {' ', {0, 1, 1, 0, 0, 0, 1, 0, 0}}, // 38
    {'$', {0, 1, 0, 1, 0, 1, 0, 0, 0}}, // 39
    {'/', {0, 1, 0, 1, 0, 0, 0, 1, 0}}, // 40
    {'+', {0, 1, 0, 0, 0, 1, 0, 1, 0}}, // 41
    {'%', {0, 0, 0, 1, 0, 1, 0, 1, 0}}, // 42
    {0, {0, 1, 0, 0, 1, 0, 1, 0, 0}},   // 43: start/stop
}};
static_assert(Code39Patterns.size() ==
                  CBarcodeSymCode39::DataCharacterCount + 1,
              "43 data characters and the start/stop character");

// ISO/IEC 16388 full ASCII table: the Code 39 characters of every byte.
static constexpr std::array<const char *, 128> Code39ExtMap = {{
    "%U", "$A", "$B", "$C", "$D", "$E", "$F", "$G", // 0-7
    "$H", "$I", "$J", "$K", "$L", "$M", "$N", "$O", // 8-15
    "$P", "$Q", "$R", "$S", "$T", "$U", "$V", "$W", // 16-23
    "$X", "$Y", "$Z", "%A", "%B", "%C", "%D", "%E", // 24-31
    " ",  "/A", "/B", "/C", "/D", "/E", "/F", "/G", // 32-39
    "/H", "/I", "/J", "/K", "/L", "-",  ".",  "/O", // 40-47
    "0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  // 48-55
    "8",  "9",  "/Z", "%F", "%G", "%H", "%I", "%J", // 56-63
    "%V", "A",  "B",  "C",  "D",  "E",  "F",  "G",  // 64-71
    "H",  "I",  "J",  "K",  "L",  "M",  "N",  "O",  // 72-79
    "P",  "Q",  "R",  "S",  "T",  "U",  "V",  "W",  // 80-87
    "X",  "Y",  "Z",  "%K", "%L", "%M", "%N", "%O", // 88-95
    "%W", "+A", "+B", "+C", "+D", "+E", "+F", "+G", // 96-103
    "+H", "+I", "+J", "+K", "+L", "+M", "+N", "+O", // 104-111
    "+P", "+Q", "+R", "+S", "+T", "+U", "+V", "+W", // 112-119
    "+X", "+Y", "+Z", "%P", "%Q", "%R", "%S", "%T", // 120-127
}};
static_assert(Code39ExtMap.size() == 128, "one entry per ASCII byte");

constexpr char StartStopCharacter = '*';

// The check character of Code 39 is the sum of the character values modulo
// 43; the start character (value 43) adds nothing to it.
std::uint8_t Modulo43Sum(const std::vector<std::uint8_t> &values) {
  unsigned sum = 0;
  for (std::uint8_t v : values)
    sum = (sum + v) % 43;
  return static_cast<std::uint8_t>(sum);
}

} // namespace

bool CBarcodeSymCode39::LookUpCharacter(std::uint8_t byte,
                                        std::uint8_t &value) {
  for (std::uint8_t i = 0; i < DataCharacterCount; ++i) {
    if (static_cast<std::uint8_t>(Code39Patterns[i].Character) == byte) {
      value = i;
      return true;
    }
  }
  return false;
}

char CBarcodeSymCode39::CharacterOf(std::uint8_t value) {
  return value < DataCharacterCount ? Code39Patterns[value].Character : '\0';
}

bool CBarcodeSymCode39::IsDataText(std::string_view text) {
  if (text.empty())
    return false;
  std::uint8_t value = 0;
  for (char c : text)
    if (!LookUpCharacter(static_cast<std::uint8_t>(c), value))
      return false;
  return true;
}

bool CBarcodeSymCode39::IsTextValid() {
  return IsDataText(Settings.BarText);
}

void CBarcodeSymCode39::AppendCharacterPattern(std::uint8_t value) {
  const Code39Row &row = Code39Patterns[value];
  for (int i = 0; i < 9; ++i) {
    bool bar = i % 2 == 0;
    if (row.Wide[i])
      AppendElement(bar ? WideBar : WideSpace);
    else
      AppendElement(bar ? Bar1 : Space1);
  }
}

bool CBarcodeSymCode39::EncodeCharacters(std::string_view chars,
                                         std::size_t reserve) {
  std::vector<std::uint8_t> values;
  values.reserve(reserve);
  values.push_back(StartStopValue);
  for (char c : chars) {
    std::uint8_t value = 0;
    if (!LookUpCharacter(static_cast<std::uint8_t>(c), value)) {
      // Never reached after IsTextValid; refuse to draw a partial symbol.
      TextValid = false;
      return false;
    }
    values.push_back(value);
  }
  if (Settings.CalcCheck) {
    CheckValue = Modulo43Sum(values);
    values.push_back(CheckValue);
  }
  values.push_back(StartStopValue);

  // Characters are separated by a narrow inter-character gap; none follows
  // the stop character.
  for (std::uint8_t value : values) {
    AppendCharacterPattern(value);
    AppendElement(Space1);
  }
  Elements.pop_back();

  BuildDisplayText();
  return true;
}

bool CBarcodeSymCode39::Encode() {
  if (!PrepareEncode())
    return false;
  const std::vector<std::uint8_t> &chars = Settings.CodeChars;
  std::string_view text(reinterpret_cast<const char *>(chars.data()),
                        chars.size());
  return EncodeCharacters(text, chars.size() + 10);
}

void CBarcodeSymCode39::AppendShownCheck(std::string &text) const {
  if (Settings.CalcCheck && Settings.ShowCheck)
    text.push_back(CharacterOf(CheckValue));
}

void CBarcodeSymCode39::BuildDisplayText() {
  std::string text;
  if (Settings.ShowStSt)
    text.push_back(StartStopCharacter);
  text += Settings.BarText;
  AppendShownCheck(text);
  if (Settings.ShowStSt)
    text.push_back(StartStopCharacter);
  Settings.DisplayText = std::move(text);
}

bool CBarcodeSymCode39Ext::IsFullAsciiText(std::string_view text) {
  if (text.empty())
    return false;
  for (char c : text) {
    auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x20 || byte > 0x7F)
      return false;
  }
  return true;
}

bool CBarcodeSymCode39Ext::IsTextValid() {
  return IsFullAsciiText(Settings.BarText);
}

void ParseTildeEscapes(std::string_view text,
                       std::vector<std::uint8_t> &codeChars,
                       std::uint8_t lowest, std::uint8_t highest) {
  codeChars.clear();
  codeChars.reserve(text.size() + 10);
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    std::size_t following = text.size() - i - 1;
    if (c != '~' || following == 0) {
      codeChars.push_back(static_cast<std::uint8_t>(c));
      ++i;
      continue;
    }
    if (text[i + 1] == '~') {
      codeChars.push_back('~');
      i += 2;
      continue;
    }
    int high = following >= 2 ? HexDigit(text[i + 1]) : -1;
    int low = following >= 2 ? HexDigit(text[i + 2]) : -1;
    if (high >= 0 && low >= 0) {
      int byte = high * 16 + low;
      if (byte >= lowest && byte <= highest)
        codeChars.push_back(static_cast<std::uint8_t>(byte));
      i += 3;
      continue;
    }
    codeChars.push_back('~');
    ++i;
  }
}

void CBarcodeSymCode39Ext::BuildCodeChars() {
  ParseTildeEscapes(Settings.BarText, Settings.CodeChars, 0, 127);
}

bool CBarcodeSymCode39Ext::Encode() {
  if (!PrepareEncode())
    return false;
  const std::vector<std::uint8_t> &chars = Settings.CodeChars;
  std::string expanded;
  expanded.reserve(2 * chars.size());
  for (std::uint8_t byte : chars)
    if (byte < Code39ExtMap.size())
      expanded += Code39ExtMap[byte];
  return EncodeCharacters(expanded, 2 * chars.size() + 3);
}

void CBarcodeSymCode39Ext::BuildDisplayText() {
  std::string text;
  if (Settings.ShowStSt)
    text.push_back(StartStopCharacter);
  std::string shown;
  CharsToDisplayText(Settings.CodeChars, shown, Settings.NonPrintingToTxt);
  text += shown;
  AppendShownCheck(text);
  if (Settings.ShowStSt)
    text.push_back(StartStopCharacter);
  Settings.DisplayText = std::move(text);
}

} // namespace strixel
