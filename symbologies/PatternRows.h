#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

#include "engine/BarElement.h"

namespace strixel {

// Every symbology table has one form: a row per symbol character, indexed by
// the character's value, of the widths of its elements in order, bar and
// space alternating. A width is a number of modules, 1 to 4, or Wide: the
// wide element of the two-width symbologies, Wide2NarrowRatio modules when
// drawn, which is no whole number of modules and so takes the one width no
// element has. Tables whose characters are bytes of the text hold each byte
// in a CharacterRow beside its widths.
constexpr std::uint8_t Wide = 0;

// Narrow and wide as the two-width symbologies' standards print them.
namespace NarrowWide {
constexpr std::uint8_t N = 1;
constexpr std::uint8_t W = Wide;
} // namespace NarrowWide

constexpr BarElement BarOfWidth(std::uint8_t width) {
  constexpr BarElement Bars[] = {WideBar, Bar1, Bar2, Bar3, Bar4};
  return Bars[width];
}

constexpr BarElement SpaceOfWidth(std::uint8_t width) {
  constexpr BarElement Spaces[] = {WideSpace, Space1, Space2, Space3, Space4};
  return Spaces[width];
}

// Appends the elements of one row. nextIsBar says whether the first is a
// bar; it is inverted by every element appended.
template <std::size_t Count>
void AppendRow(std::vector<std::uint8_t> &elements,
               const std::uint8_t (&widths)[Count], bool &nextIsBar) {
  for (std::uint8_t width : widths) {
    elements.push_back(nextIsBar ? BarOfWidth(width) : SpaceOfWidth(width));
    nextIsBar = !nextIsBar;
  }
}

// Appends the elements of a row that starts with a bar.
template <std::size_t Count>
void AppendRow(std::vector<std::uint8_t> &elements,
               const std::uint8_t (&widths)[Count]) {
  bool nextIsBar = true;
  AppendRow(elements, widths, nextIsBar);
}

template <std::size_t Count> struct CharacterRow {
  char Character; // the text byte of the character; 0 where there is none
  std::uint8_t Widths[Count];
};

// The value of byte: the index of its row among the first `searched` rows,
// which hold the characters a text may contain.
template <std::size_t Count, std::size_t Rows>
constexpr bool FindCharacter(const CharacterRow<Count> (&table)[Rows],
                             std::size_t searched, std::uint8_t byte,
                             std::uint8_t &value) {
  for (std::size_t i = 0; i < searched && i < Rows; ++i) {
    if (static_cast<std::uint8_t>(table[i].Character) == byte) {
      value = static_cast<std::uint8_t>(i);
      return true;
    }
  }
  return false;
}

// The values of the bytes, in order; false at the first byte not found.
template <std::size_t Count, std::size_t Rows, class Bytes>
bool FindCharacters(const CharacterRow<Count> (&table)[Rows],
                    std::size_t searched, const Bytes &bytes,
                    std::vector<std::uint8_t> &values) {
  for (auto byte : bytes) {
    std::uint8_t value = 0;
    if (!FindCharacter(table, searched, static_cast<std::uint8_t>(byte), value))
      return false;
    values.push_back(value);
  }
  return true;
}

// Whether text is not empty and each of its bytes is found.
template <std::size_t Count, std::size_t Rows>
bool IsTextOfCharacters(const CharacterRow<Count> (&table)[Rows],
                        std::size_t searched, std::string_view text) {
  if (text.empty())
    return false;
  std::uint8_t value = 0;
  for (char c : text)
    if (!FindCharacter(table, searched, static_cast<std::uint8_t>(c), value))
      return false;
  return true;
}

// Appends the characters of a two-width symbology: each row from a bar, and
// a narrow space between two characters.
template <std::size_t Count, std::size_t Rows>
void AppendSpacedCharacters(std::vector<std::uint8_t> &elements,
                            const CharacterRow<Count> (&table)[Rows],
                            const std::vector<std::uint8_t> &values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0)
      elements.push_back(Space1);
    AppendRow(elements, table[values[i]].Widths);
  }
}

// Appends the characters of the bytes as AppendSpacedCharacters does; false,
// with nothing appended, when a byte is not in the table.
template <std::size_t Count, std::size_t Rows>
bool AppendSpacedText(std::vector<std::uint8_t> &elements,
                      const CharacterRow<Count> (&table)[Rows],
                      const std::vector<std::uint8_t> &bytes) {
  std::vector<std::uint8_t> values;
  values.reserve(bytes.size());
  if (!FindCharacters(table, Rows, bytes, values))
    return false;
  AppendSpacedCharacters(elements, table, values);
  return true;
}

} // namespace strixel
