// fmt=svg against the PNG of the same request. The document is rendered by
// an independent SVG renderer (rsvg-convert) and compared with the PNG the
// program draws: outside the text the two must agree pixel for pixel, the
// bars everywhere; the text, drawn from unhinted outlines in the document
// and hinted bitmaps in the PNG, must cover nearly the same pixels. Both
// renderings must scan to what the PNG scans to, the document must be
// well-formed XML of the PNG's size with nothing fetched from elsewhere,
// and a request that fails as PNG must fail the same way as SVG.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/CgiRunner.h"
#include "support/Readers.h"

namespace {

const char SvgHeader[] = "Content-type: image/svg+xml\n\n";

// How far the text of the document may stray from the PNG's: each edge of
// the box of its ink within this many pixels; its ink, summed, within this
// share of the PNG's; and the ink that differs between the two in 3 x 3
// neighbourhoods, summed, at most this share of the PNG's ink. (Measured
// over every case below: edges within 1, ink 0.87 to 1.13 times, moved
// ink 0.08 to 0.22: the unhinted outlines are a little lighter and their
// stems up to half a pixel from the hinted ones.)
constexpr int TextEdgeBound = 1;
constexpr double TextInkBound = 0.15;
constexpr double TextInkMovedBound = 0.25;

enum Readers : unsigned {
  None = 0,
  Zbar = 1,
  Zxing = 2,
  Both = 3,
};

struct SvgCase {
  std::string Name;
  std::string Query;
  unsigned Reads = None;       // the readers that must decode it
  const char *Title = nullptr; // the expected <title>, when it is the point
  int Exit = 0;                // AnyExit: whatever the PNG request gives
};

constexpr int AnyExit = -1;

// A sample text of every type, and which readers decode it.
struct TypeSample {
  int Type;
  const char *Data;
  unsigned Reads;
  bool Postal = false; // drawn or refused: the SVG does what the PNG does
};

const TypeSample Samples[] = {
    {0, "123456", Both},
    {1, "1234", None},
    {2, "CODE39", Both},
    {3, "Ab%2Bc", Both},
    {4, "123-45", None},
    {5, "A1234B", Both},
    {6, "1234", None},
    {7, "1234567", Both},
    {8, "12", None},
    {9, "52495", None},
    {10, "9638507", Both},
    {11, "590123412345", Both},
    {12, "1234567890123", Both},
    {13, "03600029145", Both},
    {14, "04210000526", Both},
    {15, "%3C01%3E12345678901231", Both},
    {16, "0012345678901234567", Both},
    {17, "12345", None, true},
    {18, "12345", None, true},
    {19, "CODE93", Both},
    {20, "abc", Both},
    {21, "1234567890123", Both},
};

std::vector<SvgCase> Cases() {
  std::vector<SvgCase> cases;
  // Every type at every angle, the text in a colour of its own so that
  // the bars can be compared in the text band too.
  for (const TypeSample &sample : Samples)
    for (int angle : {0, 90, 180, 270})
      cases.push_back({"type " + std::to_string(sample.Type) + " angle " +
                           std::to_string(angle),
                       "btype=" + std::to_string(sample.Type) +
                           "&data=" + sample.Data +
                           "&angle=" + std::to_string(angle) + "&tcolor=cc0000",
                       sample.Reads, nullptr, sample.Postal ? AnyExit : 0});
  const std::vector<SvgCase> more = {
      {"default request", "", Both},
      {"reduced bars", "btype=5&data=A1234B&bred=30&xdim=3", Both},
      {"widened bars clipped at the box", "data=ABC&bred=-40&xdim=3&quiet=0",
       Both},
      {"widened far past the box", "data=AB&bred=-700&xdim=3&quiet=0&angle=90"},
      {"reduced to nothing", "data=AB&bred=150"},
      {"no quiet zone, fixed box", "w=400&h=120&balign=1&talign=2&quiet=0",
       Both},
      {"colours at 180", "angle=180&fcolor=0000ff&tcolor=ff0000&bcolor=ffffcc",
       Both},
      {"grey background, EAN-13 digit outside, 90",
       "btype=11&data=590123412345&talign=4&angle=90&bcolor=eeeeee", Both},
      {"UPC-A both digits outside, 270, blue text",
       "btype=13&data=03600029145&talign=5&angle=270&tcolor=0000ff", Both},
      {"EAN-8 without guard bars", "btype=10&data=9638507&guard=0", Both},
      {"EAN-13 no quiet zone", "btype=11&data=590123412345&talign=5&quiet=0",
       Both},
      {"text above, spread, 270", "angle=270&tdown=0&talign=3", Both},
      {"text at the end, box", "w=400&h=120&balign=0&talign=1&fh=10", Both},
      {"large font", "data=Strixel&fh=30&h=150", Both},
      {"no text", "btype=1&data=1234&text=0"},
      {"text longer than the pattern", "btype=8&data=12&talign=3&fh=40"},
      // Code 128 takes DEL and its function bytes 128 to 134 (no UTF-8).
      {"hostile title", "data=%3C%26%22%5D%5D%3E%7F%80%86x", Both,
       "Code 128: <&\"]]>\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},
      {"title of the first type", "btype=0&data=123456", None,
       "Interleaved 2 of 5: 123456"},
      {"hostile title, markup as text", "btype=3&data=%3C%2Ftitle%3E%3C!--",
       Both, "Code 39 Extended: </title><!--"},
      // Failures: the same code and the same output as the PNG request.
      {"invalid text", "btype=11&data=abc", None, nullptr, 6},
      {"invalid text, debug", "btype=11&data=abc&debug=1", None, nullptr, 6},
      {"too small", "w=10&debug=1", None, nullptr, 5},
      {"raster too large", "xdim=10000&debug=1", None, nullptr, 3},
      {"raster too large, no debug", "xdim=10000", None, nullptr, 3},
  };
  cases.insert(cases.end(), more.begin(), more.end());
  return cases;
}

std::string FileStem(const std::string &name) {
  std::string stem = "svg-";
  for (char c : name)
    stem += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return stem;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool IsSvgResponse(const std::string &output) {
  return output.compare(0, sizeof SvgHeader - 1, SvgHeader) == 0;
}

// Renders the document at a zoom and decodes the result.
std::string Render(const std::string &svgPath, int zoom, RgbImage &image) {
  const std::string out = svgPath.substr(0, svgPath.size() - 4) + "-x" +
                          std::to_string(zoom) + ".png";
  int exitCode = -1;
  RunCommand(
      {"/usr/bin/rsvg-convert", "-z", std::to_string(zoom), "-o", out, svgPath},
      &exitCode);
  EXPECT_EQ(exitCode, 0) << "rsvg-convert " << svgPath;
  EXPECT_TRUE(DecodePng(ReadFile(out), image)) << out;
  return out;
}

std::string Xpath(const std::string &path, const std::string &expression) {
  return RunCommand({"/usr/bin/xmllint", "--xpath", expression, path});
}

// Reads of the two readers, each empty when it finds nothing.
struct Scan {
  std::string Zbar, Zxing;
};

Scan ScanImage(const std::string &path) {
  Scan scan;
  scan.Zbar = RunCommand(
      {"/usr/bin/zbarimg", "--quiet", "-Supca.enable", "-Supce.enable", path});
  // -ispure: on the tall images at scale 3 ZXingReader's search finds the
  // symbol on many lines and aborts while merging them (an assertion in
  // its Result comparison); the images are pure symbols anyway.
  const std::string zxing = RunZxing(path, {"-1", "-ispure"});
  // "path Format "text"": the path differs between the files.
  scan.Zxing = zxing.compare(0, path.size(), path) == 0
                   ? zxing.substr(path.size())
                   : zxing;
  return scan;
}

struct Colour {
  int C[3];
};

Colour ColourAt(const RgbImage &image, int x, int y) {
  return {{image.At(x, y, 0), image.At(x, y, 1), image.At(x, y, 2)}};
}

bool Same(const Colour &a, const Colour &b) {
  return a.C[0] == b.C[0] && a.C[1] == b.C[1] && a.C[2] == b.C[2];
}

// The colour of an RRGGBB parameter as the program reads it (the last six
// hexadecimal digits), or fallback.
Colour ParameterColour(const std::string &query, const std::string &name,
                       unsigned fallback) {
  unsigned value = fallback;
  const std::string key = name + "=";
  const std::size_t at = query.find(key);
  if (at != std::string::npos && (at == 0 || query[at - 1] == '&'))
    value = static_cast<unsigned>(
        std::strtoul(query.c_str() + at + key.size(), nullptr, 16) & 0xFFFFFF);
  return {{static_cast<int>(value >> 16), static_cast<int>((value >> 8) & 0xFF),
           static_cast<int>(value & 0xFF)}};
}

struct Box {
  int Left = 1 << 30, Top = 1 << 30, Right = -1, Bottom = -1;
  bool Empty() const { return Right < Left; }
  void Add(int x, int y) {
    Left = std::min(Left, x);
    Top = std::min(Top, y);
    Right = std::max(Right, x);
    Bottom = std::max(Bottom, y);
  }
  bool Contains(int x, int y, int pad) const {
    return !Empty() && x >= Left - pad && x <= Right + pad && y >= Top - pad &&
           y <= Bottom + pad;
  }
};

// The pixels that are neither background nor bar colour: the text's.
Box TextBox(const RgbImage &image, const Colour &back, const Colour &fore) {
  Box box;
  for (int y = 0; y < image.Height; ++y)
    for (int x = 0; x < image.Width; ++x) {
      const Colour c = ColourAt(image, x, y);
      if (!Same(c, back) && !Same(c, fore))
        box.Add(x, y);
    }
  return box;
}

// How much of the text colour a pixel holds over the background, 0 to 1,
// read on the channel where the two differ most.
double Ink(const Colour &c, const Colour &back, const Colour &text) {
  int channel = 0;
  for (int k = 1; k < 3; ++k)
    if (std::abs(text.C[k] - back.C[k]) >
        std::abs(text.C[channel] - back.C[channel]))
      channel = k;
  const int range = text.C[channel] - back.C[channel];
  if (range == 0)
    return 0;
  return std::clamp((c.C[channel] - back.C[channel]) / double(range), 0.0, 1.0);
}

void ComparePixels(const std::string &query, const RgbImage &png,
                   const RgbImage &svg) {
  ASSERT_EQ(svg.Width, png.Width);
  ASSERT_EQ(svg.Height, png.Height);
  const Colour back = ParameterColour(query, "bcolor", 0xFFFFFF);
  const Colour fore = ParameterColour(query, "fcolor", 0);
  const Colour text = ParameterColour(query, "tcolor", 0);
  const Box pngText = TextBox(png, back, fore);
  const Box svgText = TextBox(svg, back, fore);
  Box textBox = pngText;
  if (!svgText.Empty()) {
    textBox.Add(svgText.Left, svgText.Top);
    textBox.Add(svgText.Right, svgText.Bottom);
  }
  // Outside the text every pixel; the bars everywhere when the text has a
  // colour of its own (else its ink cannot be told from a bar's).
  const bool textApart = !Same(text, fore);
  int mismatches = 0;
  // The ink of the text box in both, for the comparison below.
  const int boxWidth = textBox.Empty() ? 0 : textBox.Right - textBox.Left + 3;
  const int boxHeight = textBox.Empty() ? 0 : textBox.Bottom - textBox.Top + 3;
  std::vector<double> pngInk(std::size_t(boxWidth) * boxHeight),
      svgInk(pngInk.size());
  for (int y = 0; y < png.Height; ++y)
    for (int x = 0; x < png.Width; ++x) {
      const Colour p = ColourAt(png, x, y);
      const Colour s = ColourAt(svg, x, y);
      if (!textBox.Contains(x, y, 1)) {
        mismatches += !Same(p, s);
        continue;
      }
      if (textApart)
        mismatches += Same(p, fore) != Same(s, fore);
      const std::size_t at =
          std::size_t(y - textBox.Top + 1) * boxWidth + (x - textBox.Left + 1);
      pngInk[at] = Ink(p, back, text);
      svgInk[at] = Ink(s, back, text);
    }
  EXPECT_EQ(mismatches, 0) << "pixels that differ outside the text";
  EXPECT_EQ(pngText.Empty(), svgText.Empty());
  if (pngText.Empty() || svgText.Empty())
    return;
  EXPECT_LE(std::abs(pngText.Left - svgText.Left), TextEdgeBound);
  EXPECT_LE(std::abs(pngText.Right - svgText.Right), TextEdgeBound);
  EXPECT_LE(std::abs(pngText.Top - svgText.Top), TextEdgeBound);
  EXPECT_LE(std::abs(pngText.Bottom - svgText.Bottom), TextEdgeBound);
  // Hinting moves stems by up to half a pixel, which changes single pixels
  // a lot but the ink of a neighbourhood little: the ink is compared in
  // 3 x 3 neighbourhoods.
  double total = 0, pngTotal = 0, svgTotal = 0;
  for (int y = 0; y < boxHeight; ++y)
    for (int x = 0; x < boxWidth; ++x) {
      double a = 0, b = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int u = x + dx, v = y + dy;
          if (u < 0 || v < 0 || u >= boxWidth || v >= boxHeight)
            continue;
          a += pngInk[std::size_t(v) * boxWidth + u];
          b += svgInk[std::size_t(v) * boxWidth + u];
        }
      total += std::abs(a - b) / 9;
      pngTotal += pngInk[std::size_t(y) * boxWidth + x];
      svgTotal += svgInk[std::size_t(y) * boxWidth + x];
    }
  EXPECT_LE(std::abs(svgTotal - pngTotal), TextInkBound * pngTotal)
      << "ink of the text " << svgTotal << " against " << pngTotal;
  EXPECT_LE(total, TextInkMovedBound * pngTotal)
      << "ink moved " << total << " of " << pngTotal;
}

void ExpectNoExternalReference(const std::string &document) {
  for (const char *word :
       {"href", "url(", "<image", "<script", "<style", "<foreignObject",
        "<!DOCTYPE", "<!ENTITY", "@import"})
    EXPECT_EQ(document.find(word), std::string::npos) << word;
  // No event attribute (onload=, onclick=, ...).
  EXPECT_FALSE(std::regex_search(document, std::regex("\\son[a-z]+\\s*=")));
}

TEST(Svg, SameImageAsThePng) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader, RsvgConvert, Xmllint);
  for (const SvgCase &c : Cases()) {
    SCOPED_TRACE(c.Name + ": " + c.Query);
    const std::string svgQuery =
        c.Query + (c.Query.empty() ? "" : "&") + "fmt=svg";
    const CgiResult png = RunGet(c.Query);
    const CgiResult svg = RunGet(svgQuery);
    EXPECT_EQ(svg.ExitCode, png.ExitCode);
    if (c.Exit != AnyExit) {
      EXPECT_EQ(png.ExitCode, c.Exit);
    }
    if (png.ExitCode != 0 || svg.ExitCode != 0) {
      EXPECT_EQ(svg.Output, png.Output);
      continue;
    }
    ASSERT_TRUE(IsSvgResponse(svg.Output));
    EXPECT_EQ(RunGet(svgQuery).Output, svg.Output) << "not the same bytes";
    const std::string document = svg.Output.substr(sizeof SvgHeader - 1);
    const std::string stem = FileStem(c.Name);
    const std::string svgPath = WriteTestFile(stem + ".svg", document);
    const std::string pngPath =
        WriteTestFile(stem + ".png", PngBody(png.Output));

    int lint = -1;
    RunCommand({"/usr/bin/xmllint", "--noout", svgPath}, &lint);
    EXPECT_EQ(lint, 0) << "not well-formed";
    ExpectNoExternalReference(document);
    RgbImage pngImage, svgImage;
    ASSERT_TRUE(DecodePng(PngBody(png.Output), pngImage));
    const std::string w = std::to_string(pngImage.Width);
    const std::string h = std::to_string(pngImage.Height);
    EXPECT_EQ(
        Xpath(svgPath, "concat(/*/@width,' ',/*/@height,' ',/*/@viewBox)"),
        w + " " + h + " 0 0 " + w + " " + h);
    if (c.Title) {
      EXPECT_EQ(Xpath(svgPath, "string(/*/*[local-name()='title'])"), c.Title);
    }

    const std::string scale1 = Render(svgPath, 1, svgImage);
    ComparePixels(c.Query, pngImage, svgImage);

    const Scan expected = ScanImage(pngPath);
    if (c.Reads & Zbar) {
      EXPECT_NE(expected.Zbar, "") << "zbarimg reads the PNG";
    }
    if (c.Reads & Zxing) {
      EXPECT_NE(expected.Zxing, "") << "ZXingReader reads the PNG";
    }
    if (c.Reads == None)
      continue;
    RgbImage scaled;
    for (const std::string &path : {scale1, Render(svgPath, 3, scaled)}) {
      const Scan read = ScanImage(path);
      EXPECT_EQ(read.Zbar, expected.Zbar) << path;
      EXPECT_EQ(read.Zxing, expected.Zxing) << path;
    }
  }
}

} // namespace

namespace {

// No raster is allocated for an SVG: a request whose raster (about 57 MiB)
// does not fit a 32 MiB address space fails as PNG but is drawn as SVG.
TEST(Svg, AllocatesNoRaster) {
  if (AddressSanitizerBuild())
    GTEST_SKIP() << "the address sanitizer needs more address space";
  const std::string query = "QUERY_STRING=xdim=9000&h=20&text=0";
  const CgiResult png =
      RunCgiInAddressSpace(32768, {"REQUEST_METHOD=GET", query}, "");
  EXPECT_EQ(png.ExitCode, 3);
  const CgiResult svg = RunCgiInAddressSpace(
      32768, {"REQUEST_METHOD=GET", query + "&fmt=svg"}, "");
  EXPECT_EQ(svg.ExitCode, 0);
  EXPECT_TRUE(IsSvgResponse(svg.Output));
}

} // namespace
