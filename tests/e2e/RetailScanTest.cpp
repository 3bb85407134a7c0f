// Retail symbols drawn by the CGI program: the independent readers must
// decode them to the full number with its check digit, and the digits of
// the human-readable text must sit where the retail layouts put them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/CgiRunner.h"
#include "support/Readers.h"

namespace {

bool FetchImage(const std::string &query, RgbImage &image,
                std::string *pngPath = nullptr, const char *name = nullptr) {
  const CgiResult result = RunGet(query);
  if (result.ExitCode != 0 || !IsPngResponse(result.Output))
    return false;
  const std::string png = PngBody(result.Output);
  if (pngPath)
    *pngPath = WriteTestFile(name, png);
  return DecodePng(png, image);
}

std::string FileName(std::string text) {
  for (char &c : text)
    if (c == '&' || c == '=')
      c = '_';
  return "retail_" + text + ".png";
}

// ---------------------------------------------------------------- scanning

struct ScanRow {
  const char *name;
  const char *query;
  const char *zbar;        // zbarimg's answer, empty when it cannot read it
  const char *zxingFormat; // ZXingReader's format name
  const char *number;      // full number with check digit
};

TEST(RetailScan, ReadersDecodeTheFullNumber) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  const ScanRow rows[] = {
      {"EAN-13", "btype=11&data=590123412345", "EAN-13:5901234123457", "EAN-13",
       "5901234123457"},
      {"EAN-13 wrong check", "btype=11&data=5901234123450",
       "EAN-13:5901234123457", "EAN-13", "5901234123457"},
      {"EAN-13 leading 0", "btype=11&data=0012345678905", "UPC-A:012345678905",
       "UPC-A", "012345678905"},
      {"EAN-8", "btype=10&data=9638507", "EAN-8:96385074", "EAN-8", "96385074"},
      {"UPC-A", "btype=13&data=03600029145", "UPC-A:036000291452", "UPC-A",
       "036000291452"},
      {"UPC-A given check", "btype=13&data=012345678905", "UPC-A:012345678905",
       "UPC-A", "012345678905"},
      {"UPC-E rule 4", "btype=14&data=01234500006", "UPC-E:01234565", "UPC-E",
       "01234565"},
      {"UPC-E rule 1", "btype=14&data=04210000526", "UPC-E:04252614", "UPC-E",
       "04252614"},
      {"UPC-E rule 2", "btype=14&data=01230000045", "UPC-E:01234531", "UPC-E",
       "01234531"},
      {"UPC-E rule 3", "btype=14&data=01234000005", "UPC-E:01234543", "UPC-E",
       "01234543"},
      // zbarimg reads no UPC-E of number system 1.
      {"UPC-E number system 1", "btype=14&data=11234500006", "", "UPC-E",
       "11234562"},
  };
  for (const ScanRow &row : rows) {
    for (int angle : {0, 90}) {
      for (int xdim : {1, 2, 3, 5}) {
        const std::string query = std::string(row.query) +
                                  "&angle=" + std::to_string(angle) +
                                  "&xdim=" + std::to_string(xdim);
        SCOPED_TRACE(std::string(row.name) + ": " + query);
        RgbImage image;
        std::string path;
        ASSERT_TRUE(FetchImage(query, image, &path, FileName(query).c_str()));
        EXPECT_EQ(RunZxing(path, {"-1", "-format", row.zxingFormat}),
                  path + " " + row.zxingFormat + " \"" + row.number + "\"");
        // zbarimg misses some one-pixel modules, so it reads from 2 up.
        if (*row.zbar && xdim > 1) {
          EXPECT_EQ(RunCommand({"/usr/bin/zbarimg", "--quiet", "-Supca.enable",
                                "-Supce.enable", path}),
                    row.zbar);
        }
      }
    }
  }
}

// ------------------------------------------------------------- text layout

