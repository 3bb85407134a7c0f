#pragma once

#include <cstdint>

namespace strixel {

// Decimal and hexadecimal digits in texts, shared by the symbologies and the
// request parser, and the modulo-10 complement that the check digits of the
// digit symbologies end in.

constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of a digit byte. Callers pass bytes that their text check has
// accepted as digits; any other byte gives its distance from '0'.
constexpr int DigitValue(char c) {
  return c - '0';
}

// The byte that writes a digit value 0 to 9.
constexpr char DigitChar(int value) {
  return static_cast<char>('0' + value);
}

// The modulo-10 check digit of a digit sum: its complement to the next
// multiple of ten. A negative sum (from a byte below '0' that a caller failed
// to reject) still yields 0..9.
constexpr int TensComplement(std::int64_t sum) {
  const int rest = static_cast<int>(((sum % 10) + 10) % 10);
  return (10 - rest) % 10;
}

// A digit or letter read as a digit of base 36: "0" to "9" give 0 to 9 and a
// letter of either case 10 to 35 ("a" 10, "z" 35); any other byte gives -1.
constexpr int Base36Digit(char c) {
  if (IsDigit(c))
    return DigitValue(c);
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z')
    return c - 'A' + 10;
  return -1;
}

// A hexadecimal digit as colours and tilde escapes write it: 0-9, A-F and
// a-f give 0 to 15, any other byte -1.
constexpr int HexDigit(char c) {
  const int value = Base36Digit(c);
  return value <= 15 ? value : -1;
}

// A digit of a %XX escape in a form value. The letters run on past f ("g"
// to "z" give 16 to 35) and any other byte gives 0, so that a malformed
// escape still decodes to one byte.
constexpr int FormEscapeDigit(char c) {
  const int value = Base36Digit(c);
  return value >= 0 ? value : 0;
}

} // namespace strixel
