#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/GlyphSet.h"
#include "imaging/KeptFontFace.h"
#include "imaging/MyPngWriter.h"
#include "imaging/MySvgWriter.h"
#include "imaging/TextCompositor.h"
#include "support/CgiRunner.h"

using namespace strixel;

namespace {

constexpr std::uint32_t White = 0xFFFFFF;
constexpr std::uint32_t Black = 0x000000;
constexpr double QuarterTurn = 1.5707963267948966;
constexpr int FontHeight = 14;

struct InkBox {
  bool Found = false;
  int Left = 0, Top = 0, Right = 0, Bottom = 0; // inclusive
};

bool IsInked(const CImageWriter &canvas, int x, int y) {
  return canvas.GetRed(x, y) != 255 || canvas.GetGreen(x, y) != 255 ||
         canvas.GetBlue(x, y) != 255;
}

InkBox FindInk(const CImageWriter &canvas) {
  InkBox box;
  for (int y = 0; y < canvas.Height; ++y)
    for (int x = 0; x < canvas.Width; ++x) {
      if (!IsInked(canvas, x, y))
        continue;
      if (!box.Found) {
        box = {true, x, y, x, y};
        continue;
      }
      box.Left = std::min(box.Left, x);
      box.Right = std::max(box.Right, x);
      box.Top = std::min(box.Top, y);
      box.Bottom = std::max(box.Bottom, y);
    }
  return box;
}

std::vector<std::uint8_t> Pixels(const CImageWriter &canvas) {
  std::vector<std::uint8_t> bytes;
  for (const std::uint8_t *row : canvas.Rows)
    bytes.insert(bytes.end(), row, row + 3 * canvas.Width);
  return bytes;
}

// Keeps a picture of a test's canvas under the test output folder.
void SaveCanvas(CMyPngWriter &canvas, const std::string &name) {
  const std::string path = WriteTestFile(name, std::string());
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(canvas.WriteImage(file), 0);
  std::fclose(file);
}

struct Canvas {
  CMyPngWriter Writer;
  Canvas(int width, int height, int dpi = 96)
      : Writer(width, height, nullptr, dpi, dpi, White,
               CMyPngWriter::DefaultCompression) {
    EXPECT_TRUE(Writer.Create());
  }
};

TEST(Text, EmptyTextDrawsNothing) {
  Canvas canvas(60, 40);
  canvas.Writer.DrawString("", FontHeight, 0, 10, 30, 0, 0.0, Black);
  canvas.Writer.DrawStringN("abc", 0, FontHeight, 2, 10, 30, 40, 0.0, Black);
  EXPECT_FALSE(FindInk(canvas.Writer).Found);
  // Nor does it change the transform that the next string is measured
  // under (the one the string before left).
  Canvas with(220, 220), without(220, 220);
  for (Canvas *c : {&with, &without}) {
    c->Writer.DrawString("HHH", FontHeight, 0, 20, 200, 0, 0.7, Black);
    if (c == &with)
      c->Writer.DrawString("", FontHeight, 0, 10, 30, 0, 0.0, Black);
    c->Writer.DrawString("HHH", FontHeight, 2, 20, 60, 160, 0.0, Black);
  }
  EXPECT_TRUE(Pixels(with.Writer) == Pixels(without.Writer));
}

TEST(Text, HeightFallsBackToOneAndAHalfTimesTheFontHeight) {
  // Without Create there is no face, so the character size cannot be set.
  struct Row {
    int FontHeight, Expected;
  } rows[] = {{14, 21}, {15, 22}, {1, 1}, {0, 0}, {-4, -6}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.FontHeight);
    CMyPngWriter writer(10, 10, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    EXPECT_EQ(writer.GetTextHeight(row.FontHeight), row.Expected);
    // Nor can it draw: the call must leave the canvas alone.
    writer.DrawString("abc", row.FontHeight, 0, 1, 9, 0, 0.0, Black);
    EXPECT_TRUE(writer.Rows.empty());
  }
}

TEST(Text, HeightAddsTheDescenderOfJAboveAndBelow) {
  // The band is the font height plus the depth of 'j' on either side: the
  // bottom of 'j' reaches the bottom line, the bottom of 'H' sits on the
  // baseline that depth above it.
  for (int h : {8, 10, 14, 20, 36}) {
    SCOPED_TRACE(h);
    Canvas letterJ(200, 120), letterH(200, 120);
    const int band = letterJ.Writer.GetTextHeight(h);
    EXPECT_GT(band, h);
    EXPECT_EQ((band - h) % 2, 0);
    const int depth = (band - h) / 2;
    letterJ.Writer.DrawString("j", h, 0, 20, 100, 0, 0.0, Black);
    letterH.Writer.DrawString("H", h, 0, 20, 100, 0, 0.0, Black);
    const InkBox j = FindInk(letterJ.Writer);
    const InkBox capital = FindInk(letterH.Writer);
    ASSERT_TRUE(j.Found && capital.Found);
    EXPECT_EQ(j.Bottom, 99);
    EXPECT_EQ(capital.Bottom, 99 - depth);
    // The capital rises roughly to the font's em above the baseline.
    const int capitalHeight = capital.Bottom - capital.Top + 1;
    EXPECT_GT(capitalHeight, h * 96 / 72 / 2);
    EXPECT_LE(capitalHeight, h * 96 / 72 + 1);
  }
}

// The inked pixels in text coordinates: along the rotated baseline from
// the reference point, and up from the bottom line.
struct TextExtent {
  double AlongMin = 1e9, AlongMax = -1e9, UpMin = 1e9, UpMax = -1e9;
};

// Pixels with at least this much ink count; the sub-pixel vertical pen
// offset leaves a trace of a few levels on the far side of an edge.
constexpr int InkThreshold = 16;

TextExtent MeasureInText(const CImageWriter &canvas, int x, int y,
                         double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  TextExtent extent;
  for (int py = 0; py < canvas.Height; ++py)
    for (int px = 0; px < canvas.Width; ++px) {
      if (canvas.GetRed(px, py) > 255 - InkThreshold)
        continue;
      // Pixel centres; the canvas y axis points down.
      const double dx = px + 0.5 - x, dy = py + 0.5 - y;
      const double along = dx * c - dy * s;
      const double up = -dx * s - dy * c;
      extent.AlongMin = std::min(extent.AlongMin, along);
      extent.AlongMax = std::max(extent.AlongMax, along);
      extent.UpMin = std::min(extent.UpMin, up);
      extent.UpMax = std::max(extent.UpMax, up);
    }
  return extent;
}

TEST(Text, InkLiesAboveTheBottomLineAlongTheRotatedBaseline) {
  struct Row {
    const char *Name;
    double Angle;
  } rows[] = {{"0", 0.0},
              {"90", QuarterTurn},
              {"180", 2 * QuarterTurn},
              {"270", 3 * QuarterTurn},
              {"-90", -QuarterTurn}};
  const char *text = "Hjgy";
  const int x = 100, y = 100;
  double uprightLength = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    Canvas canvas(200, 200);
    canvas.Writer.DrawString(text, FontHeight, 0, x, y, 0, row.Angle, Black);
    SaveCanvas(canvas.Writer, std::string("text-angle-") + row.Name + ".png");
    const TextExtent e = MeasureInText(canvas.Writer, x, y, row.Angle);
    const int band = canvas.Writer.GetTextHeight(FontHeight);
    // Starts at the reference point (after the left bearing of 'H')...
    EXPECT_GE(e.AlongMin, 0.0);
    EXPECT_LE(e.AlongMin, 3.0);
    // ...descenders reach the bottom line without crossing it...
    EXPECT_GE(e.UpMin, 0.0);
    EXPECT_LE(e.UpMin, 1.0);
    // ...and nothing rises above the text band.
    EXPECT_LE(e.UpMax, band);
    EXPECT_GE(e.UpMax, band / 2.0);
    const double length = e.AlongMax - e.AlongMin;
    if (row.Angle == 0.0)
      uprightLength = length;
    else
      EXPECT_NEAR(length, uprightLength, 2.0);
  }
  EXPECT_GT(uprightLength, 20.0);
}

