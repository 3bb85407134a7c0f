#pragma once

// Runs build/strixel.cgi as a CGI process and reads its answers back:
// decoding the PNG, running the independent barcode readers over it and
// reading bar widths from a row of pixels.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CgiResult {
  int ExitCode = -1; // -1 when the process did not exit normally
  int Signal = 0;    // the signal that ended it, if any
  bool TimedOut = false;
  std::string Output; // everything written to standard output
};

// Runs argv with exactly the environment given (KEY=VALUE strings), the
// body on standard input; standard output is captured, standard error
// discarded.
CgiResult RunProcess(const std::vector<std::string> &argv,
                     const std::vector<std::string> &env,
                     const std::string &body, int timeoutSeconds);

// Runs the program with exactly the given environment (plus nothing else)
// and body on standard input.
CgiResult RunCgi(const std::map<std::string, std::string> &env,
                 const std::string &body = std::string(),
                 int timeoutSeconds = 20);
CgiResult RunGet(const std::string &query);
CgiResult RunPost(const std::string &body);
// Runs the program with its address space limited to limitKiB (ulimit -v),
// exactly the given environment (KEY=VALUE strings) and body.
CgiResult RunCgiInAddressSpace(long limitKiB,
                               const std::vector<std::string> &env,
                               const std::string &body);
// Whether this build runs under AddressSanitizer, which needs far more
// address space than such limits leave.
bool AddressSanitizerBuild();

extern const char PngHeader[];  // "Content-type: image/png\n\n"
extern const char HtmlHeader[]; // "Content-type: text/html\n\n"

// Whether output is an image response, and its PNG bytes.
bool IsPngResponse(const std::string &output);
std::string PngBody(const std::string &output);

struct RgbImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Pixels; // 3 bytes a pixel, rows top to bottom
  std::uint8_t At(int x, int y, int channel) const {
    return Pixels[(static_cast<std::size_t>(y) * Width + x) * 3 + channel];
  }
  bool IsDark(int x, int y) const {
    return At(x, y, 0) + At(x, y, 1) + At(x, y, 2) < 3 * 128;
  }
};

// Decodes PNG bytes with libpng's reader; false when they are no PNG.
bool DecodePng(const std::string &png, RgbImage &image);

// Writes bytes to a file under the test output folder; returns its path.
std::string WriteTestFile(const std::string &name, const std::string &bytes);

// Runs a reader over a PNG file and returns what it printed on standard
// output (trimmed of the trailing newline); empty when it found nothing.
std::string RunZbar(const std::string &pngPath);
std::string RunZxing(const std::string &pngPath,
                     const std::vector<std::string> &options = {});
// Runs any command (argv form) and returns its standard output.
std::string RunCommand(const std::vector<std::string> &argv,
                       int *exitCode = nullptr);

// Run lengths of dark and light pixels along a row (or a column).
struct Run {
  bool Dark;
  int Length;
};
std::vector<Run> RowRuns(const RgbImage &image, int y);
std::vector<Run> ColumnRuns(const RgbImage &image, int x);
