#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "support/CgiRunner.h"
#include "support/Readers.h"

namespace {

std::string FileNameFor(const std::string &query) {
  std::string name = "twoof5-";
  for (char c : query)
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name + ".png";
}

// Runs the request and writes its image to a file; empty when the answer
// is no image.
std::string ImageFileOf(const std::string &query) {
  const CgiResult result = RunGet(query);
  EXPECT_EQ(result.ExitCode, 0);
  if (!IsPngResponse(result.Output))
    return std::string();
  return WriteTestFile(FileNameFor(query), PngBody(result.Output));
}

std::string ZbarRead(const std::string &path,
                     const std::vector<std::string> &options) {
  std::vector<std::string> argv = {"/usr/bin/zbarimg", "--quiet", "--raw"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(path);
  return RunCommand(argv);
}

std::string ZxingRead(const std::string &path, const char *format) {
  return RunZxing(path, {"-format", format, "-bytes"});
}

// Requests the readers decode. zbarimg reads Interleaved 2 of 5 from six
// digits on unless told a smaller minimum, ZXingReader from six digits on;
// both read Codabar from two data characters on, zbarimg with the start and
// stop letters, ZXingReader without them.
struct ScanRow {
  const char *Query;
  std::vector<std::string> ZbarOptions;
  const char *Zbar;
  const char *ZxingFormat; // nullptr: ZXingReader does not read this length
  const char *Zxing;
};

const ScanRow ScanRows[] = {
    {"btype=0&data=12345", {}, "123457", "ITF", "123457"},
    {"btype=0&data=1234", {}, "012348", "ITF", "012348"},
    {"btype=0&cchk=0&data=123456", {}, "123456", "ITF", "123456"},
    {"btype=0&cchk=0&data=12345", {}, "012345", "ITF", "012345"},
    {"btype=0&cchk=0&data=1234567890123456",
     {},
     "1234567890123456",
     "ITF",
     "1234567890123456"},
    {"btype=0&cchk=0&data=1234",
     {"-Si25.min-length=4"},
     "1234",
     nullptr,
     nullptr},
    {"btype=0&data=12345&w2n=2", {}, "123457", "ITF", "123457"},
    {"btype=0&data=12345&w2n=3", {}, "123457", "ITF", "123457"},
    {"btype=0&data=12345&xdim=1&w2n=3", {}, "123457", "ITF", "123457"},
    {"btype=0&data=12345&angle=90", {}, "123457", "ITF", "123457"},
    {"btype=0&data=12345&angle=180", {}, "123457", "ITF", "123457"},
    {"btype=0&data=12345&angle=270&text=0", {}, "123457", "ITF", "123457"},
    {"btype=0&data=9876543210&w=699&h=120",
     {},
     "098765432105",
     "ITF",
     "098765432105"},
    {"btype=21&data=1234567890123",
     {},
     "12345678901231",
     "ITF",
     "12345678901231"},
    {"btype=21&data=12345678901234",
     {},
     "12345678901231",
     "ITF",
     "12345678901231"},
    {"btype=21&data=0950110153000&schk=0",
     {},
     "09501101530003",
     "ITF",
     "09501101530003"},
    {"btype=5&data=A12345B", {}, "A12345B", "Codabar", "12345"},
    {"btype=5&data=a1234b&stst=1", {}, "A1234B", "Codabar", "1234"},
    {"btype=5&data=C-$:/.%2BD", {}, "C-$:/.+D", "Codabar", "-$:/.+"},
    {"btype=5&data=d0123456789c&angle=90",
     {},
     "D0123456789C",
     "Codabar",
     "0123456789"},
    {"btype=5&data=A12B&w2n=3", {}, "A12B", "Codabar", "12"},
};

TEST(TwoOfFiveFamilyScan, ReadersDecodeTheImages) {
  STRIXEL_REQUIRE_READERS(Zbarimg, ZxingReader);
  for (const ScanRow &row : ScanRows) {
    SCOPED_TRACE(row.Query);
    const std::string path = ImageFileOf(row.Query);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(ZbarRead(path, row.ZbarOptions), row.Zbar);
    if (row.ZxingFormat) {
      EXPECT_EQ(ZxingRead(path, row.ZxingFormat), row.Zxing);
    }
  }
}

// Bars and spaces read from one line of pixels across the symbol, in the
// order of the pattern, as letters: b narrow bar, B wide bar, s narrow
// space, S wide space. The quiet zones are dropped.
std::string PatternAcross(const RgbImage &image, int angle) {
  std::vector<Run> runs;
  switch (angle) {
  case 90: // bars grow from the left edge, the pattern runs upwards
    runs = ColumnRuns(image, 3);
    std::reverse(runs.begin(), runs.end());
    break;
  case 180: // bars grow from the bottom edge, the pattern runs leftwards
    runs = RowRuns(image, image.Height - 4);
    std::reverse(runs.begin(), runs.end());
    break;
  case 270: // bars grow from the right edge, the pattern runs downwards
    runs = ColumnRuns(image, image.Width - 4);
    break;
  default:
    runs = RowRuns(image, 3);
  }
  if (!runs.empty() && !runs.front().Dark)
    runs.erase(runs.begin());
  if (!runs.empty() && !runs.back().Dark)
    runs.pop_back();
  if (runs.empty())
    return std::string();
  int shortest = runs.front().Length, longest = runs.front().Length;
  for (const Run &r : runs) {
    shortest = std::min(shortest, r.Length);
    longest = std::max(longest, r.Length);
  }
  std::string letters;
  for (const Run &r : runs) {
    const bool wide = 2 * r.Length > shortest + longest;
    letters += r.Dark ? (wide ? 'B' : 'b') : (wide ? 'S' : 's');
  }
  return letters;
}

char WidthOf(char letter) {
  return (letter == 'B' || letter == 'S') ? 'w' : 'n';
}

// Industrial 2 of 5 as published: five bars a digit, narrow n or wide w,
// with narrow spaces; start bars w w n, stop bars w n w.
std::string DecodeIndustr25(const std::string &letters) {
  static const char *const digits[10] = {"nnwwn", "wnnnw", "nwnnw", "wwnnn",
                                         "nnwnw", "wnwnn", "nwwnn", "nnnww",
                                         "wnnwn", "nwnwn"};
  const std::string start = "BsBsbs", stop = "BsbsB";
  if (letters.size() < 11 || letters.compare(0, 6, start) != 0 ||
      letters.compare(letters.size() - 5, 5, stop) != 0 ||
      (letters.size() - 11) % 10 != 0)
    return "!";
  std::string text;
  for (std::size_t i = 6; i + 5 < letters.size(); i += 10) {
    std::string bars;
    for (std::size_t k = 0; k < 10; k += 2) {
      if (letters[i + k + 1] != 's')
        return "!";
      bars += WidthOf(letters[i + k]);
    }
    char found = '?';
    for (int d = 0; d < 10; ++d)
      if (bars == digits[d])
        found = static_cast<char>('0' + d);
    text += found;
  }
  return text;
}

// Code 11 as published: five elements a character, narrow gaps between
// characters; "*" is the start/stop character.
std::string DecodeCode11(const std::string &letters) {
  static const std::pair<char, const char *> table[] = {
      {'0', "nnnnw"}, {'1', "wnnnw"}, {'2', "nwnnw"}, {'3', "wwnnn"},
      {'4', "nnwnw"}, {'5', "wnwnn"}, {'6', "nwwnn"}, {'7', "nnnww"},
      {'8', "wnnwn"}, {'9', "wnnnn"}, {'-', "nnwnn"}, {'*', "nnwwn"},
  };
  if (letters.size() % 6 != 5)
    return "!";
  std::string text;
  for (std::size_t i = 0; i < letters.size(); i += 6) {
    std::string widths;
    for (std::size_t k = 0; k < 5; ++k)
      widths += WidthOf(letters[i + k]);
    if (i + 5 < letters.size() && letters[i + 5] != 's')
      return "!";
    char found = '?';
    for (const auto &entry : table)
      if (widths == entry.second)
        found = entry.first;
    text += found;
  }
  return text;
}

// MSI as published: start "Bs", four bits a digit (1 "Bs", 0 "bS"), most
// significant first, stop "bSb".
std::string DecodeMsi(const std::string &letters) {
  if (letters.size() < 5 || letters.compare(0, 2, "Bs") != 0 ||
      letters.compare(letters.size() - 3, 3, "bSb") != 0 ||
      (letters.size() - 5) % 8 != 0)
    return "!";
  std::string text;
  for (std::size_t i = 2; i + 3 < letters.size(); i += 8) {
    int value = 0;
    for (std::size_t k = 0; k < 8; k += 2) {
      const std::string bit = letters.substr(i + k, 2);
      if (bit == "Bs")
        value = 2 * value + 1;
      else if (bit == "bS")
        value = 2 * value;
      else
        return "!";
    }
    text += value <= 9 ? static_cast<char>('0' + value) : '?';
  }
  return text;
}

struct PixelRow {
  const char *Query;
  int Angle;
  std::string (*Decode)(const std::string &);
  const char *Expected;
};

const PixelRow PixelRows[] = {
    {"btype=1&data=12345", 0, DecodeIndustr25, "123457"},
    {"btype=1&data=1234", 0, DecodeIndustr25, "12342"},
    {"btype=1&data=1234&cchk=0", 0, DecodeIndustr25, "1234"},
    {"btype=1&data=9081726354&w2n=3&angle=90", 90, DecodeIndustr25,
     "90817263545"},
    {"btype=1&data=12345&angle=180", 180, DecodeIndustr25, "123457"},
    {"btype=4&data=123-45", 0, DecodeCode11, "*123-45*"},
    {"btype=4&data=12S34&w2n=2", 0, DecodeCode11, "*12*34*"},
    {"btype=4&data=0123456789-&angle=270", 270, DecodeCode11, "*0123456789-*"},
    {"btype=6&data=1234567", 0, DecodeMsi, "12345674"},
    {"btype=6&data=80523&cchk=0", 0, DecodeMsi, "80523"},
    {"btype=6&data=5&w2n=3&angle=90", 90, DecodeMsi, "59"},
    {"btype=6&data=9876543210&xdim=1&bred=0", 0, DecodeMsi, "98765432103"},
};

TEST(TwoOfFiveFamilyScan, ModuleWidthsReadFromPixelsDecode) {
  for (const PixelRow &row : PixelRows) {
    SCOPED_TRACE(row.Query);
    const CgiResult result = RunGet(row.Query);
    ASSERT_EQ(result.ExitCode, 0);
    ASSERT_TRUE(IsPngResponse(result.Output));
    WriteTestFile(FileNameFor(row.Query), PngBody(result.Output));
    RgbImage image;
    ASSERT_TRUE(DecodePng(PngBody(result.Output), image));
    EXPECT_EQ(row.Decode(PatternAcross(image, row.Angle)), row.Expected);
  }
}

// The postal types are laid out like every other type: any box that holds
// them, with or without a computed length, and an invalid text is reported
// as such (not as a size that no box could hold).
TEST(TwoOfFiveFamilyScan, PostalRequestsDrawOrReportTheText) {
  struct Row {
    const char *Query;
    int Exit;
  };
  const Row rows[] = {
      {"btype=17", 0},
      {"btype=18&data=12345", 0},
      {"btype=17&w=300", 0},
      {"btype=18&w=300&h=300", 0},
      {"btype=17&angle=90&h=300", 0},
      {"btype=18&angle=90&w=300", 0}, // a width is not along the symbol
      {"btype=17&angle=270&w=300&h=300", 0},
      {"btype=17&w=82", 5}, // 83 modules with the quiet zones
      {"btype=17&data=12a&w=300", 6},
      {"btype=18&data=&h=100", 6},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Query);
    const CgiResult result = RunGet(row.Query);
    EXPECT_EQ(result.ExitCode, row.Exit);
    EXPECT_EQ(IsPngResponse(result.Output), row.Exit == 0);
    if (row.Exit == 0)
      continue;
    EXPECT_TRUE(result.Output.empty());
    // With debug, the same end is reported on the error page.
    const CgiResult debug = RunGet(std::string(row.Query) + "&debug=1");
    EXPECT_EQ(debug.ExitCode, row.Exit);
    EXPECT_EQ(
        debug.Output.compare(0, std::string(HtmlHeader).size(), HtmlHeader), 0);
  }
}

TEST(TwoOfFiveFamilyScan, InvalidTextsAreReportedAsSuch) {
  for (const char *query :
       {"btype=0&data=12a4", "btype=1&data=&h=100",
        "btype=21&data=123456789012", "btype=5&data=A1", "btype=5&data=E12A",
        "btype=4&data=12A", "btype=6&data=x"}) {
    SCOPED_TRACE(query);
    const CgiResult result = RunGet(query);
    EXPECT_EQ(result.ExitCode, 6);
    EXPECT_TRUE(result.Output.empty());
  }
}

} // namespace