// Horizontal symbol (angle 0), sized by xdim so that the pattern starts one
// quiet zone in (or at 0 without quiet zones).
struct Picture {
  RgbImage image;
  int m = 0;
  int x0 = 0;
  std::vector<int> barLength; // dark run from the top, per column
  int shortest = 0;           // length of ordinary bars
  int longest = 0;            // length of guard bars
};

bool Draw(const std::string &query, int m, bool quiet, Picture &p) {
  if (!FetchImage(query + "&xdim=" + std::to_string(m), p.image, nullptr))
    return false;
  p.m = m;
  p.x0 = quiet ? 10 * m : 0;
  p.barLength.assign(p.image.Width, 0);
  p.shortest = p.image.Height;
  for (int x = 0; x < p.image.Width; ++x) {
    const std::vector<Run> runs = ColumnRuns(p.image, x);
    if (!runs.empty() && runs[0].Dark) {
      p.barLength[x] = runs[0].Length;
      p.shortest = std::min(p.shortest, runs[0].Length);
      p.longest = std::max(p.longest, runs[0].Length);
    }
  }
  return true;
}

// Column ranges of text ink below the ends of all bars: one per glyph.
struct Span {
  int first;
  int last;
};

std::vector<Span> Glyphs(const Picture &p) {
  std::vector<Span> glyphs;
  bool inGlyph = false;
  for (int x = 0; x < p.image.Width; ++x) {
    bool ink = false;
    for (int y = p.longest; y < p.image.Height && !ink; ++y)
      ink = p.image.IsDark(x, y);
    if (ink && inGlyph)
      glyphs.back().last = x;
    else if (ink)
      glyphs.push_back({x, x});
    inGlyph = ink;
  }
  return glyphs;
}

// A stretch of the length axis in modules from the first bar.
struct Region {
  double from;
  double to;
  int glyphs;
};

struct LayoutRow {
  const char *name;
  const char *query;
  bool quiet;
  std::vector<Region> regions;
};

constexpr double Before = -1000;
constexpr double After = 1000;

// Every glyph lies inside one region, and each region has its count.
void ExpectGlyphRegions(const LayoutRow &row, int m) {
  Picture p;
  ASSERT_TRUE(Draw(row.query, m, row.quiet, p));
  const std::vector<Span> glyphs = Glyphs(p);
  std::vector<int> counts(row.regions.size(), 0);
  for (const Span &g : glyphs) {
    bool placed = false;
    for (std::size_t r = 0; r < row.regions.size(); ++r) {
      const double from = p.x0 + row.regions[r].from * m;
      const double to = p.x0 + row.regions[r].to * m;
      if (g.first >= from && g.last < to) {
        ++counts[r];
        placed = true;
      }
    }
    EXPECT_TRUE(placed) << "glyph at columns " << g.first << ".." << g.last;
  }
  for (std::size_t r = 0; r < row.regions.size(); ++r)
    EXPECT_EQ(counts[r], row.regions[r].glyphs) << "region " << r;
}

