#include "symbologies/Code11.h"

#include "symbologies/PatternRows.h"

namespace strixel {

namespace {

using namespace NarrowWide;

// Code 11 character set: bar, space, bar, space, bar, narrow or wide.
constexpr CharacterRow<5> Code11Patterns[] = {
    {'0', {N, N, N, N, W}}, {'1', {W, N, N, N, W}}, {'2', {N, W, N, N, W}},
    {'3', {W, W, N, N, N}}, {'4', {N, N, W, N, W}}, {'5', {W, N, W, N, N}},
    {'6', {N, W, W, N, N}}, {'7', {N, N, N, W, W}}, {'8', {W, N, N, W, N}},
    {'9', {W, N, N, N, N}}, {'-', {N, N, W, N, N}}, {'S', {N, N, W, W, N}},
};
static_assert(std::size(Code11Patterns) == 12,
              "ten digits, the dash and the start/stop character");

} // namespace

bool CBarcodeSymCode11::IsTextValid() {
  return IsTextOfCharacters(Code11Patterns, std::size(Code11Patterns),
                            Settings.BarText);
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

bool CBarcodeSymCode11::Encode() {
  return PrepareEncode() &&
         AppendSpacedText(Elements, Code11Patterns, Settings.CodeChars);
}

} // namespace strixel
