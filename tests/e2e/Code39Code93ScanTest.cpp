// Draws Code 39, Code 39 Extended, Code 93 and Code 93 Extended through the
// CGI and reads the images back with zbarimg and ZXingReader.
//
// What the installed readers do with these symbologies:
// - Code 39: both return the characters as they are, the optional check
//   character included (neither verifies or removes it), and neither
//   resolves the full-ASCII pairs ($M, +A, ...) of Code 39 Extended.
// - Code 93: both verify and remove the C and K check characters and
//   resolve the shift characters, so Code 93 Extended reads back as the
//   original bytes.
// Neither needs an option to find these symbologies; ZXingReader is run
// with "-bytes -format CodeNN" to get only the decoded bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/CgiRunner.h"
#include "support/Readers.h"

namespace {

constexpr int Code39Type = 2;
constexpr int Code39ExtType = 3;
constexpr int Code93Type = 19;
constexpr int Code93ExtType = 20;

// The character order of Code 39 and Code 93, which gives the values that
// the check characters are computed from.
const std::string DataCharacters =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";

// Two upper-case hexadecimal digits of a byte.
std::string Hex2(unsigned char b) {
  const char *digits = "0123456789ABCDEF";
  return {digits[b >> 4], digits[b & 15]};
}

std::string UrlEncode(const std::string &bytes) {
  std::string out;
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
        (b >= 'a' && b <= 'z')) {
      out += c;
    } else {
      out += '%' + Hex2(b);
    }
  }
  return out;
}

// The modulo-43 check character of a Code 39 character string.
char Modulo43Check(const std::string &chars) {
  std::size_t sum = 0;
  for (char c : chars)
    sum += DataCharacters.find(c);
  return DataCharacters[sum % 43];
}

// Resolves the Code 39 full-ASCII pairs the way a reader in full-ASCII mode
// would: $A-$Z are 1-26, %A-%E 27-31, %F-%J 59-63, %K-%O 91-95, %P-%T
// 123-127, %U 0, %V 64, %W 96, /A-/L 33-44, /O 47, /Z 58, +A-+Z 97-122.
// Returns false for a pair that the table does not have.
bool ResolveFullAscii(const std::string &chars, std::string &bytes) {
  bytes.clear();
  for (std::size_t i = 0; i < chars.size(); ++i) {
    char c = chars[i];
    if (c != '$' && c != '%' && c != '/' && c != '+') {
      bytes += c;
      continue;
    }
    if (i + 1 >= chars.size())
      return false;
    char n = chars[++i];
    int out = -1;
    if (c == '$' && n >= 'A' && n <= 'Z')
      out = n - 'A' + 1;
    else if (c == '+' && n >= 'A' && n <= 'Z')
      out = n - 'A' + 'a';
    else if (c == '/' && n >= 'A' && n <= 'L')
      out = n - 'A' + '!';
    else if (c == '/' && n == 'O')
      out = '/';
    else if (c == '/' && n == 'Z')
      out = ':';
    else if (c == '%' && n >= 'A' && n <= 'E')
      out = n - 'A' + 27;
    else if (c == '%' && n >= 'F' && n <= 'J')
      out = n - 'F' + ';';
    else if (c == '%' && n >= 'K' && n <= 'O')
      out = n - 'K' + '[';
    else if (c == '%' && n >= 'P' && n <= 'T')
      out = n - 'P' + '{';
    else if (c == '%' && n == 'U')
      out = 0;
    else if (c == '%' && n == 'V')
      out = '@';
    else if (c == '%' && n == 'W')
      out = '`';
    if (out < 0)
      return false;
    bytes += static_cast<char>(out);
  }
  return true;
}

struct Scan {
  int ExitCode = -1;
  RgbImage Image;
  std::string Zbar;
  std::string Zxing;
};

Scan DrawAndRead(const std::string &query, const std::string &fileName,
                 const char *zxingFormat) {
  Scan scan;
  CgiResult result = RunGet(query);
  scan.ExitCode = result.ExitCode;
  std::string png = PngBody(result.Output);
  if (png.empty() || !DecodePng(png, scan.Image))
    return scan;
  std::string path = WriteTestFile(fileName, png);
  scan.Zbar = RunZbar(path);
  scan.Zxing = RunZxing(path, {"-bytes", "-format", zxingFormat});
  return scan;
}