TEST(RetailText, GroupsSitWhereTheLayoutPutsThem) {
  // Regions: before the first bar, the halves (between the guards, one
  // module of inset on each side) and after the last bar.
  const Region ean13Left = {3, 46, 6}, ean13Right = {49, 92, 7};
  const LayoutRow rows[] = {
      {"EAN-13 mode 6 by default",
       "btype=11&data=590123412345",
       true,
       {{Before, 0, 0}, ean13Left, ean13Right, {95, After, 0}}},
      {"EAN-13 mode 6",
       "btype=11&data=590123412345&talign=6",
       true,
       {{Before, 0, 0}, ean13Left, ean13Right, {95, After, 0}}},
      {"EAN-13 mode 4",
       "btype=11&data=590123412345&talign=4",
       true,
       {{Before, -1, 1}, {3, 46, 6}, {49, 92, 6}, {95, After, 0}}},
      {"EAN-13 mode 5",
       "btype=11&data=590123412345&talign=5",
       true,
       {{Before, -1, 1}, {3, 46, 5}, {49, 92, 6}, {96, After, 1}}},
      {"EAN-13 mode 5 without check",
       "btype=11&data=590123412345&talign=5&"
       "schk=0",
       true,
       {{Before, -1, 1}, {3, 46, 5}, {49, 92, 5}, {96, After, 1}}},
      {"EAN-13 mode 4 without guards",
       "btype=11&data=590123412345&talign=4&"
       "guard=0",
       true,
       {{Before, -1, 1}, {3, 46, 6}, {49, 92, 6}, {95, After, 0}}},
      {"EAN-13 mode 4 without quiet zones is mode 6",
       "btype=11&data=590123412345&talign=4&quiet=0",
       false,
       {ean13Left, ean13Right}},
      {"EAN-13 mode 5 without quiet zones is mode 6",
       "btype=11&data=590123412345&talign=5&quiet=0",
       false,
       {ean13Left, ean13Right}},
      {"UPC-A mode 6",
       "btype=13&data=03600029145",
       true,
       {{Before, 0, 0}, {3, 46, 6}, {49, 92, 6}, {95, After, 0}}},
      {"UPC-A mode 4",
       "btype=13&data=03600029145&talign=4",
       true,
       {{Before, -1, 1}, {3, 46, 5}, {49, 92, 6}, {95, After, 0}}},
      {"UPC-A mode 5",
       "btype=13&data=03600029145&talign=5",
       true,
       {{Before, -1, 1}, {3, 46, 5}, {49, 92, 5}, {96, After, 1}}},
      {"EAN-8 mode 6",
       "btype=10&data=9638507",
       true,
       {{Before, 0, 0}, {3, 32, 4}, {35, 64, 4}, {67, After, 0}}},
      {"EAN-8 mode 4",
       "btype=10&data=9638507&talign=4",
       true,
       {{Before, -1, 1}, {3, 32, 3}, {35, 64, 4}, {67, After, 0}}},
      {"EAN-8 mode 5",
       "btype=10&data=9638507&talign=5",
       true,
       {{Before, -1, 1}, {3, 32, 3}, {35, 64, 3}, {68, After, 1}}},
      {"EAN-8 mode 5 without quiet zones is mode 6",
       "btype=10&data=9638507&talign=5&quiet=0",
       false,
       {{3, 32, 4}, {35, 64, 4}}},
      {"UPC-E mode 6",
       "btype=14&data=01234500006",
       true,
       {{Before, 0, 0}, {3, 46, 8}, {52, After, 0}}},
      {"UPC-E mode 4",
       "btype=14&data=01234500006&talign=4",
       true,
       {{Before, -1, 1}, {3, 46, 7}, {52, After, 0}}},
      {"UPC-E mode 5",
       "btype=14&data=01234500006&talign=5",
       true,
       {{Before, -1, 1}, {3, 46, 6}, {52, After, 1}}},
      {"UPC-E mode 5 without check",
       "btype=14&data=01234500006&talign=5&"
       "schk=0",
       true,
       {{Before, -1, 1}, {3, 46, 5}, {52, After, 1}}},
      {"UPC-E mode 5 without quiet zones is mode 6",
       "btype=14&data=01234500006&talign=5&quiet=0",
       false,
       {{3, 46, 8}}},
  };
  for (const LayoutRow &row : rows) {
    // From three pixels a module the 14-point digits stay apart.
    for (int m : {3, 4}) {
      SCOPED_TRACE(std::string(row.name) + ", xdim " + std::to_string(m));
      ExpectGlyphRegions(row, m);
    }
  }
}