// Lengths of the light runs between inked runs along row y.
std::vector<int> GapsAlongRow(const CImageWriter &canvas, int y) {
  std::vector<int> gaps;
  int lastInk = -1;
  for (int x = 0; x < canvas.Width; ++x) {
    if (!IsInked(canvas, x, y))
      continue;
    if (lastInk >= 0 && x > lastInk + 1)
      gaps.push_back(x - lastInk - 1);
    lastInk = x;
  }
  return gaps;
}

TEST(Text, AlignCodesPlaceTheTextWithinTheWidth) {
  struct Row {
    const char *Name;
    int Align;
    double Angle;
  } rows[] = {{"start", 0, 0.0},
              {"end", 1, 0.0},
              {"centre", 2, 0.0},
              {"spread", 3, 0.0},
              {"end upwards", 1, QuarterTurn},
              {"centre upwards", 2, QuarterTurn},
              {"spread upwards", 3, QuarterTurn}};
  const int x = 20, y = 200, width = 160;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    Canvas canvas(220, 220);
    canvas.Writer.DrawString("HHH", FontHeight, row.Align, x, y, width,
                             row.Angle, Black);
    const TextExtent e = MeasureInText(canvas.Writer, x, y, row.Angle);
    const double before = e.AlongMin, after = width - e.AlongMax;
    switch (row.Align) {
    case 0:
      EXPECT_LE(before, 3.0);
      EXPECT_GT(after, 100.0);
      break;
    case 1:
      EXPECT_GT(before, 100.0);
      EXPECT_GE(after, 0.0);
      EXPECT_LE(after, 4.0);
      break;
    case 2:
      EXPECT_GT(before, 50.0);
      EXPECT_NEAR(before, after, 3.0);
      break;
    case 3:
      EXPECT_LE(before, 3.0);
      EXPECT_GE(after, 0.0);
      EXPECT_LE(after, 4.0);
      break;
    }
    if (row.Align == 3 && row.Angle == 0.0) {
      // Spread glyphs: the row through the cross bars of "HHH" shows three
      // bars with equal gaps between them.
      const InkBox ink = FindInk(canvas.Writer);
      std::vector<int> gaps;
      for (int line = ink.Top; line <= ink.Bottom && gaps.size() != 2; ++line)
        gaps = GapsAlongRow(canvas.Writer, line);
      ASSERT_EQ(gaps.size(), 2u);
      EXPECT_GT(gaps[0], 40);
      EXPECT_NEAR(gaps[0], gaps[1], 1);
    }
  }
}