// Every run of bars and spaces between the quiet zones is one of the
// allowed widths, and the quiet zones are 10 modules.
void ExpectRunWidths(const RgbImage &image, int quiet,
                     const std::vector<int> &allowed) {
  std::vector<Run> runs = RowRuns(image, 5);
  ASSERT_GE(runs.size(), 3u);
  EXPECT_FALSE(runs.front().Dark);
  EXPECT_FALSE(runs.back().Dark);
  EXPECT_EQ(runs.front().Length, quiet);
  EXPECT_EQ(runs.back().Length, quiet);
  for (std::size_t i = 1; i + 1 < runs.size(); ++i) {
    bool ok = false;
    for (int w : allowed)
      ok = ok || runs[i].Length == w;
    EXPECT_TRUE(ok) << "run " << i << " is " << runs[i].Length << " pixels";
  }
}

int WideWidth(int module) {
  // Wide elements are 2.5 modules, rounded half away from zero.
  return (5 * module + 1) / 2;
}

struct Code39Row {
  const char *Name;
  int Type;
  std::string Data;    // the request's text
  std::string Payload; // the bytes the symbol carries
};

const Code39Row Code39Rows[] = {
    {"worked value", Code39Type, "CODE39", "CODE39"},
    {"digits", Code39Type, "0123456789", "0123456789"},
    {"letters", Code39Type, "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
    {"symbols", Code39Type, "-. $/+%", "-. $/+%"},
    {"ext lower case", Code39ExtType, "abc", "abc"},
    {"ext carriage return", Code39ExtType, "Code~0D39", "Code\r39"},
    {"ext escapes", Code39ExtType, "~~ ~G1 ~7F ~80 x~", "~ ~G1 \x7f  x~"},
    {"ext punctuation", Code39ExtType, "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}",
     "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}"},
};

TEST(Code39Code93ScanTest, Code39ReadsBackAtModuleWidthsAndCheckSettings) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  for (const Code39Row &row : Code39Rows) {
    for (int module : {2, 3}) {
      for (int check : {0, 1}) {
        std::string id = std::string(row.Name) +
                         " xdim=" + std::to_string(module) +
                         " cchk=" + std::to_string(check);
        SCOPED_TRACE(id);
        std::string query = "btype=" + std::to_string(row.Type) +
                            "&xdim=" + std::to_string(module) +
                            "&cchk=" + std::to_string(check) +
                            "&data=" + UrlEncode(row.Data);
        std::string file = "code39_" + std::to_string(row.Type) + "_" +
                           std::to_string(&row - Code39Rows) + "_x" +
                           std::to_string(module) + "_c" +
                           std::to_string(check) + ".png";
        Scan scan = DrawAndRead(query, file, "Code39");
        ASSERT_EQ(scan.ExitCode, 0);
        ExpectRunWidths(scan.Image, 10 * module, {module, WideWidth(module)});

        // The readers return Code 39 characters; for the extended type
        // they are the full-ASCII pairs.
        for (const std::string &read : {scan.Zbar, scan.Zxing}) {
          std::string chars = read;
          if (check) {
            ASSERT_FALSE(chars.empty());
            char last = chars.back();
            chars.pop_back();
            EXPECT_EQ(last, Modulo43Check(chars)) << read;
          }
          std::string bytes;
          if (row.Type == Code39ExtType) {
            ASSERT_TRUE(ResolveFullAscii(chars, bytes)) << read;
          } else {
            bytes = chars;
          }
          EXPECT_EQ(bytes, row.Payload) << read;
        }
      }
    }
  }
}

TEST(Code39Code93ScanTest, Code39WorkedCheckCharacterIsRead) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  Scan scan = DrawAndRead("btype=2&data=CODE39", "code39_worked.png", "Code39");
  ASSERT_EQ(scan.ExitCode, 0);
  EXPECT_EQ(scan.Zbar, "CODE39W");
  EXPECT_EQ(scan.Zxing, "CODE39W");
}

struct Code93Row {
  const char *Name;
  int Type;
  std::string Data;
  std::string Payload;
};

const Code93Row Code93Rows[] = {
    {"worked value", Code93Type, "TEST93", "TEST93"},
    {"all data characters", Code93Type,
     "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%",
     "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%"},
    {"ext lower case", Code93ExtType, "abc", "abc"},
    {"ext carriage return", Code93ExtType, "Code~0D93", "Code\r93"},
    {"ext escapes", Code93ExtType, "~~ ~G1 ~7F ~80 x~", "~ ~G1 \x7f  x~"},
    {"ext single-character signs", Code93ExtType, "$%+-./", "$%+-./"},
    {"ext punctuation", Code93ExtType, "!\"#&'()*,:;<=>?@[\\]^_`{|}",
     "!\"#&'()*,:;<=>?@[\\]^_`{|}"},
};

