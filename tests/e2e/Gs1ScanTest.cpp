#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "support/CgiRunner.h"
#include "support/Readers.h"

namespace {

// Every byte but letters and digits as a %XX escape.
std::string UrlEncoded(const std::string &text) {
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
        (b >= 'a' && b <= 'z')) {
      out.push_back(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", b);
      out += escape;
    }
  }
  return out;
}

// The value of a "Name: value" line of the reader's detailed output.
std::string ZxingField(const std::string &output, const std::string &name) {
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line))
    if (line.compare(0, name.size() + 1, name + ":") == 0) {
      std::size_t value = line.find_first_not_of(' ', name.size() + 1);
      return value == std::string::npos ? std::string() : line.substr(value);
    }
  return std::string();
}

struct Scan {
  int ExitCode = -1;
  int Width = 0;
  std::string Zbar, ZxingBytes, ZxingIdentifier, ZxingContent;
};

Scan Request(const std::string &query, const std::string &name) {
  Scan scan;
  CgiResult result = RunGet(query);
  scan.ExitCode = result.ExitCode;
  const std::string png = PngBody(result.Output);
  RgbImage image;
  if (png.empty() || !DecodePng(png, image))
    return scan;
  scan.Width = image.Width;
  const std::string path = WriteTestFile(name + ".png", png);
  scan.Zbar = RunZbar(path);
  scan.ZxingBytes = RunZxing(path, {"-bytes", "-format", "Code128"});
  const std::string details = RunZxing(path, {"-format", "Code128"});
  scan.ZxingIdentifier = ZxingField(details, "Identifier");
  scan.ZxingContent = ZxingField(details, "Content");
  return scan;
}

// Width at the default module width of 2: n symbol characters of 11
// modules, the 13 of stop and termination bar and two quiet zones of 10.
int DefaultWidth(int characters) {
  return 2 * (11 * characters + 13 + 20);
}

} // namespace

TEST(Gs1Scan, TheMarkedUpDataScansAsGs1) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  struct Row {
    std::string Name;
    int Type;
    std::string Text;
    std::string Data;   // what the readers transmit after ]C1
    int Characters = 0; // start, data and check characters
  } rows[] = {
      {"gs1-128-worked", 15, "<AI01>01234567890128<AI10>ABC<AI21>123",
       "010123456789012810ABC\x1d"
       "21123",
       22},
      {"gs1-128-fixed-lengths", 15,
       "<AI01>10614141000415<AI17>251231<AI3103>001250<AI10>LOT7",
       "0110614141000415172512313103001250"
       "10LOT7",
       0},
      {"gs1-128-separators", 15, "<AI10>AB<FNC1><AI21>1",
       "10AB\x1d\x1d"
       "211",
       0},
      {"gs1-128-literal-tag", 15, "<AI10>A<AI1>B", "10A<AI1>B", 0},
      {"sscc-18", 16, "0012345678901234567", "00123456789012345675", 13},
      {"sscc-18-wrong-check", 16, "00106141411234567890",
       "00106141411234567897", 13},
      {"ean-14", 12, "1234567890123", "12345678901231", 10},
      {"ean-14-wrong-check", 12, "10614141000410", "10614141000415", 10},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    Scan scan = Request("btype=" + std::to_string(row.Type) +
                            "&data=" + UrlEncoded(row.Text),
                        row.Name);
    ASSERT_EQ(scan.ExitCode, 0);
    if (row.Characters > 0) {
      EXPECT_EQ(scan.Width, DefaultWidth(row.Characters));
    }
    EXPECT_EQ(scan.ZxingIdentifier, "]C1");
    EXPECT_EQ(scan.ZxingContent, "GS1");
    EXPECT_EQ(testing::PrintToString(scan.ZxingBytes),
              testing::PrintToString(row.Data));
    EXPECT_EQ(testing::PrintToString(scan.Zbar),
              testing::PrintToString(row.Data));
  }
}

TEST(Gs1Scan, UnmarkedTextIsPlainCode128) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  Scan scan = Request("btype=15&data=ABC123", "gs1-128-plain");
  ASSERT_EQ(scan.ExitCode, 0);
  EXPECT_EQ(scan.ZxingIdentifier, "]C0");
  EXPECT_EQ(scan.ZxingBytes, "ABC123");
  EXPECT_EQ(scan.Zbar, "ABC123");
}

TEST(Gs1Scan, InvalidTextsEndWithError6) {
  struct Row {
    int Type;
    std::string Text;
  } rows[] = {
      {15, ""},
      {15, "<AI10>A\x01"},
      {15, "<AI10>\x87"},
      {15, "<AI10>\xff"},
      {16, "001234567890123456"},
      {16, "00123456789012345678X"},
      {12, "123456789012"},
      {12, "123456789012345"},
      {12, "12345678901A3"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.Type) + " " +
                 testing::PrintToString(row.Text));
    CgiResult result = RunGet("btype=" + std::to_string(row.Type) +
                              "&data=" + UrlEncoded(row.Text) + "&debug=1");
    EXPECT_EQ(result.ExitCode, 6);
    EXPECT_NE(result.Output.find("Error: Invalid barcode text."),
              std::string::npos);
  }
}