TEST(Text, AlignmentNeedsAWidthAndSpreadingTwoBytes) {
  Canvas reference(120, 60);
  reference.Writer.DrawString("W", FontHeight, 0, 30, 40, 50, 0.0, Black);
  const std::vector<std::uint8_t> start = Pixels(reference.Writer);
  struct Row {
    const char *Name;
    int Align, Width;
  } rows[] = {{"end without width", 1, 0},
              {"centre without width", 2, 0},
              {"spread without width", 3, 0},
              {"spread of one byte", 3, 50}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    Canvas canvas(120, 60);
    canvas.Writer.DrawString("W", FontHeight, row.Align, 30, 40, row.Width, 0.0,
                             Black);
    EXPECT_TRUE(Pixels(canvas.Writer) == start);
  }
}

// The column just right of the ink of text drawn at the reference x.
int InkEnd(const char *text, int fontHeight) {
  Canvas canvas(300, 100);
  canvas.Writer.DrawString(text, fontHeight, 0, 10, 80, 0, 0.0, Black);
  return FindInk(canvas.Writer).Right + 1;
}

TEST(Text, KerningPullsAVTogether) {
  // "AH" has no kerning, so its end less that of "H" is the advance of A.
  // "AV" ends at that advance plus the kerning plus the end of "V".
  const int fontHeight = 40;
  const int advanceA = InkEnd("AH", fontHeight) - InkEnd("H", fontHeight);
  const int kerning =
      InkEnd("AV", fontHeight) - InkEnd("V", fontHeight) - advanceA;
  EXPECT_GT(advanceA, 20);
  EXPECT_LE(kerning, -2);
  EXPECT_GE(kerning, -6);
  // Another pair without a kerning entry keeps the plain advance.
  EXPECT_EQ(InkEnd("AI", fontHeight) - InkEnd("I", fontHeight), advanceA);
}

