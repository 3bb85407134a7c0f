#include "cgi/QueryParams.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "engine/Digits.h"

namespace strixel {

namespace {

// The length member is an unsigned int; every scan below is bounded by it,
// so a text longer than that range is simply read no further.
unsigned int MeasuredLength(const char *text) {
  std::size_t length = std::strlen(text);
  return length < UINT_MAX ? static_cast<unsigned int>(length) : UINT_MAX - 1;
}

constexpr std::size_t NotFound = static_cast<std::size_t>(-1);

// Where the value of name starts: after "name=" at the very start of the
// text, or after the first "&name=". Names are matched in the raw text,
// before any decoding, so an escaped "&" or "=" can never split or start a
// pair. The length tests leave out a "=" that is the last byte of the text.
std::size_t ValueStart(const char *text, std::size_t length, const char *name) {
  const std::size_t n = std::strlen(name);
  if (length > n + 1 && std::memcmp(text, name, n) == 0 && text[n] == '=')
    return n + 1;
  for (std::size_t i = 1; i < length && text[i] != '\0'; ++i)
    if (text[i] == '&' && length - i > n + 2 &&
        std::memcmp(text + i + 1, name, n) == 0 && text[i + n + 1] == '=')
      return i + n + 2;
  return NotFound;
}

} // namespace

CQueryParams::CQueryParams(const char *text)
    : Text(text), Length(MeasuredLength(text)),
      Value(new char[static_cast<std::size_t>(Length) + 1]) {
  Value[0] = '\0';
}

CQueryParams::~CQueryParams() = default;

const char *CQueryParams::Find(const char *name) {
  if (Length == 0)
    return nullptr;
  const std::size_t start = ValueStart(Text, Length, name);
  if (start == NotFound)
    return nullptr;
  // The value runs to the next "&" or the end of the text.
  std::size_t end = start;
  while (end < Length && Text[end] != '&' && Text[end] != '\0')
    ++end;
  std::memcpy(Value.get(), Text + start, end - start);
  Value[end - start] = '\0';
  UrlDecode(Value.get());
  return Value.get();
}

void CQueryParams::UrlDecode(char *buffer) {
  const char *read = buffer;
  char *write = buffer;
  while (*read != '\0') {
    if (*read == '%') {
      // An escape cut short by the end of the value is kept as it stands:
      // there are no digits to decode and nothing may be read past the end.
      if (read[1] == '\0' || read[2] == '\0') {
        while (*read != '\0')
          *write++ = *read++;
        break;
      }
      const int high = HexDigitValue(read[1]);
      const int low = HexDigitValue(read[2]);
      *write++ = static_cast<char>(((high << 4) | low) & 0xFF);
      read += 3;
    } else if (*read == '+') {
      *write++ = ' ';
      ++read;
    } else {
      *write++ = *read++;
    }
  }
  *write = '\0';
}

int CQueryParams::HexDigitValue(char c) {
  return FormEscapeDigit(c);
}

} // namespace strixel
