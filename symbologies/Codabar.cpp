#include "symbologies/Codabar.h"

#include <cstring>

#include "symbologies/PatternRows.h"

namespace strixel {

namespace {

using namespace NarrowWide;

// Codabar character set: bar, space, bar, space, bar, space, bar, narrow or
// wide; the digits, "-" and "$" have two wide elements, the others three.
constexpr CharacterRow<7> CodabarPatterns[] = {
    {'0', {N, N, N, N, N, W, W}}, {'1', {N, N, N, N, W, W, N}},
    {'2', {N, N, N, W, N, N, W}}, {'3', {W, W, N, N, N, N, N}},
    {'4', {N, N, W, N, N, W, N}}, {'5', {W, N, N, N, N, W, N}},
    {'6', {N, W, N, N, N, N, W}}, {'7', {N, W, N, N, W, N, N}},
    {'8', {N, W, W, N, N, N, N}}, {'9', {W, N, N, W, N, N, N}},
    {'-', {N, N, N, W, W, N, N}}, {'$', {N, N, W, W, N, N, N}},
    {':', {W, N, N, N, W, N, W}}, {'/', {W, N, W, N, N, N, W}},
    {'.', {W, N, W, N, W, N, N}}, {'+', {N, N, W, N, W, N, W}},
    {'A', {N, N, W, W, N, W, N}}, {'B', {N, W, N, W, N, N, W}},
    {'C', {N, N, N, W, N, W, W}}, {'D', {N, N, N, W, W, W, N}},
};
static_assert(std::size(CodabarPatterns) == 20,
              "16 data characters and 4 start/stop characters");

constexpr std::size_t MinimumTextLength = 3; // start, one datum, stop

// Start/stop letters as pairs of lower-case and upper-case form.
constexpr char CodabarStartStop[] = "aAbBcCdD";

bool IsCharacter(std::uint8_t byte) {
  std::uint8_t value = 0;
  return FindCharacter(CodabarPatterns, std::size(CodabarPatterns), byte,
                       value);
}

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
    if (IsStartStop(byte) || !IsCharacter(byte))
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

bool CBarcodeSymCodabar::Encode() {
  return PrepareEncode() &&
         AppendSpacedText(Elements, CodabarPatterns, Settings.CodeChars);
}

} // namespace strixel
