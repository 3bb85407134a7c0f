#pragma once

#include <memory>

namespace strixel {

// Looks up named values in a query string or form body
// (name=value&name=value), decoding one value at a time into its own buffer.
class CQueryParams {
public:
  explicit CQueryParams(const char *text);
  CQueryParams(const CQueryParams &) = delete;
  CQueryParams &operator=(const CQueryParams &) = delete;
  ~CQueryParams();

  // The decoded value of name, valid until the next Find; null if absent.
  const char *Find(const char *name);
  static void UrlDecode(char *buffer);
  static int HexDigitValue(char c);

private:
  const char *Text;
  unsigned int Length;
  std::unique_ptr<char[]> Value;
};

} // namespace strixel
