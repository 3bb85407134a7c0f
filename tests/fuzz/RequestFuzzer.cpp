// libFuzzer target: one input is one whole CGI request, handled in-process
// by HandleRequest with its standard input and output redirected to memory
// files.
//
// Input layout: the first byte chooses how the request arrives, the rest is
// the request text (see RequestFrom). After each request the target checks
// what any web server relies on: the exit code is one of the request error
// codes, a success writes a complete image response or an HTML page, and a
// failure writes nothing or the HTML error page, the latter only when the
// request asked for it.

#include "cgi/RequestIntake.h"
#include "cgi/RequestLimits.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace strixel;

namespace {

// The CGI variables a request is made of; an absent value is an unset
// variable.
struct CgiRequest {
  const char *Method = nullptr;
  bool HasQuery = false;
  std::string Query;
  bool HasContentLength = false;
  std::string ContentLength;
  std::string Body;
};

std::string FirstLine(const std::string &text, std::string &rest) {
  const std::size_t end = text.find('\n');
  if (end == std::string::npos) {
    rest.clear();
    return text;
  }
  rest = text.substr(end + 1);
  return text.substr(0, end);
}

// Environment values cannot hold a zero byte: a query string ends there.
std::string UpToZeroByte(const std::string &text) {
  return text.substr(0, text.find('\0'));
}

CgiRequest GetRequest(const char *method, const std::string &text) {
  CgiRequest r;
  r.Method = method;
  r.HasQuery = true;
  r.Query = UpToZeroByte(text);
  return r;
}

CgiRequest PostRequest(const char *method, const std::string &body,
                       const std::string &contentLength) {
  CgiRequest r;
  r.Method = method;
  r.HasContentLength = true;
  r.ContentLength = contentLength;
  r.Body = body;
  return r;
}

// Mode letters, the first byte of an input. Any other byte picks the mode
// at its value modulo the number of modes, so every input is a request.
//   G GET            g GET as "gEt"       Q GET without QUERY_STRING
//   P POST, exact    p POST as "post"     U POST without CONTENT_LENGTH
//   S POST announcing 2147483647 bytes (a short read)
//   C POST whose CONTENT_LENGTH is the first line, the body the rest
//   M method named by the first line, both query and body the rest
//   N no REQUEST_METHOD at all
constexpr char ModeLetters[] = "GgQPpUSCMN";

CgiRequest RequestFrom(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return GetRequest("GET", std::string());
  char mode = static_cast<char>(data[0]);
  if (!std::strchr(ModeLetters, mode) || mode == '\0')
    mode = ModeLetters[data[0] % (sizeof ModeLetters - 1)];
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  const std::string exactLength = std::to_string(text.size());
  std::string rest;
  switch (mode) {
  case 'G':
    return GetRequest("GET", text);
  case 'g':
    return GetRequest("gEt", text);
  case 'Q': {
    CgiRequest r = GetRequest("GET", text);
    r.HasQuery = false;
    return r;
  }
  case 'P':
    return PostRequest("POST", text, exactLength);
  case 'p':
    return PostRequest("post", text, exactLength);
  case 'U': {
    CgiRequest r = PostRequest("POST", text, exactLength);
    r.HasContentLength = false;
    return r;
  }
  case 'S':
    return PostRequest("POST", text, "2147483647");
  case 'C': {
    const std::string length = UpToZeroByte(FirstLine(text, rest));
    return PostRequest("POST", rest, length);
  }
  case 'M': {
    static std::string method;
    method = UpToZeroByte(FirstLine(text, rest));
    CgiRequest r =
        PostRequest(method.c_str(), rest, std::to_string(rest.size()));
    r.HasQuery = true;
    r.Query = UpToZeroByte(rest);
    return r;
  }
  default: {
    CgiRequest r = GetRequest("GET", text);
    r.Method = nullptr;
    return r;
  }
  }
}

// putenv keeps the string it is given rather than a copy, so nothing piles
// up in the environment over millions of requests, unlike with setenv.
class CEnvVariable {
public:
  explicit CEnvVariable(const char *name) : Name(name) {}
  CEnvVariable(const CEnvVariable &) = delete;
  CEnvVariable &operator=(const CEnvVariable &) = delete;

