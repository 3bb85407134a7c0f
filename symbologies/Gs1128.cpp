#include "symbologies/Gs1128.h"

#include <iterator>
#include <string_view>

#include "engine/Digits.h"
#include "symbologies/RetailDigits.h"

namespace strixel {

namespace {

struct AIRange {
  int First;
  int Last;
};

// GS1 General Specifications, element strings with a predefined length: an
// identifier in these ranges carries a fixed number of characters, so the
// next identifier needs no FNC1 to end its data.
constexpr AIRange PredefinedLengthAIs[] = {
    {0, 2},       {11, 11},     {13, 13},     {15, 15},
    {17, 17},     {20, 20},     {3100, 3600}, {410, 412},
    {8001, 8001}, {8005, 8005}, {8100, 8102},
};
static_assert(std::size(PredefinedLengthAIs) == 11,
              "eleven ranges of identifiers");

constexpr std::string_view TagOpening = "<AI";
constexpr std::string_view SeparatorTag = "<FNC1>";
constexpr std::size_t MinTagDigits = 2;
constexpr std::size_t MaxTagDigits = 5;
// The scan of a tag looks one digit further than a tag may hold, so that a
// sixth digit ends it as literal text.
constexpr std::size_t ScannedTagDigits = MaxTagDigits + 1;

bool StartsWithAt(const std::string &text, std::size_t position,
                  std::string_view prefix) {
  return text.size() - position >= prefix.size() &&
         text.compare(position, prefix.size(), prefix) == 0;
}

int DecimalValue(const std::string &text, std::size_t first,
                 std::size_t count) {
  int value = 0;
  for (std::size_t i = first; i < first + count; ++i)
    value = value * 10 + DigitValue(text[i]);
  return value;
}

} // namespace

bool CBarcodeSymUCCEAN128::NeedsFNC1(int previousAI) {
  // The first identifier always follows FNC1, the GS1-128 start marker.
  if (previousAI == -1)
    return true;
  for (const AIRange &range : PredefinedLengthAIs)
    if (previousAI >= range.First && previousAI <= range.Last)
      return false;
  return true;
}

CBarcodeSymUCCEAN128::Markup
CBarcodeSymUCCEAN128::ReadMarkup(const std::string &text,
                                 std::size_t position) {
  Markup markup;
  if (StartsWithAt(text, position, TagOpening)) {
    const std::size_t first = position + TagOpening.size();
    std::size_t stop = first;
    while (stop < text.size() && stop - first < ScannedTagDigits &&
           IsDigit(text[stop]))
      ++stop;
    const std::size_t digits = stop - first;
    if (stop < text.size() && text[stop] == '>' && digits >= MinTagDigits &&
        digits <= MaxTagDigits) {
      markup.What = Markup::Tag;
      markup.DigitsFirst = first;
      markup.DigitsCount = digits;
    } else {
      // A malformed tag is plain text, up to and including the byte that
      // ended its scan.
      markup.What = Markup::Literal;
    }
    markup.Next = stop < text.size() ? stop + 1 : stop;
    return markup;
  }
  if (StartsWithAt(text, position, SeparatorTag)) {
    markup.What = Markup::Separator;
    markup.Next = position + SeparatorTag.size();
    return markup;
  }
  markup.Next = position + 1;
  return markup;
}

bool CBarcodeSymUCCEAN128::IsTextValid() {
  // Any markup is accepted, but every byte must have a Code 128 value.
  return HasText() && HasCode128Values(Settings.BarText);
}

void CBarcodeSymUCCEAN128::BuildCodeChars() {
  const std::string &text = Settings.BarText;
  std::vector<std::uint8_t> &chars = Settings.CodeChars;
  chars.clear();
  chars.reserve(text.size() + 1);
  int previousAI = -1;
  std::size_t position = 0;
  while (position < text.size()) {
    const Markup markup = ReadMarkup(text, position);
    switch (markup.What) {
    case Markup::Tag:
      if (NeedsFNC1(previousAI))
        chars.push_back(Fnc1Byte);
      chars.insert(chars.end(), text.begin() + markup.DigitsFirst,
                   text.begin() + markup.DigitsFirst + markup.DigitsCount);
      previousAI = DecimalValue(text, markup.DigitsFirst, markup.DigitsCount);
      break;
    case Markup::Separator:
      chars.push_back(Fnc1Byte);
      break;
    case Markup::Literal:
    case Markup::Byte:
      chars.insert(chars.end(), text.begin() + position,
                   text.begin() + markup.Next);
      break;
    }
    position = markup.Next;
  }
}

void CBarcodeSymUCCEAN128::BuildDisplayText() {
  if (!IsTextValid())
    return;
  const std::string &text = Settings.BarText;
  std::string &display = Settings.DisplayText;
  display.clear();
  std::size_t position = 0;
  while (position < text.size()) {
    const Markup markup = ReadMarkup(text, position);
    switch (markup.What) {
    case Markup::Tag:
      // Human-readable GS1 text shows identifiers in parentheses.
      display.push_back('(');
      display.append(text, markup.DigitsFirst, markup.DigitsCount);
      display.push_back(')');
      break;
    case Markup::Separator:
      break;
    case Markup::Literal:
    case Markup::Byte:
      display.append(text, position, markup.Next - position);
      break;
    }
    position = markup.Next;
  }
}

bool CBarcodeSymUCCEAN128::Encode() {
  Values values;
  if (!StartValues(values))
    return false;
  // The automatic choice starts as if set C were current, and FNC1 exists
  // in set C: a text that opens with a tag starts Start C, FNC1.
  EncodeAuto(values);
  FinishSymbol(values);
  return true;
}

bool CBarcodeSymSSCC18::IsTextValid() {
  // The application identifier's two digits come first.
  return IsGs1Number(Settings.BarText, IdentifierDigits + DataDigits);
}

void CBarcodeSymSSCC18::BuildCodeChars() {
  // The identifier is always 00; the text's first two digits stand for it,
  // and a given check digit gives way to the computed one.
  const std::string_view data =
      std::string_view(Settings.BarText).substr(IdentifierDigits, DataDigits);
  std::vector<std::uint8_t> &chars = Settings.CodeChars;
  chars.clear();
  chars.push_back(Fnc1Byte);
  chars.push_back('0');
  chars.push_back('0');
  chars.insert(chars.end(), data.begin(), data.end());
  chars.push_back(
      static_cast<std::uint8_t>(DigitChar(CheckDigit31(data, DataDigits))));
}

void CBarcodeSymSSCC18::BuildDisplayText() {
  if (!IsTextValid())
    return;
  // CodeChars holds FNC1, "00", the 17 digits and the check digit.
  const std::vector<std::uint8_t> &chars = Settings.CodeChars;
  const std::size_t shown = Settings.ShowCheck ? DataDigits + 1 : DataDigits;
  std::string &display = Settings.DisplayText;
  display = "(00)";
  if (chars.size() >= DataOffset + shown)
    display.append(chars.begin() + DataOffset,
                   chars.begin() + DataOffset + shown);
}

bool CBarcodeSymEAN14::IsTextValid() {
  return IsGs1Number(Settings.BarText, Gtin14DataDigits);
}

void CBarcodeSymEAN14::BuildCodeChars() {
  SetGtin14CodeChars(*this);
}

void CBarcodeSymEAN14::BuildDisplayText() {
  if (IsTextValid())
    SetGs1DisplayText(*this, Gtin14DataDigits,
                      Gtin14CheckDigit(Settings.BarText));
}

bool CBarcodeSymEAN14::Encode() {
  Values values;
  if (!StartValues(values))
    return false;
  // FNC1 after the start marks the symbol as GS1 data; the 14 digits are
  // seven set C pairs.
  const std::vector<std::uint8_t> &chars = Settings.CodeChars;
  values.push_back(StartC);
  values.push_back(Fnc1);
  AppendRunC(values, chars.data(), chars.size(), false);
  FinishSymbol(values);
  return true;
}

} // namespace strixel
