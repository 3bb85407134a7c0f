#include "cgi/RequestIntake.h"

#include "cgi/HtmlPages.h"
#include "cgi/ImageResponse.h"
#include "cgi/QueryParams.h"
#include "cgi/RequestChannel.h"
#include "cgi/RequestLimits.h"
#include "cgi/RequestSettings.h"
#include "engine/ErrorCodes.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace strixel {

// Process-wide: the only global of the program. Off until a request with
// debug turns it on.
bool DebugMode = false;

namespace {

// The longest request text the program accepts, in characters.
constexpr std::size_t MaxRequestLength = 3600;
// A POST body is read in pieces of this many bytes.
constexpr std::size_t BodyPieceBytes = 4096;

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
  char piece[BodyPieceBytes];
  std::size_t remaining = static_cast<std::size_t>(length);
  bool textEnded = false;
  while (remaining > 0) {
    const std::size_t wanted =
        remaining < sizeof piece ? remaining : sizeof piece;
    const std::size_t got = ReadRequestInput(piece, wanted);
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
  const char *method = RequestVariable("REQUEST_METHOD");
  if (!method)
    return InvalidArgument;
  if (EqualsIgnoringCase(method, "post")) {
    const char *contentLength = RequestVariable("CONTENT_LENGTH");
    if (!contentLength)
      return InvalidArgument;
    const int length = ParseIntValue(contentLength);
    if (length < 1 || !ReadPostBody(length, text))
      return InvalidArgument;
  } else if (EqualsIgnoringCase(method, "get")) {
    const char *query = RequestVariable("QUERY_STRING");
    if (!query)
      return InvalidArgument;
    if (std::strlen(query) > MaxRequestLength)
      return InvalidBarcodeText;
    text = query;
  } else {
    return InvalidArgument;
  }
  return text.size() > MaxRequestLength ? InvalidBarcodeText : Success;
}

int HandleRequestText(const std::string &text) {
  CQueryParams params(text.c_str());
  if (params.Find("help"))
    return PrintHelpPage() ? Success : Failure;
  RequestSettings settings;
  ReadRequestSettings(params, settings);
  return RenderImageResponse(settings);
}

} // namespace

int HandleRequest() {
  CgiLimits limits;
  limits.ProcessWide = true;
  return HandleRequest(limits);
}

int HandleRequest(const CgiLimits &limits) {
  const CRequestLimits limited(limits);
  return RunRequest();
}

int RunRequest() {
  try {
    std::string text;
    const int readResult = ReadRequestText(text);
    if (readResult != Success)
      return readResult;
    return HandleRequestText(text);
  } catch (...) {
    // Only an allocation can fail this way; every object of the request
    // has been released by the time the handler runs, and nothing has been
    // written: the response goes out in one piece at the end.
    return FailRequest(UnknownException);
  }
}

} // namespace strixel
