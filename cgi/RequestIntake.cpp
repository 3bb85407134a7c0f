#include "cgi/RequestIntake.h"

#include "cgi/HtmlPages.h"
#include "cgi/ImageResponse.h"
#include "cgi/QueryParams.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace strixel {

namespace {

// The longest request text the program accepts, in characters.
constexpr std::size_t MaxRequestLength = 3600;

bool EqualsIgnoringCase(const char *text, const char *lowerCase) {
  for (; *text != '\0' && *lowerCase != '\0'; ++text, ++lowerCase) {
    char c = *text;
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != *lowerCase)
      return false;
  }
  return *text == '\0' && *lowerCase == '\0';
}

// Reads exactly length bytes of standard input in fixed-size pieces. The
// request text is what comes before the first zero byte; no more of it is
// kept than is needed to see that it is too long, whatever the announced
// length. Returns false on a short read.
bool ReadPostBody(int length, std::string &text) {
  char piece[4096];
  std::size_t remaining = static_cast<std::size_t>(length);
  bool textEnded = false;
  while (remaining > 0) {
    const std::size_t wanted =
        remaining < sizeof piece ? remaining : sizeof piece;
    const std::size_t got = std::fread(piece, 1, wanted, stdin);
    if (got == 0)
      return false;
    remaining -= got;
    if (textEnded)
      continue;
    std::size_t textBytes = 0;
    while (textBytes < got && piece[textBytes] != '\0')
      ++textBytes;
    textEnded = textBytes < got;
    const std::size_t room = MaxRequestLength + 1 - text.size();
    text.append(piece, textBytes < room ? textBytes : room);
    if (text.size() > MaxRequestLength)
      textEnded = true;
  }
  return true;
}

// Fills text from the CGI request; returns 0 or the request's error code.
int ReadRequestText(std::string &text) {
  const char *method = std::getenv("REQUEST_METHOD");
  if (!method)
    return 1;
  if (EqualsIgnoringCase(method, "post")) {
    const char *contentLength = std::getenv("CONTENT_LENGTH");
    if (!contentLength)
      return 1;
    const int length = ParseIntValue(contentLength);
    if (length < 1 || !ReadPostBody(length, text))
      return 1;
  } else if (EqualsIgnoringCase(method, "get")) {
    const char *query = std::getenv("QUERY_STRING");
    if (!query)
      return 1;
    if (std::strlen(query) > MaxRequestLength)
      return 6;
    text = query;
  } else {
    return 1;
  }
  return text.size() > MaxRequestLength ? 6 : 0;
}

int HandleRequestText(const std::string &text) {
  CQueryParams params(text.c_str());
  if (params.Find("help")) {
    PrintHelpPage();
    return 0;
  }
  RequestSettings settings;
  ReadRequestSettings(params, settings);
  return RenderImageResponse(settings);
}

} // namespace

int HandleRequest() {
  try {
    std::string text;
    const int readResult = ReadRequestText(text);
    if (readResult != 0)
      return readResult;
    return HandleRequestText(text);
  } catch (...) {
    // Only an allocation can fail this way; every object of the request
    // has been released by the time the handler runs.
    if (DebugMode)
      PrintErrorPage(14);
    return 14;
  }
}

} // namespace strixel