TEST(Text, HighBytesDrawTheMissingGlyph) {
  Canvas box(80, 60);
  box.Writer.DrawString("\x80", 20, 0, 10, 50, 0, 0.0, Black);
  SaveCanvas(box.Writer, "text-missing-glyph.png");
  const std::vector<std::uint8_t> missing = Pixels(box.Writer);
  const InkBox ink = FindInk(box.Writer);
  ASSERT_TRUE(ink.Found);
  // The missing-glyph shape is a hollow box: inked edges, empty middle.
  const int midX = (ink.Left + ink.Right) / 2,
            midY = (ink.Top + ink.Bottom) / 2;
  EXPECT_TRUE(IsInked(box.Writer, midX, ink.Top));
  EXPECT_TRUE(IsInked(box.Writer, midX, ink.Bottom));
  EXPECT_TRUE(IsInked(box.Writer, ink.Left, midY));
  EXPECT_TRUE(IsInked(box.Writer, ink.Right, midY));
  EXPECT_FALSE(IsInked(box.Writer, midX, midY));
  for (const char *text : {"\xE9", "\xFF", "\xC4"}) {
    SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(text[0])));
    Canvas canvas(80, 60);
    canvas.Writer.DrawString(text, 20, 0, 10, 50, 0, 0.0, Black);
    EXPECT_TRUE(Pixels(canvas.Writer) == missing);
  }
  Canvas letter(80, 60);
  letter.Writer.DrawString("e", 20, 0, 10, 50, 0, 0.0, Black);
  EXPECT_FALSE(Pixels(letter.Writer) == missing);
}

TEST(Text, DrawStringNDrawsOnlyTheFirstBytes) {
  Canvas whole(200, 60), part(200, 60);
  whole.Writer.DrawString("12", FontHeight, 0, 10, 40, 0, 0.0, Black);
  part.Writer.DrawStringN("12345", 2, FontHeight, 0, 10, 40, 0, 0.0, Black);
  EXPECT_TRUE(Pixels(whole.Writer) == Pixels(part.Writer));
  // A count beyond the text stops at its end.
  Canvas shortText(200, 60);
  shortText.Writer.DrawStringN("12", 50, FontHeight, 0, 10, 40, 0, 0.0, Black);
  EXPECT_TRUE(Pixels(whole.Writer) == Pixels(shortText.Writer));
}

TEST(Text, TextIsClippedAtTheCanvasEdges) {
  Canvas canvas(30, 20);
  canvas.Writer.DrawString("Clipped text", 30, 0, -15, 25, 0, 0.0, Black);
  canvas.Writer.DrawString("More", 14, 0, 20, 10, 0, QuarterTurn, Black);
  EXPECT_TRUE(FindInk(canvas.Writer).Found);
  Canvas outside(30, 20);
  outside.Writer.DrawString("Gone", 14, 0, 1000, -1000, 0, 0.0, Black);
  EXPECT_FALSE(FindInk(outside.Writer).Found);
}

TEST(Text, TextTakesItsColour) {
  Canvas canvas(100, 60);
  canvas.Writer.DrawString("I", 40, 0, 20, 55, 0, 0.0, 0x2010F0);
  bool fullInk = false;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x)
      if (canvas.Writer.GetRed(x, y) == 0xF0 &&
          canvas.Writer.GetGreen(x, y) == 0x10 &&
          canvas.Writer.GetBlue(x, y) == 0x20)
        fullInk = true;
  EXPECT_TRUE(fullInk);
}

// The advance of letter in whole pixels, measured as the shift it gives a
// following H (which has no kerning with the letters used here).
int Advance(const std::string &letter, int fontHeight) {
  return InkEnd((letter + "H").c_str(), fontHeight) - InkEnd("H", fontHeight);
}

