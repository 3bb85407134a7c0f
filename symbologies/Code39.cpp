#include "symbologies/Code39.h"

#include "engine/Digits.h"
#include "symbologies/PatternRows.h"

namespace strixel {

namespace {

using namespace NarrowWide;

// ISO/IEC 16388 Code 39 character set: bar, space, ..., bar, narrow or wide.
constexpr CharacterRow<9> Code39Patterns[] = {
    {'0', {N, N, N, W, W, N, W, N, N}}, // 0
    {'1', {W, N, N, W, N, N, N, N, W}}, // 1
    {'2', {N, N, W, W, N, N, N, N, W}}, // 2
    {'3', {W, N, W, W, N, N, N, N, N}}, // 3
    {'4', {N, N, N, W, W, N, N, N, W}}, // 4
    {'5', {W, N, N, W, W, N, N, N, N}}, // 5
    {'6', {N, N, W, W, W, N, N, N, N}}, // 6
    {'7', {N, N, N, W, N, N, W, N, W}}, // 7
    {'8', {W, N, N, W, N, N, W, N, N}}, // 8
    {'9', {N, N, W, W, N, N, W, N, N}}, // 9
    {'A', {W, N, N, N, N, W, N, N, W}}, // 10
    {'B', {N, N, W, N, N, W, N, N, W}}, // 11
    {'C', {W, N, W, N, N, W, N, N, N}}, // 12
    {'D', {N, N, N, N, W, W, N, N, W}}, // 13
    {'E', {W, N, N, N, W, W, N, N, N}}, // 14
    {'F', {N, N, W, N, W, W, N, N, N}}, // 15
    {'G', {N, N, N, N, N, W, W, N, W}}, // 16
    {'H', {W, N, N, N, N, W, W, N, N}}, // 17
    {'I', {N, N, W, N, N, W, W, N, N}}, // 18
    {'J', {N, N, N, N, W, W, W, N, N}}, // 19
    {'K', {W, N, N, N, N, N, N, W, W}}, // 20
    {'L', {N, N, W, N, N, N, N, W, W}}, // 21
    {'M', {W, N, W, N, N, N, N, W, N}}, // 22
    {'N', {N, N, N, N, W, N, N, W, W}}, // 23
    {'O', {W, N, N, N, W, N, N, W, N}}, // 24
    {'P', {N, N, W, N, W, N, N, W, N}}, // 25
    {'Q', {N, N, N, N, N, N, W, W, W}}, // 26
    {'R', {W, N, N, N, N, N, W, W, N}}, // 27
    {'S', {N, N, W, N, N, N, W, W, N}}, // 28
    {'T', {N, N, N, N, W, N, W, W, N}}, // 29
    {'U', {W, W, N, N, N, N, N, N, W}}, // 30
    {'V', {N, W, W, N, N, N, N, N, W}}, // 31
    {'W', {W, W, W, N, N, N, N, N, N}}, // 32
    {'X', {N, W, N, N, W, N, N, N, W}}, // 33
    {'Y', {W, W, N, N, W, N, N, N, N}}, // 34
    {'Z', {N, W, W, N, W, N, N, N, N}}, // 35
    {'-', {N, W, N, N, N, N, W, N, W}}, // 36
    {'.', {W, W, N, N, N, N, W, N, N}}, // 37
    {' ', {N, W, W, N, N, N, W, N, N}}, // 38
    {'$', {N, W, N, W, N, W, N, N, N}}, // 39
    {'/', {N, W, N, W, N, N, N, W, N}}, // 40
    {'+', {N, W, N, N, N, W, N, W, N}}, // 41
    {'%', {N, N, N, W, N, W, N, W, N}}, // 42
    {0, {N, W, N, N, W, N, W, N, N}},   // 43: start/stop
};
static_assert(std::size(Code39Patterns) ==
                  CBarcodeSymCode39::DataCharacterCount + 1,
              "43 data characters and the start/stop character");

// ISO/IEC 16388 full ASCII table: the Code 39 characters of every byte.
constexpr const char *Code39ExtMap[] = {
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
};
static_assert(std::size(Code39ExtMap) == 128, "one entry per ASCII byte");

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

char CBarcodeSymCode39::CharacterOf(std::uint8_t value) {
  return value < DataCharacterCount ? Code39Patterns[value].Character : '\0';
}

bool CBarcodeSymCode39::IsTextValid() {
  return IsTextOfCharacters(Code39Patterns, DataCharacterCount,
                            Settings.BarText);
}

bool CBarcodeSymCode39::EncodeCharacters(std::string_view chars,
                                         std::size_t reserve) {
  std::vector<std::uint8_t> values;
  values.reserve(reserve);
  values.push_back(StartStopValue);
  if (!FindCharacters(Code39Patterns, DataCharacterCount, chars, values)) {
    // Never reached after IsTextValid; refuse to draw a partial symbol.
    TextValid = false;
    return false;
  }
  if (Settings.CalcCheck) {
    CheckValue = Modulo43Sum(values);
    values.push_back(CheckValue);
  }
  values.push_back(StartStopValue);
  AppendSpacedCharacters(Elements, Code39Patterns, values);
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

// Code 39 Extended

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
    const bool tilde = text[i] == '~';
    const std::size_t following = text.size() - i - 1;
    if (tilde && following >= 1 && text[i + 1] == '~') {
      codeChars.push_back('~');
      i += 2;
    } else if (tilde && following >= 2 && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      const int byte = HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]);
      if (byte >= lowest && byte <= highest)
        codeChars.push_back(static_cast<std::uint8_t>(byte));
      i += 3;
    } else {
      // Any other byte, and a tilde that starts no escape, is itself.
      codeChars.push_back(static_cast<std::uint8_t>(text[i]));
      ++i;
    }
  }
}

const char *Code39FullAscii(std::uint8_t byte) {
  return byte < std::size(Code39ExtMap) ? Code39ExtMap[byte] : "";
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
    expanded += Code39FullAscii(byte);
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
