#include <gtest/gtest.h>

#include "support/CgiRunner.h"
#include "support/Readers.h"

namespace {

// Code 128 of "1234567" (Start C, 12, 34, 56, CODE B, "7", check, stop) is
// 90 modules; with two quiet zones of 10 it is 110, 220 pixels at the
// default module width of 2.
constexpr int DefaultWidth = 220;

struct Response {
  CgiResult Result;
  RgbImage Image;
  std::string Path;
};

Response Get(const std::string &query, const std::string &name) {
  Response r;
  r.Result = RunGet(query);
  std::string png = PngBody(r.Result.Output);
  if (!png.empty()) {
    r.Path = WriteTestFile(name + ".png", png);
    DecodePng(png, r.Image);
  }
  return r;
}

} // namespace

TEST(Code128Scan, TheDefaultRequestDraws1234567) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  Response r = Get("", "code128-default");
  ASSERT_EQ(r.Result.ExitCode, 0);
  ASSERT_TRUE(IsPngResponse(r.Result.Output));
  EXPECT_EQ(r.Image.Width, DefaultWidth);
  EXPECT_EQ(r.Image.Height, 200);
  EXPECT_EQ(RunZbar(r.Path), "1234567");
  EXPECT_EQ(RunZxing(r.Path, {"-bytes", "-format", "Code128"}), "1234567");
}

TEST(Code128Scan, EveryAngleScans) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  struct Row {
    int Angle, Width, Height;
  } rows[] = {{0, DefaultWidth, 200},
              {90, 200, DefaultWidth},
              {180, DefaultWidth, 200},
              {270, 200, DefaultWidth}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Angle);
    Response r = Get("angle=" + std::to_string(row.Angle),
                     "code128-angle" + std::to_string(row.Angle));
    ASSERT_EQ(r.Result.ExitCode, 0);
    EXPECT_EQ(r.Image.Width, row.Width);
    EXPECT_EQ(r.Image.Height, row.Height);
    EXPECT_EQ(RunZbar(r.Path), "1234567");
    EXPECT_EQ(RunZxing(r.Path, {"-bytes", "-format", "Code128"}), "1234567");
  }
}

TEST(Code128Scan, TextsAndSetsScan) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  struct Row {
    std::string Query, Expected;
  } rows[] = {
      {"data=Hello%20World", "Hello World"},
      {"data=A1234B&xdim=3", "A1234B"},
      {"data=12345&c128=2", "12345"},
      {"data=ABC&c128=1", "ABC"},
      {"data=00123456&c128=3", "00123456"},
      {"data=" + std::string(40, '7') + "x", std::string(40, '7') + "x"},
  };
  int n = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Query);
    Response r = Get(row.Query, "code128-text" + std::to_string(n++));
    ASSERT_EQ(r.Result.ExitCode, 0);
    EXPECT_EQ(RunZbar(r.Path), row.Expected);
    EXPECT_EQ(RunZxing(r.Path, {"-bytes", "-format", "Code128"}), row.Expected);
  }
}

TEST(Code128Scan, SizeRules) {
  struct Row {
    std::string Query;
    int Width, Height;
  } rows[] = {
      {"w=300&angle=90", 300, DefaultWidth},
      {"h=150", DefaultWidth, 150},
      {"w=400&h=100", 400, 100},
      {"h=300&angle=270", 200, 300},
      {"xdim=3", 330, 200},
      {"xdim=2.6", 220, 200},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Query);
    Response r = Get(row.Query, "code128-size");
    ASSERT_EQ(r.Result.ExitCode, 0);
    EXPECT_EQ(r.Image.Width, row.Width);
    EXPECT_EQ(r.Image.Height, row.Height);
  }
}

TEST(Code128Scan, FailuresWriteTheErrorPageOnlyWithDebug) {
  struct Row {
    std::string Query;
    int Code;
    std::string Message;
  } rows[] = {
      {"data=%01", 6, "Error: Invalid barcode text."},
      {"data=&btype=7", 6, "Error: Invalid barcode text."},
      {"w=50", 5, "Error: Invalid barcode size."},
      {"xdim=2000000000", 1, "Error: Invalid argument."},
      {"w2n=1e300&data=x", 0, ""},
      {"fh=2147483647", 5, "Error: Invalid barcode size."},
      {"xdim=100000", 3, "Error: Cant initialize PNG creator."},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Query);
    CgiResult quiet = RunGet(row.Query);
    EXPECT_EQ(quiet.ExitCode, row.Code);
    if (row.Code != 0) {
      EXPECT_TRUE(quiet.Output.empty()) << quiet.Output.size() << " bytes";
    }
    CgiResult debug = RunGet(row.Query + "&debug=1");
    EXPECT_EQ(debug.ExitCode, row.Code);
    if (row.Code == 0)
      continue;
    EXPECT_EQ(debug.Output.substr(0, 300),
              std::string(HtmlHeader) +
                  "<html><head><title>Strixel application</title></head>"
                  "<body>\n<b><font color='#ff0000'>" +
                  row.Message + "</font></b>\n</body></html>\n");
  }
}