TEST(Code39Code93ScanTest, Code93ReadsBackAtModuleWidthsAndCheckSettings) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  for (const Code93Row &row : Code93Rows) {
    for (int module : {2, 3}) {
      RgbImage withCheck;
      for (int check : {0, 1}) {
        std::string id = std::string(row.Name) +
                         " xdim=" + std::to_string(module) +
                         " cchk=" + std::to_string(check);
        SCOPED_TRACE(id);
        std::string query = "btype=" + std::to_string(row.Type) +
                            "&xdim=" + std::to_string(module) +
                            "&cchk=" + std::to_string(check) +
                            "&data=" + UrlEncode(row.Data);
        std::string file = "code93_" + std::to_string(row.Type) + "_" +
                           std::to_string(&row - Code93Rows) + "_x" +
                           std::to_string(module) + "_c" +
                           std::to_string(check) + ".png";
        Scan scan = DrawAndRead(query, file, "Code93");
        ASSERT_EQ(scan.ExitCode, 0);
        ExpectRunWidths(scan.Image, 10 * module,
                        {module, 2 * module, 3 * module, 4 * module});
        // Both readers verify C and K, so a good read proves them.
        EXPECT_EQ(scan.Zbar, row.Payload);
        EXPECT_EQ(scan.Zxing, row.Payload);
        // Code 93's check characters are not optional.
        if (check == 0) {
          withCheck = scan.Image;
        } else {
          EXPECT_EQ(scan.Image.Pixels, withCheck.Pixels);
        }
      }
    }
  }
}

// Every byte 0 to 127, written as escapes, in groups of 16.
TEST(Code39Code93ScanTest, FullAsciiTablesReadBack) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  for (int type : {Code39ExtType, Code93ExtType}) {
    for (int first = 0; first < 128; first += 16) {
      std::string data;
      std::string payload;
      for (int b = first; b < first + 16; ++b) {
        data += '~' + Hex2(static_cast<unsigned char>(b));
        payload += static_cast<char>(b);
      }
      SCOPED_TRACE("type " + std::to_string(type) + " bytes from " +
                   std::to_string(first));
      std::string file = "fullascii_" + std::to_string(type) + "_" +
                         std::to_string(first) + ".png";
      const char *format = type == Code39ExtType ? "Code39" : "Code93";
      Scan scan = DrawAndRead("cchk=0&btype=" + std::to_string(type) +
                                  "&data=" + UrlEncode(data),
                              file, format);
      ASSERT_EQ(scan.ExitCode, 0);
      for (const std::string &read : {scan.Zbar, scan.Zxing}) {
        std::string bytes = read;
        if (type == Code39ExtType) {
          ASSERT_TRUE(ResolveFullAscii(read, bytes)) << read;
        }
        EXPECT_EQ(bytes, payload);
      }
    }
  }
}

// Code 93's weights restart after 20 (C) and 15 (K); a long text shows
// that the readers accept the checks past that point.
TEST(Code39Code93ScanTest, LongCode93TextReadsBack) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  std::string text = "THE QUICK BROWN FOX JUMPS OVER 13 LAZY DOGS";
  Scan scan = DrawAndRead("btype=19&data=" + UrlEncode(text), "code93_long.png",
                          "Code93");
  ASSERT_EQ(scan.ExitCode, 0);
  EXPECT_EQ(scan.Zbar, text);
  EXPECT_EQ(scan.Zxing, text);
}

struct InvalidRow {
  const char *Name;
  int Type;
  std::string Data;
};

TEST(Code39Code93ScanTest, InvalidTextGivesError6) {
  const InvalidRow rows[] = {
      {"Code 39 lower case", Code39Type, "abc"},
      {"Code 39 asterisk", Code39Type, "A*"},
      {"Code 39 empty", Code39Type, ""},
      {"Code 39 Extended control byte", Code39ExtType, "A\rB"},
      {"Code 39 Extended byte 0x80", Code39ExtType, "\x80"},
      {"Code 39 Extended empty", Code39ExtType, ""},
      {"Code 93 lower case", Code93Type, "abc"},
      {"Code 93 empty", Code93Type, ""},
      {"Code 93 Extended control byte", Code93ExtType, "\x01"},
      {"Code 93 Extended byte 0xFF", Code93ExtType, "\xff"},
  };
  for (const InvalidRow &row : rows) {
    SCOPED_TRACE(row.Name);
    // data goes first: an empty value at the very end of the text is not
    // found at all, and the default text would be drawn instead.
    std::string query =
        "data=" + UrlEncode(row.Data) + "&btype=" + std::to_string(row.Type);
    CgiResult debug = RunGet(query + "&debug=1");
    EXPECT_EQ(debug.ExitCode, 6);
    EXPECT_EQ(debug.Output.rfind(HtmlHeader, 0), 0u);
    EXPECT_NE(debug.Output.find("Error: Invalid barcode text."),
              std::string::npos);
    CgiResult quiet = RunGet(query);
    EXPECT_EQ(quiet.ExitCode, 6);
    EXPECT_EQ(quiet.Output, "");
  }
}

} // namespace