TEST(RetailText, GuardBarsReachHalfWayIntoTheTextBand) {
  struct Row {
    const char *name;
    const char *query;
    std::vector<int> guardModules; // modules drawn as guard bars
  } const rows[] = {
      {"EAN-13", "btype=11&data=590123412345", {0, 2, 46, 48, 92, 94}},
      {"EAN-8", "btype=10&data=9638507", {0, 2, 32, 34, 64, 66}},
      {"UPC-A", "btype=13&data=03600029145", {0, 2, 46, 48, 92, 94}},
      {"UPC-E", "btype=14&data=01234500006", {0, 2, 46, 48, 50}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const int m = 3;
    Picture p;
    ASSERT_TRUE(Draw(row.query, m, true, p));
    const int height = p.image.Height;
    const int band = height - p.shortest;
    ASSERT_GT(band, 0);
    EXPECT_EQ(p.longest, height - band / 2);
    for (int x = 0; x < p.image.Width; ++x) {
      const int module = (x - p.x0) / m;
      const bool guard =
          x >= p.x0 &&
          std::find(row.guardModules.begin(), row.guardModules.end(), module) !=
              row.guardModules.end();
      const int expected =
          guard ? p.longest : (p.barLength[x] != 0 ? p.shortest : 0);
      EXPECT_EQ(p.barLength[x], expected) << "column " << x;
    }
  }
}

TEST(RetailText, WithoutGuardsTheTextIsOnePlainLine) {
  // Alignment codes 0 start, 1 end, 2 centre, 3 spread over the pattern.
  struct Row {
    const char *query;
    int align;
    std::size_t glyphs;
    int pattern; // modules
  } const rows[] = {
      {"btype=11&data=590123412345&guard=0&talign=0", 0, 13, 95},
      {"btype=11&data=590123412345&guard=0&talign=1", 1, 13, 95},
      {"btype=11&data=590123412345&guard=0&talign=2", 2, 13, 95},
      {"btype=11&data=590123412345&guard=0&talign=3", 3, 13, 95},
      {"btype=13&data=03600029145&guard=0&talign=2&schk=0", 2, 11, 95},
      {"btype=10&data=9638507&guard=0&talign=1", 1, 8, 67},
      {"btype=14&data=01234500006&guard=0", 0, 8, 52},
  };
  const int m = 3;
  const int bearing = 3; // glyph side bearings are a pixel or two
  for (const Row &row : rows) {
    SCOPED_TRACE(row.query);
    const int align = row.align;
    Picture p;
    ASSERT_TRUE(Draw(row.query, m, true, p));
    EXPECT_EQ(p.longest, p.shortest); // guard bars are ordinary bars
    const std::vector<Span> glyphs = Glyphs(p);
    ASSERT_EQ(glyphs.size(), row.glyphs);
    const int first = glyphs.front().first - p.x0;
    const int last = glyphs.back().last - p.x0;
    const int end = row.pattern * m - 1;
    if (align == 0 || align == 3) {
      EXPECT_LE(first, bearing);
    }
    if (align == 1 || align == 3) {
      EXPECT_LE(end - last, bearing);
    }
    if (align == 2) {
      EXPECT_LE(std::abs((first + last) - end), 2 * bearing);
    }
    // A line at the font's own advance has no wide gaps, unlike the groups
    // of the retail layout.
    for (std::size_t g = 1; g < glyphs.size() && align != 3; ++g)
      EXPECT_LT(glyphs[g].first - glyphs[g - 1].last, 2 * m);
  }
}

TEST(RetailText, InvalidNumbersAreReportedAsInvalidText) {
  for (const char *query :
       {"btype=11&data=59012341234", "btype=10&data=963850741",
        "btype=13&data=0360002914", "btype=14&data=01234567890",
        "btype=14&data=21234500006", "btype=8&data=123", "btype=9&data=1234"}) {
    SCOPED_TRACE(query);
    const CgiResult result = RunGet(query);
    EXPECT_EQ(result.ExitCode, 6);
    EXPECT_TRUE(result.Output.empty());
  }
}

} // namespace