  void Set(bool present, const std::string &value) {
    if (!present) {
      unsetenv(Name.c_str());
      return;
    }
    std::string entry = Name + "=" + value;
    Storage.assign(entry.begin(), entry.end());
    Storage.push_back('\0');
    putenv(Storage.data());
  }

private:
  std::string Name;
  std::vector<char> Storage;
};

[[noreturn]] void Violation(const char *what, int code,
                            const std::string &output) {
  std::fprintf(stderr, "request invariant broken: %s (exit code %d)\n", what,
               code);
  std::fprintf(stderr, "output starts: %.200s\n", output.c_str());
  std::abort();
}

const char PngHeader[] = "Content-type: image/png\n\n";
const char SvgHeader[] = "Content-type: image/svg+xml\n\n";
const char HtmlHeader[] = "Content-type: text/html\n\n";
const char PngSignature[] = "\x89PNG\r\n\x1a\n";
const char PngEnd[] = "\0\0\0\0IEND\xae\x42\x60\x82";

bool StartsWith(const std::string &text, const char *prefix,
                std::size_t length) {
  return text.size() >= length && text.compare(0, length, prefix, length) == 0;
}

bool EndsWith(const std::string &text, const char *suffix, std::size_t length) {
  return text.size() >= length &&
         text.compare(text.size() - length, length, suffix, length) == 0;
}

std::uint32_t BigEndian32(const std::string &bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i)
    v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// A complete PNG: signature, an IHDR of a non-empty 8-bit RGB image first
// and the IEND chunk last.
bool IsCompleteImageResponse(const std::string &output) {
  const std::size_t header = sizeof PngHeader - 1;
  if (!StartsWith(output, PngHeader, header))
    return false;
  const std::string png = output.substr(header);
  if (!StartsWith(png, PngSignature, 8) || png.size() < 8 + 25 + 12)
    return false;
  if (png.compare(12, 4, "IHDR") != 0 || BigEndian32(png, 8) != 13)
    return false;
  const std::uint32_t width = BigEndian32(png, 16);
  const std::uint32_t height = BigEndian32(png, 20);
  if (width == 0 || height == 0 || png[24] != 8 || png[25] != 2)
    return false;
  return EndsWith(png, PngEnd, sizeof PngEnd - 1);
}

// A complete SVG document: the XML declaration first, the end of the svg
// element last.
bool IsCompleteSvgResponse(const std::string &output) {
  static const char Start[] = "<?xml ";
  static const char End[] = "</svg>\n";
  const std::size_t header = sizeof SvgHeader - 1;
  if (!StartsWith(output, SvgHeader, header))
    return false;
  const std::string svg = output.substr(header);
  return StartsWith(svg, Start, sizeof Start - 1) &&
         EndsWith(svg, End, sizeof End - 1);
}

bool IsHtmlPage(const std::string &output) {
  return StartsWith(output, HtmlHeader, sizeof HtmlHeader - 1) &&
         EndsWith(output, "</body></html>\n", 15);
}

bool IsRequestErrorCode(int code) {
  switch (code) {
  case 0:
  case 1:
  case 3:
  case 4:
  case 5:
  case 6:
  case 14:
    return true;
  default:
    return false;
  }
}

void CheckResponse(int code, const std::string &output,
                   const CgiRequest &request) {
  if (!IsRequestErrorCode(code))
    Violation("exit code outside 0, 1, 3, 4, 5, 6, 14", code, output);
  if (code == 0) {
    if (!IsCompleteImageResponse(output) && !IsCompleteSvgResponse(output) &&
        !IsHtmlPage(output))
      Violation("success without a complete image or page", code, output);
    return;
  }
  if (output.empty())
    return;
  if (!IsHtmlPage(output) ||
      output.find("<font color='#ff0000'>Error: ") == std::string::npos)
    Violation("failure wrote something other than the error page", code,
              output);
  // The error page is only written on request; "debug" must be in the text.
  const std::string &text = request.HasQuery ? request.Query : request.Body;
  if (text.find("debug=") == std::string::npos)
    Violation("error page without debug", code, output);
}

// Standard input and output of the request, as memory files on fd 0 and 1.
class CRequestStreams {
public:
  CRequestStreams() {
    const int in = memfd_create("request-body", 0);
    const int out = memfd_create("response", 0);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) {
      std::perror("request streams");
      std::abort();
    }
    close(in);
    close(out);
    // Unbuffered, so that no bytes of one request's body are still in the
    // stream buffer when the next request reads: glibc keeps its buffer
    // across a seek that lands inside it.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
  }
  CRequestStreams(const CRequestStreams &) = delete;
  CRequestStreams &operator=(const CRequestStreams &) = delete;

  void Begin(const std::string &body) {
    if (ftruncate(0, 0) != 0 || pwrite(0, body.data(), body.size(), 0) !=
                                    static_cast<ssize_t>(body.size()))
      std::abort();
    std::clearerr(stdin);
    std::fseek(stdin, 0, SEEK_SET);
    std::fflush(stdout);
    if (ftruncate(1, 0) != 0)
      std::abort();
    std::fseek(stdout, 0, SEEK_SET);
    std::clearerr(stdout);
  }

  std::string Output() {
    std::fflush(stdout);
    const off_t size = lseek(1, 0, SEEK_CUR);
    std::string output(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (!output.empty() && pread(1, &output[0], output.size(), 0) !=
                               static_cast<ssize_t>(output.size()))
      std::abort();
    return output;
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  static CRequestStreams streams;
  static CEnvVariable method("REQUEST_METHOD");
  static CEnvVariable query("QUERY_STRING");
  static CEnvVariable contentLength("CONTENT_LENGTH");

  const CgiRequest request = RequestFrom(data, size);
  method.Set(request.Method != nullptr, request.Method ? request.Method : "");
  query.Set(request.HasQuery, request.Query);
  contentLength.Set(request.HasContentLength, request.ContentLength);
  streams.Begin(request.Body);

  // Every request starts in a fresh process in deployment.
  DebugMode = false;
  // Without the process-wide limits: libFuzzer's -timeout rests on the
  // same timer and signal, and a slow input must be reported by it.
  const int code = HandleRequest(CgiLimits());
  CheckResponse(code, streams.Output(), request);
  return 0;
}
