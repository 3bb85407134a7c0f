#include "symbologies/Codabar.h"

#include <cstring>
#include <iterator>

namespace strixel {

namespace {

struct CodabarRow {
  char Character;
  char Wide[8]; // bar, space, bar, space, bar, space, bar: '1' is wide
};

// Codabar character table: element widths of every character, narrow 0,
// wide 1.
static constexpr CodabarRow CodabarPatterns[] = {
    {'0', "0000011"}, {'1', "0000110"}, {'2', "0001001"}, {'3', "1100000"},
    {'4', "0010010"}, {'5', "1000010"}, {'6', "0100001"}, {'7', "0100100"},
    {'8', "0110000"}, {'9', "1001000"}, {'-', "0001100"}, {'$', "0011000"},
    {':', "1000101"}, {'/', "1010001"}, {'.', "1010100"}, {'+', "0010101"},
    {'A', "0011010"}, {'B', "0101001"}, {'C', "0001011"}, {'D', "0001110"},
};
static_assert(std::size(CodabarPatterns) == 20,
              "16 data characters and 4 start/stop characters");

constexpr std::size_t MinimumTextLength = 3; // start, one datum, stop

// Start/stop letters as pairs of lower-case and upper-case form.
constexpr char CodabarStartStop[] = "aAbBcCdD";

} // namespace

bool CBarcodeSymCodabar::IsStartStop(std::uint8_t byte) {
  return byte != 0 && std::strchr(CodabarStartStop, byte) != nullptr;
}

std::uint8_t CBarcodeSymCodabar::UpperStartStop(std::uint8_t byte) {
  for (std::size_t i = 0; i + 1 < std::size(CodabarStartStop); i += 2)
    if (byte == static_cast<std::uint8_t>(CodabarStartStop[i]))
      return static_cast<std::uint8_t>(CodabarStartStop[i + 1]);
  return byte;
}

bool CBarcodeSymCodabar::LookUpCharacter(std::uint8_t byte, std::size_t &row) {
  for (std::size_t i = 0; i < std::size(CodabarPatterns); ++i) {
    if (byte == static_cast<std::uint8_t>(CodabarPatterns[i].Character)) {
      row = i;
      return true;
    }
  }
  return false;
}

bool CBarcodeSymCodabar::IsTextValid() {
  const std::string &text = Settings.BarText;
  if (!HasText() || text.size() < MinimumTextLength)
    return false;
  const auto first = static_cast<std::uint8_t>(text.front());
  const auto last = static_cast<std::uint8_t>(text.back());
  if (!IsStartStop(first) || !IsStartStop(last))
    return false;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    std::size_t row = 0;
    if (IsStartStop(byte) || !LookUpCharacter(byte, row))
      return false;
  }
  return true;
}

void CBarcodeSymCodabar::BuildCodeChars() {
  CBarcodeSym::BuildCodeChars();
  std::vector<std::uint8_t> &chars = Settings.CodeChars;
  if (chars.empty())
    return;
  chars.front() = UpperStartStop(chars.front());
  chars.back() = UpperStartStop(chars.back());
}

void CBarcodeSymCodabar::BuildDisplayText() {
  const std::string &text = Settings.BarText;
  // A text without both start and stop has no data between them; it is
  // rejected when encoding and keeps the display text it had.
  if (text.size() < 2)
    return;
  std::string &display = Settings.DisplayText;
  display.clear();
  if (Settings.ShowStSt)
    display.push_back(text.front());
  display.append(text, 1, text.size() - 2);
  if (Settings.ShowStSt)
    display.push_back(text.back());
}

namespace {

const char *WideFlagsOf(std::uint8_t byte) {
  std::size_t row = 0;
  return CBarcodeSymCodabar::LookUpCharacter(byte, row)
             ? CodabarPatterns[row].Wide
             : nullptr;
}

} // namespace

bool CBarcodeSymCodabar::Encode() {
  if (!PrepareEncode())
    return false;
  AppendDiscreteCharacters(Settings.CodeChars, WideFlagsOf);
  return true;
}

} // namespace strixel
