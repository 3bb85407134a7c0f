#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "engine/ErrorCodes.h"
#include "imaging/MyPngWriter.h"

using namespace strixel;

namespace {

constexpr std::uint32_t White = 0xFFFFFF;

struct Rgb {
  int Red, Green, Blue;
};

Rgb PixelAt(const CImageWriter &canvas, int x, int y) {
  return {canvas.GetRed(x, y), canvas.GetGreen(x, y), canvas.GetBlue(x, y)};
}

bool IsWhiteEverywhere(const CImageWriter &canvas) {
  for (int y = 0; y < canvas.Height; ++y)
    for (int x = 0; x < canvas.Width; ++x) {
      const Rgb p = PixelAt(canvas, x, y);
      if (p.Red != 255 || p.Green != 255 || p.Blue != 255)
        return false;
    }
  return true;
}

TEST(Canvas, IsWhiteAfterCreate) {
  struct Row {
    int Width, Height;
  } rows[] = {{1, 1}, {7, 3}, {300, 2}, {2, 300}};
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.Width) + "x" + std::to_string(row.Height));
    CMyPngWriter canvas(row.Width, row.Height, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    ASSERT_TRUE(canvas.Create());
    ASSERT_EQ(canvas.Rows.size(), static_cast<std::size_t>(row.Height));
    EXPECT_EQ(canvas.BitDepth, 8);
    EXPECT_TRUE(IsWhiteEverywhere(canvas));
  }
}