TEST(Text, PiledGlyphsLookAsIfBlendedOneAfterAnother) {
  // "HO" repeated and spread over half the advance of the pair puts every
  // H at one pen and every O at another, half the difference of their
  // advances along, so the text must look like H and O drawn there as many
  // times, one string after another. Their edges overlap with different
  // coverage, so the order of blending shows. Piles large enough to be
  // composited last to first, and in more than one run of glyphs, are
  // among the rows.
  int fontHeight = 100, h = 0, o = 0;
  for (; fontHeight < 120; ++fontHeight) {
    h = Advance("H", fontHeight);
    o = Advance("O", fontHeight);
    if ((h + o) % 2 == 0)
      break;
  }
  ASSERT_EQ((h + o) % 2, 0);
  struct Row {
    const char *Name;
    int Pairs;
  } rows[] = {{"two pairs", 2}, {"four pairs", 4}, {"1500 pairs", 1500}};
  const std::uint32_t background = 0x996633, colour = 0x2040C0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    Canvas pile(260, 180), oneByOne(260, 180);
    pile.Writer.FillRect(0, 0, 260, 180, background);
    oneByOne.Writer.FillRect(0, 0, 260, 180, background);
    std::string text;
    for (int i = 0; i < row.Pairs; ++i)
      text += "HO";
    pile.Writer.DrawString(text.c_str(), fontHeight, AlignSpread, 30, 170,
                           (h + o) / 2, 0.0, colour);
    for (int i = 0; i < row.Pairs; ++i) {
      oneByOne.Writer.DrawString("H", fontHeight, AlignStart, 30, 170, 0, 0.0,
                                 colour);
      oneByOne.Writer.DrawString("O", fontHeight, AlignStart, 30 + (h - o) / 2,
                                 170, 0, 0.0, colour);
    }
    EXPECT_TRUE(Pixels(pile.Writer) == Pixels(oneByOne.Writer));
  }
}

struct BlendRow {
  const char *Name;
  std::uint32_t Background, Colour;
  std::uint8_t Coverage;
  int Red, Green, Blue;
};

TEST(Text, BlendMixesInvertedChannelsAndTruncates) {
  const BlendRow rows[] = {
      {"full black on white", White, Black, 255, 0, 0, 0},
      // 255 - trunc(255 x 128 / 255) = 127
      {"half black on white", White, Black, 128, 127, 127, 127},
      {"no coverage", White, Black, 0, 255, 255, 255},
      {"full red on white", White, 0x0000FF, 255, 255, 0, 0},
      // Ink of grey 128 is 127; a fifth of it is 25.4, truncated to 25.
      {"fifth of grey on white", White, 0x808080, 51, 230, 230, 230},
      {"full black on grey", 0x646464, Black, 255, 0, 0, 0},
      {"full white on black", Black, White, 255, 255, 255, 255},
  };
  for (const BlendRow &row : rows) {
    SCOPED_TRACE(row.Name);
    Canvas canvas(3, 3);
    canvas.Writer.FillRect(0, 0, 3, 3, row.Background);
    const CTextCompositor compositor(canvas.Writer, row.Colour, 0, 0);
    compositor.Blend(canvas.Writer.Rows[1] + 3, row.Coverage);
    EXPECT_EQ(canvas.Writer.GetRed(1, 1), row.Red);
    EXPECT_EQ(canvas.Writer.GetGreen(1, 1), row.Green);
    EXPECT_EQ(canvas.Writer.GetBlue(1, 1), row.Blue);
  }
}

TEST(Text, ClippedTextKeepsThePixelsThatFallOnTheCanvas) {
  // A text across the edges of a small canvas leaves there exactly what it
  // draws on a larger canvas moved by the margin, so nothing outside is
  // drawn and nothing inside is lost. Both reference rows stay below 64,
  // where the pen has no sub-pixel offset, so the two draw the same glyphs.
  constexpr int Margin = 20;
  struct Row {
    const char *Name;
    int X, Y;
    double Angle;
  } rows[] = {
      {"across the left edge", -8, 30, 0.0},
      {"across the top edge", 4, 12, 0.0},
      {"across the right and bottom edges", 14, 40, 0.0},
      {"turned, across the top edge", 12, 20, QuarterTurn},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    Canvas small(30, 30), large(30 + 2 * Margin, 30 + 2 * Margin);
    small.Writer.DrawString("Wj", 24, 0, row.X, row.Y, 0, row.Angle, Black);
    large.Writer.DrawString("Wj", 24, 0, row.X + Margin, row.Y + Margin, 0,
                            row.Angle, Black);
    ASSERT_TRUE(FindInk(small.Writer).Found);
    int outside = 0;
    for (int y = 0; y < large.Writer.Height; ++y)
      for (int x = 0; x < large.Writer.Width; ++x) {
        const int sx = x - Margin, sy = y - Margin;
        if (sx < 0 || sy < 0 || sx >= 30 || sy >= 30) {
          outside += IsInked(large.Writer, x, y);
          continue;
        }
        ASSERT_EQ(small.Writer.GetRed(sx, sy), large.Writer.GetRed(x, y))
            << sx << "," << sy;
      }
    EXPECT_GT(outside, 0);
  }
}

} // namespace

