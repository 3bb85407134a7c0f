#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/CgiRunner.h"

namespace {

// POSTNET digits as the postal standard publishes them, 0 to 9: F a
// full-height bar, h a half-height bar. PLANET swaps the two heights.
const char *const PostalDigits[10] = {"FFhhh", "hhhFF", "hhFhF", "hhFFh",
                                      "hFhhF", "hFhFh", "hFFhh", "FhhhF",
                                      "FhhFh", "FhFhh"};

enum class TextAt { Below, Above, Off };

// The image turned back upright: Along runs from the first bar to the
// last, Across from the start corner of the bars into the box (downwards
// at angle 0). Turning is counter-clockwise, so at 90 the pattern runs up
// with its bars growing from the left edge, at 180 leftwards from the
// bottom edge, at 270 downwards from the right edge.
struct Upright {
  const RgbImage &Image;
  int Angle;
  int Along() const {
    return Angle == 90 || Angle == 270 ? Image.Height : Image.Width;
  }
  int Across() const {
    return Angle == 90 || Angle == 270 ? Image.Width : Image.Height;
  }
  bool Dark(int a, int c) const {
    const int w = Image.Width, h = Image.Height;
    switch (Angle) {
    case 90:
      return Image.IsDark(c, h - 1 - a);
    case 180:
      return Image.IsDark(w - 1 - a, h - 1 - c);
    case 270:
      return Image.IsDark(w - 1 - c, a);
    default:
      return Image.IsDark(a, c);
    }
  }
};

// What the pixels say: the bar band, the run widths and the heights.
struct PostalRead {
  int Top = -1, Bottom = -1; // the full bars' extent across
  int Short = 0;             // the half bars' length
  std::vector<int> Bars, Spaces;
  std::string Heights; // F or h per bar
  std::string Faults;  // pixels that are neither a full nor a half bar
};

PostalRead ReadPixels(const Upright &img) {
  PostalRead r;
  int first = 0;
  auto darkColumn = [&](int a) {
    for (int c = 0; c < img.Across(); ++c)
      if (img.Dark(a, c))
        return true;
    return false;
  };
  while (first < img.Along() && !darkColumn(first))
    ++first;
  if (first == img.Along())
    return r;
  // The first bar is a full-height frame bar: its dark run is the band.
  int c = 0;
  while (c < img.Across() && !img.Dark(first, c))
    ++c;
  r.Top = c;
  while (c < img.Across() && img.Dark(first, c))
    ++c;
  r.Bottom = c;
  r.Short = static_cast<int>(std::lround(0.4 * (r.Bottom - r.Top)));
  const int shortTop = r.Bottom - std::max(1, r.Short);
  // Classify each column within the band, then take runs of columns.
  char run = 0;
  int length = 0;
  auto close = [&] {
    if (run == 's')
      r.Spaces.push_back(length);
    else if (run != 0) {
      r.Bars.push_back(length);
      r.Heights += run;
    }
  };
  for (int a = first; a < img.Along(); ++a) {
    bool full = true, half = true, empty = true;
    for (int y = r.Top; y < r.Bottom; ++y) {
      const bool dark = img.Dark(a, y);
      full = full && dark;
      half = half && dark == (y >= shortTop);
      empty = empty && !dark;
    }
    const char kind = full ? 'F' : half ? 'h' : empty ? 's' : '?';
    if (kind == '?')
      r.Faults += "column " + std::to_string(a) + "; ";
    if (kind != run) {
      close();
      run = kind;
      length = 0;
    }
    ++length;
  }
  if (run == 's') // the quiet zone and the box end after the last bar
    run = 0;
  close();
  return r;
}

// The digits of a tall/short sequence: a full frame bar at each end, five
// bars a digit between them.
std::string Decode(const std::string &heights, bool planet) {
  if (heights.size() < 2 || heights.front() != 'F' || heights.back() != 'F' ||
      (heights.size() - 2) % 5 != 0)
    return "?frame";
  std::string digits;
  for (std::size_t i = 1; i + 1 < heights.size(); i += 5) {
    std::string group = heights.substr(i, 5);
    if (planet)
      for (char &h : group)
        h = h == 'F' ? 'h' : 'F';
    int d = 0;
    while (d < 10 && group != PostalDigits[d])
      ++d;
    digits += d < 10 ? static_cast<char>('0' + d) : '?';
  }
  return digits;
}

// Zint's dump of a postal symbol: one row of the full-height bars, one row
// of every bar, one bit a module.
std::string ZintHeights(int btype, const std::string &data) {
  const std::string out = RunCommand(
      {"/usr/bin/zint", "-b", btype == 17 ? "40" : "82", "--dump", "-d", data});
  std::istringstream lines(out);
  std::string tall, any, line;
  for (std::string *row : {&tall, &any}) {
    if (!std::getline(lines, line))
      return std::string();
    std::istringstream bytes(line);
    std::string hex;
    while (bytes >> hex)
      for (int bit = 7; bit >= 0; --bit)
        *row += (std::stoi(hex, nullptr, 16) >> bit & 1) ? '1' : '0';
  }
  std::string heights;
  for (std::size_t i = 0; i < any.size(); ++i)
    if (any[i] == '1')
      heights += tall[i] == '1' ? 'F' : 'h';
  return heights;
}

struct Row {
  const char *Query;
  int Angle;
  TextAt Text;
  int Module;    // pixels a module
  int Reduction; // pixels taken off every bar
  const char *Digits;
};

// Both types at every angle with the text below, above and hidden; the
// length computed at the default two pixels a module or a fixed box, whose
// module width is the box length over the modules (digits x 10 + 3 and two
// quiet zones of 10).
const Row Rows[] = {
    {"btype=17&data=12345", 0, TextAt::Below, 2, 0, "123455"},
    {"btype=18&data=12345", 0, TextAt::Below, 2, 0, "123455"},
    {"btype=17&data=12345&angle=90&tdown=0", 90, TextAt::Above, 2, 0, "123455"},
    {"btype=18&data=12345&angle=180&text=0", 180, TextAt::Off, 2, 0, "123455"},
    {"btype=17&data=123456789&angle=270", 270, TextAt::Below, 2, 0,
     "1234567895"},
    {"btype=18&data=123456789&w=699&h=120&tdown=0", 0, TextAt::Above, 5, 0,
     "1234567895"},
    {"btype=17&data=12345&angle=90&w=100&h=400&text=0", 90, TextAt::Off, 4, 0,
     "123455"},
    {"btype=18&data=12345&angle=270&w=90&h=300", 270, TextAt::Below, 3, 0,
     "123455"},
    {"btype=17&data=12345&angle=180&w=500&h=60&tdown=0", 180, TextAt::Above, 6,
     0, "123455"},
    {"btype=18&data=0123456789&cchk=0&xdim=1&text=0", 0, TextAt::Off, 1, 0,
     "0123456789"},
    {"btype=17&data=12345&w=500&bred=50", 0, TextAt::Below, 6, 3, "123455"},
};

TEST(PostalScan, TallAndShortBarsReadBackFromPixels) {
  const bool zint = access("/usr/bin/zint", X_OK) == 0;
  if (!zint)
    std::cout << "zint is not installed: no second opinion on the heights\n";
  for (const Row &row : Rows) {
    SCOPED_TRACE(row.Query);
    const CgiResult result = RunGet(row.Query);
    ASSERT_EQ(result.ExitCode, 0);
    ASSERT_TRUE(IsPngResponse(result.Output));
    std::string name = "postal-";
    for (const char *p = row.Query; *p; ++p)
      name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    WriteTestFile(name + ".png", PngBody(result.Output));
    RgbImage image;
    ASSERT_TRUE(DecodePng(PngBody(result.Output), image));
    const Upright img{image, row.Angle};
    const PostalRead read = ReadPixels(img);
    const bool planet = std::string(row.Query).find("btype=18") == 0;
    EXPECT_EQ(Decode(read.Heights, planet), row.Digits);
    EXPECT_EQ(read.Faults, "");
    // The full bars reach the box edge on the side where no text is.
    EXPECT_EQ(read.Top == 0, row.Text != TextAt::Above);
    EXPECT_EQ(read.Bottom == img.Across(), row.Text != TextAt::Below);
    EXPECT_GE(read.Short, 1);
    EXPECT_LT(read.Short, read.Bottom - read.Top);
    // Every bar and every space one module, less and more the reduction.
    EXPECT_EQ(read.Bars,
              std::vector<int>(read.Bars.size(), row.Module - row.Reduction));
    EXPECT_EQ(read.Spaces, std::vector<int>(read.Bars.size() - 1,
                                            row.Module + row.Reduction));
    if (zint) {
      std::string data = row.Query;
      data = data.substr(data.find("data=") + 5);
      data = data.substr(0, data.find('&'));
      // Zint always adds the correction digit.
      if (std::string(row.Query).find("cchk=0") == std::string::npos) {
        EXPECT_EQ(ZintHeights(planet ? 18 : 17, data), read.Heights);
      }
    }
  }
}

} // namespace