TEST(Canvas, SetPixelStoresRedGreenBlueInThatOrder) {
  CMyPngWriter canvas(4, 2, nullptr, 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  ASSERT_TRUE(canvas.Create());
  // The top byte of a colour is ignored.
  canvas.SetPixel(2, 1, 0xAA563412);
  EXPECT_EQ(canvas.Rows[1][6], 0x12);
  EXPECT_EQ(canvas.Rows[1][7], 0x34);
  EXPECT_EQ(canvas.Rows[1][8], 0x56);
  EXPECT_EQ(canvas.GetRed(2, 1), 0x12);
  EXPECT_EQ(canvas.GetGreen(2, 1), 0x34);
  EXPECT_EQ(canvas.GetBlue(2, 1), 0x56);
  EXPECT_EQ(canvas.Rows[1][9], 0xFF);
}

struct FillRow {
  const char *Name;
  int X, Y, Width, Height;
  std::uint32_t Colour;
  // The covered pixels after clipping to the 10 x 8 canvas.
  int Left, Top, Right, Bottom;
  Rgb Expected;
};

TEST(Canvas, FillRectCoversItsClippedRectangle) {
  const FillRow rows[] = {
      // Colours with three equal bytes take the block fill.
      {"black block", 1, 2, 3, 4, 0x000000, 1, 2, 4, 6, {0, 0, 0}},
      {"grey block", 0, 0, 10, 8, 0x808080, 0, 0, 10, 8, {128, 128, 128}},
      {"red per pixel", 2, 1, 5, 2, 0x0000FF, 2, 1, 7, 3, {255, 0, 0}},
      {"mixed per pixel",
       9,
       7,
       1,
       1,
       0x563412,
       9,
       7,
       10,
       8,
       {0x12, 0x34, 0x56}},
      {"left and top clipped", -3, -2, 5, 4, 0x000000, 0, 0, 2, 2, {0, 0, 0}},
      {"right and bottom clipped",
       8,
       6,
       5,
       5,
       0x00FF00,
       8,
       6,
       10,
       8,
       {0, 255, 0}},
      {"huge extent", 5, 5, INT_MAX, INT_MAX, 0x000000, 5, 5, 10, 8, {0, 0, 0}},
      {"from far left",
       INT_MIN,
       3,
       INT_MAX,
       1,
       0x000000,
       0,
       0,
       0,
       0,
       {0, 0, 0}},
      {"wholly outside", 10, 0, 4, 4, 0x000000, 0, 0, 0, 0, {0, 0, 0}},
      {"above the canvas", 0, -5, 4, 5, 0x000000, 0, 0, 0, 0, {0, 0, 0}},
      {"zero width", 2, 2, 0, 3, 0x000000, 0, 0, 0, 0, {0, 0, 0}},
      {"zero height", 2, 2, 3, 0, 0x000000, 0, 0, 0, 0, {0, 0, 0}},
      {"negative width", 5, 2, -3, 3, 0x000000, 0, 0, 0, 0, {0, 0, 0}},
      {"negative height", 2, 5, 3, -3, 0x0000FF, 0, 0, 0, 0, {255, 0, 0}},
  };
  for (const FillRow &row : rows) {
    SCOPED_TRACE(row.Name);
    CMyPngWriter canvas(10, 8, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    ASSERT_TRUE(canvas.Create());
    canvas.FillRect(row.X, row.Y, row.Width, row.Height, row.Colour);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool covered =
            x >= row.Left && x < row.Right && y >= row.Top && y < row.Bottom;
        const Rgb want = covered ? row.Expected : Rgb{255, 255, 255};
        const Rgb got = PixelAt(canvas, x, y);
        ASSERT_TRUE(got.Red == want.Red && got.Green == want.Green &&
                    got.Blue == want.Blue)
            << "pixel " << x << "," << y << " is " << got.Red << ","
            << got.Green << "," << got.Blue;
      }
  }
}

TEST(Canvas, FillRectBeforeCreateChangesNothing) {
  CMyPngWriter canvas(10, 8, nullptr, 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  canvas.FillRect(0, 0, 10, 8, 0x000000);
  EXPECT_TRUE(canvas.Rows.empty());
}

struct SizeRow {
  int Width, Height;
  bool Accepted;
};

TEST(Canvas, CreateRefusesRastersBeyondTheLimits) {
  static_assert(CImageWriter::MaxSidePixels == 1000000, "encoder limit");
  static_assert(CImageWriter::MaxRasterBytes == 64LL * 1024 * 1024, "64 MiB");
  const SizeRow rows[] = {
      {0, 10, false},
      {10, 0, false},
      {-1, 5, false},
      {5, -1, false},
      {INT_MIN, INT_MIN, false},
      {1000000, 1, true},
      {1000001, 1, false},
      {1, 1000001, false},
      {INT_MAX, INT_MAX, false},
      // 3 x 1024 x 21845 bytes is just below 64 MiB, one row more above.
      {1024, 21845, true},
      {1024, 21846, false},
      {1000000, 23, false},
  };
  for (const SizeRow &row : rows) {
    SCOPED_TRACE(std::to_string(row.Width) + "x" + std::to_string(row.Height));
    CMyPngWriter canvas(row.Width, row.Height, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    EXPECT_EQ(canvas.Create(), row.Accepted);
    EXPECT_EQ(canvas.Rows.size(),
              row.Accepted ? static_cast<std::size_t>(row.Height) : 0u);
  }
}

TEST(Canvas, CreateFailsWhenTheFontCannotBeOpened) {
  // The rows exist by then; the destructor must still free them.
  CMyPngWriter canvas(20, 10, "/nonexistent/font.ttf", 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  EXPECT_FALSE(canvas.Create());
}

TEST(Canvas, CreateOpensAFontFileWhenGivenOne) {
  const std::string path =
      std::string(STRIXEL_SOURCE_DIR) + "/imaging/DejaVuSans.ttf";
  CMyPngWriter canvas(20, 10, path.c_str(), 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  EXPECT_TRUE(canvas.Create());
}

TEST(Canvas, TextEngineStartReportsOurOwnCodes) {
  // FreeType's codes for a missing file (1) and an unknown format (2) would
  // read as other request errors: Init answers with the canvas's code.
  const std::string source = STRIXEL_SOURCE_DIR;
  const std::string font = source + "/imaging/DejaVuSans.ttf";
  const std::string notAFont = source + "/imaging/DejaVuSans-LICENSE.txt";
  struct Row {
    const char *Name;
    bool HasOwner;
    const char *FontPath;
    int Expected;
  } rows[] = {
      {"embedded font", true, nullptr, Success},
      {"font file", true, font.c_str(), Success},
      {"no such file", true, "/nonexistent/font.ttf", CannotCreateCanvas},
      {"not a font", true, notAFont.c_str(), CannotCreateCanvas},
      {"no owner", false, nullptr, InvalidArgument},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    CMyPngWriter canvas(4, 4, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    CImageWriter::CFreeTypeLib engine(row.HasOwner ? &canvas : nullptr,
                                      row.FontPath, 96, 96);
    EXPECT_EQ(engine.Init(), row.Expected);
  }
}

TEST(Canvas, CreateTwiceGivesAFreshWhiteCanvas) {
  CMyPngWriter canvas(6, 4, nullptr, 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  ASSERT_TRUE(canvas.Create());
  canvas.FillRect(0, 0, 6, 4, 0x000000);
  ASSERT_TRUE(canvas.Create());
  EXPECT_EQ(canvas.Rows.size(), 4u);
  EXPECT_TRUE(IsWhiteEverywhere(canvas));
}

} // namespace
