#include "symbologies/Code11.h"

#include <iterator>

namespace strixel {

namespace {

struct Code11Row {
  char Character;
  char Wide[6]; // bar, space, bar, space, bar: '1' is wide
};

// Code 11 character table: element widths of every character, narrow 0,
// wide 1.
static constexpr Code11Row Code11Patterns[] = {
    {'0', "00001"}, {'1', "10001"}, {'2', "01001"}, {'3', "11000"},
    {'4', "00101"}, {'5', "10100"}, {'6', "01100"}, {'7', "00011"},
    {'8', "10010"}, {'9', "10000"}, {'-', "00100"}, {'S', "00110"},
};
static_assert(std::size(Code11Patterns) == 12,
              "ten digits, the dash and the start/stop character");

} // namespace

bool CBarcodeSymCode11::LookUpCharacter(std::uint8_t byte, std::size_t &row) {
  for (std::size_t i = 0; i < std::size(Code11Patterns); ++i) {
    if (byte == static_cast<std::uint8_t>(Code11Patterns[i].Character)) {
      row = i;
      return true;
    }
  }
  return false;
}

bool CBarcodeSymCode11::IsTextValid() {
  if (!HasText())
    return false;
  for (char c : Settings.BarText) {
    std::size_t row = 0;
    if (!LookUpCharacter(static_cast<std::uint8_t>(c), row))
      return false;
  }
  return true;
}

void CBarcodeSymCode11::BuildCodeChars() {
  std::vector<std::uint8_t> &chars = Settings.CodeChars;
  chars.clear();
  chars.reserve(Settings.BarText.size() + 2);
  chars.push_back(StartStop);
  chars.insert(chars.end(), Settings.BarText.begin(), Settings.BarText.end());
  chars.push_back(StartStop);
}

void CBarcodeSymCode11::BuildDisplayText() {
  std::string &display = Settings.DisplayText;
  display.clear();
  if (Settings.ShowStSt)
    display.push_back(StartStop);
  display.append(Settings.BarText);
  if (Settings.ShowStSt)
    display.push_back(StartStop);
}

namespace {

const char *WideFlagsOf(std::uint8_t byte) {
  std::size_t row = 0;
  return CBarcodeSymCode11::LookUpCharacter(byte, row)
             ? Code11Patterns[row].Wide
             : nullptr;
}

} // namespace

bool CBarcodeSymCode11::Encode() {
  if (!PrepareEncode())
    return false;
  AppendDiscreteCharacters(Settings.CodeChars, WideFlagsOf);
  return true;
}

} // namespace strixel