// One face kept from request to request, as a FastCGI worker keeps it: each
// request (two strings, the second measured after the first) must look as
// drawn by a fresh face, whatever sizes, turns and glyphs came before.
TEST(Text, KeptFaceDrawsEveryRequestAsAFreshFace) {
  std::string ascii;
  for (char c = ' '; c <= '~'; ++c)
    ascii += c;
  const std::string reversed(ascii.rbegin(), ascii.rend());
  struct Request {
    std::string Text;
    int FontHeight;
    int Dpi;
    double Angle;
    int Align;
  };
  const Request requests[] = {
      {ascii, 14, 96, 0.0, AlignStart},
      {reversed, 14, 96, 0.0, AlignCentre}, // the size set before is kept
      {reversed, 14, 72, 0.7, AlignSpread}, // same height, another dpi
      {ascii, 30, 96, QuarterTurn, AlignEnd},
      {"AV To", 30, 96, 0.0, AlignCentre}, // after a turned string
      {ascii, 9, 96, 3 * QuarterTurn, AlignStart},
      {"0123456789", 14, 96, 0.0, AlignEnd},
      // The glyphs kept from the rows above, at other sub-pixel phases.
      {"0123456789", 14, 96, 0.0, AlignSpread},
      {reversed, 30, 96, QuarterTurn, AlignCentre},
      {"Aj 40", 14, 96, 0.7, AlignEnd}, // the turn and dpi of row 3 apart
  };
  CKeptFontFace kept;
  for (const Request &r : requests) {
    auto draw = [&r](CImageWriter &canvas) {
      canvas.DrawString(r.Text.c_str(), r.FontHeight, r.Align, 20, 200, 700,
                        r.Angle, Black);
      canvas.DrawString("Aj", r.FontHeight, AlignCentre, 20, 320, 700, r.Angle,
                        Black);
    };
    Canvas fresh(800, 400, r.Dpi);
    draw(fresh.Writer);
    const CKeptFaceScope lend(kept);
    Canvas borrowing(800, 400, r.Dpi);
    draw(borrowing.Writer);
    EXPECT_TRUE(Pixels(fresh.Writer) == Pixels(borrowing.Writer))
        << r.Text.substr(0, 12) << " at " << r.FontHeight;
  }
  EXPECT_TRUE(kept.IsOpen());
}

// The kept glyphs are let go as a whole once they pass the budget, and only
// then; a face that is closed keeps none.
TEST(Text, KeptGlyphsStayWithinTheirBudget) {
  CKeptFontFace kept;
  auto draw = [&kept](const char *text) {
    const CKeptFaceScope lend(kept);
    Canvas canvas(400, 100, 96);
    canvas.Writer.DrawString(text, 20, AlignStart, 10, 60, 0, 0.0, Black);
  };
  draw("0123456789");
  const std::size_t digits = kept.GlyphBytes();
  ASSERT_GT(digits, 0u);
  draw("0123456789");
  EXPECT_EQ(kept.GlyphBytes(), digits); // drawn again from the kept set
  draw("ABCDEFGHIJ");
  const std::size_t both = kept.GlyphBytes();
  EXPECT_GT(both, digits);
  const struct {
    std::size_t Budget;
    std::size_t Left;
  } rows[] = {{both + 1, both}, {both, both}, {both - 1, 0}};
  for (const auto &row : rows) {
    kept.KeepGlyphsWithin(row.Budget);
    EXPECT_EQ(kept.GlyphBytes(), row.Left) << row.Budget;
  }
  draw("0123456789");
  const std::size_t raster = kept.GlyphBytes();
  EXPECT_GT(raster, 0u);
  {
    // An SVG document renders no bitmaps; its glyphs' outlines count.
    const CKeptFaceScope lend(kept);
    CMySvgWriter svg(400, 100, nullptr, 96, 96, White, "");
    ASSERT_TRUE(svg.Create());
    svg.DrawString("0123456789", 30, AlignStart, 10, 60, 0, 0.0, Black);
  }
  EXPECT_GT(kept.GlyphBytes(), raster + 10 * sizeof(CGlyphSet::Glyph));
  kept.Close();
  EXPECT_EQ(kept.GlyphBytes(), 0u);
}
