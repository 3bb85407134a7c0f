// Holds the exact output of a set of requests against hashes recorded from
// a known-good build: every pixel of the decoded image, and every byte of
// the response except the two time stamps (the tIME chunk and the
// "Creation Time" text). A change to the drawing, the text rendering or the
// encoder settings that alters a single sample fails here, so the program
// can be made faster without its images drifting.
//
// When a change to the images is intended, the failure message shows the
// new hashes to record (after checking the new images by eye and with the
// readers of the other end-to-end tests).

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/MyPngWriter.h"
#include "support/CgiRunner.h"

using namespace strixel;

namespace {

// 64-bit FNV-1a: simple, and a one-byte change alters the result.
class Fnv1a {
public:
  void Add(const void *data, std::size_t size) {
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    for (std::size_t i = 0; i < size; ++i) {
      Value ^= bytes[i];
      Value *= Prime;
    }
  }
  void AddInt(std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value >> 24),
                                   static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value)};
    Add(bytes, sizeof bytes);
  }
  std::uint64_t Result() const { return Value; }

private:
  static constexpr std::uint64_t Prime = 0x100000001b3ULL;
  std::uint64_t Value = 0xcbf29ce484222325ULL;
};

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, value);
  return text;
}

std::uint64_t PixelHash(const RgbImage &image) {
  Fnv1a hash;
  hash.AddInt(static_cast<std::uint32_t>(image.Width));
  hash.AddInt(static_cast<std::uint32_t>(image.Height));
  hash.Add(image.Pixels.data(), image.Pixels.size());
  return hash.Result();
}

std::uint32_t ReadBigEndian(const std::string &bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// The hash of a whole response with the time stamps left out: the header
// and the PNG signature as they are, then chunk by chunk; of tIME only its
// type, of the "Creation Time" text only its keyword. A malformed chunk
// list hashes what precedes the fault and marks it.
std::uint64_t ResponseHashWithoutTime(const std::string &output) {
  static const char CreationKey[] = "Creation Time";
  Fnv1a hash;
  const std::size_t headerSize = std::strlen(PngHeader);
  const std::size_t signatureSize = 8;
  std::size_t at = headerSize + signatureSize;
  if (output.size() < at)
    return 0;
  hash.Add(output.data(), at);
  while (at + 12 <= output.size()) {
    const std::uint32_t length = ReadBigEndian(output, at);
    const std::string type = output.substr(at + 4, 4);
    if (length > output.size() - at - 12) {
      hash.Add("truncated", 9);
      return hash.Result();
    }
    const std::size_t chunkSize = 12 + static_cast<std::size_t>(length);
    const bool isCreationText =
        type == "tEXt" && length >= sizeof CreationKey &&
        output.compare(at + 8, sizeof CreationKey, CreationKey,
                       sizeof CreationKey) == 0;
    if (type == "tIME")
      hash.Add(type.data(), type.size());
    else if (isCreationText)
      hash.Add(CreationKey, sizeof CreationKey);
    else
      hash.Add(output.data() + at, chunkSize);
    at += chunkSize;
  }
  if (at != output.size())
    hash.Add("trailing", 8);
  return hash.Result();
}

std::string LongCode128Text() {
  std::string text;
  while (text.size() < 200)
    text += "Barcode-128-Strixel-0123456789-";
  text.resize(200);
  return text;
}

// A text of count bytes that repeats pattern.
std::string Repeated(const std::string &pattern, std::size_t count) {
  std::string text;
  while (text.size() < count)
    text += pattern;
  text.resize(count);
  return text;
}

// A request of prefix, then fill up to the 3600-character limit of a
// request, then suffix.
std::string UpToTheLimit(const std::string &prefix, char fill,
                         const std::string &suffix = "") {
  return prefix + std::string(3600 - prefix.size() - suffix.size(), fill) +
         suffix;
}

struct Row {
  const char *Name;
  std::string Query;
  int Width, Height;
  std::uint64_t Pixels;
  std::uint64_t Response;
};

// The first four are the requests the benchmark measures.
const Row Rows[] = {
    {"code128-default", "", 220, 200, 0x572fd9eaf3ab650bULL,
     0x0f994d3758f60a3bULL},
    {"ean13", "btype=11&data=590123412345", 230, 200, 0x1c90f564882bf6fcULL,
     0xfdccfadb383b2ce2ULL},
    {"code128-200-characters", "data=" + LongCode128Text(), 4114, 200,
     0x7b886312d04594d3ULL, 0xf5fa3b68dcf3da08ULL},
    {"code128-box-angle90", "w=600&h=300&angle=90", 600, 300,
     0x14b07f70fbf7f2cbULL, 0xe6a744607083b411ULL},
    {"code128-angle180-colours",
     "angle=180&fcolor=0000ff&tcolor=ff0000&bcolor=ffffcc", 220, 200,
     0x8e54bcae8795f5faULL, 0x00ef5654d440f165ULL},
    {"code128-angle270-text-above-spread", "angle=270&tdown=0&talign=3", 200,
     220, 0x2ebdba8ffaf9eeceULL, 0xf1629bedfd4948f8ULL},
    {"code128-box-start-end-text", "w=400&h=120&balign=0&talign=1&fh=10", 400,
     120, 0xab64455155d60e3fULL, 0xf6ea1d32e5efc1f6ULL},
    {"code128-box-end-centred-no-quiet",
     "w=400&h=120&balign=1&talign=2&quiet=0", 400, 120, 0x8abe721b7a6fd9a0ULL,
     0xe292543d54f09507ULL},
    {"code128-widened-bars", "data=ABC&bred=-40&xdim=3&quiet=0", 204, 200,
     0xe355d098797696bcULL, 0xf4eb372bf8976e7fULL},
    {"code128-large-font", "data=Strixel&fh=30&h=150", 264, 150,
     0xccc8725976cff2a1ULL, 0xed723dba141dc916ULL},
    {"code39-angle270-centred", "btype=2&data=CODE39&angle=270&talign=2", 200,
     299, 0xf837ebb500c7db53ULL, 0x413a11644d64eadfULL},
    {"code39ext-spread", "btype=3&data=Ab%2Bc&talign=3", 328, 200,
     0x388d08d7c54b2b79ULL, 0xbde87bd7873d1b92ULL},
    {"code93-end-fh20", "btype=19&data=CODE93&talign=1&fh=20", 222, 200,
     0x46e0adde13ca330eULL, 0x69d4c3f1d58384afULL},
    {"code93ext-text-above", "btype=20&data=abc&tdown=0", 222, 200,
     0x5779a76f6b3085a1ULL, 0x4cd79a130dd855a8ULL},
    {"upca-mode5-angle270-blue",
     "btype=13&data=03600029145&talign=5&angle=270&tcolor=0000ff", 200, 230,
     0x2a1ecaeddbfa9823ULL, 0x23296a46232b9236ULL},
    {"upce-mode4", "btype=14&data=04210000526&talign=4", 144, 200,
     0x89918df6caba0296ULL, 0x5519ffe60576290cULL},
    {"ean8-no-guard", "btype=10&data=9638507&guard=0", 174, 200,
     0xaf970d7def574d72ULL, 0x370f71583f18121eULL},
    {"ean13-mode4-angle90-grey",
     "btype=11&data=590123412345&talign=4&angle=90&bcolor=eeeeee", 200, 230,
     0xad70f1660a013f93ULL, 0xc76ec1fc0930e062ULL},
    {"ean5-green-text", "btype=9&data=52495&tcolor=00ff00", 134, 200,
     0xb2c1605fbc388c7bULL, 0x9f99e6d315056849ULL},
    {"ean2-angle180", "btype=8&data=12&angle=180", 80, 200,
     0x086d7e1529e9dc1fULL, 0xdeb98a9eb546eb65ULL},
    {"interleaved25-angle180-text-above",
     "btype=0&data=123456&tdown=0&angle=180", 185, 200, 0xd5170f6ad09c853fULL,
     0x14240bc1c4c2d3fdULL},
    {"industrial25-no-text", "btype=1&data=1234&text=0", 204, 200,
     0xb5c3d17a45e75c59ULL, 0xed88c7caf79a41adULL},
    {"itf14-ratio3", "btype=21&data=1234567890123&w2n=3", 310, 200,
     0xb76e42f7d4a44d1cULL, 0xe89ca32fb3f9504fULL},
    {"codabar-reduced", "btype=5&data=A1234B&bred=30&xdim=3", 271, 200,
     0x25aff384f5ddc0f9ULL, 0xeaac3615c8f52299ULL},
    {"ucc-ean128", "btype=15&data=%3C01%3E12345678901231", 374, 200,
     0xc9c9f4a4e9625c9bULL, 0xef1acd1a01f34e4bULL},
    {"sscc18", "btype=16&data=0012345678901234567", 352, 200,
     0xc9b5a56890ace672ULL, 0x0806db389fed92f3ULL},
    {"ean14", "btype=12&data=1234567890123", 286, 200, 0xb98d407ce65877e0ULL,
     0x90d37dba335801eaULL},
    {"msi-grey-text-on-yellow", "btype=6&data=1234&tcolor=808080&bcolor=ffffcc",
     196, 200, 0x45e407002c1611ecULL, 0x59dfd415b9ddee83ULL},
    {"code11-colours-angle90",
     "btype=4&data=123-45&fcolor=0000ff&tcolor=ff0000&bcolor=ccffcc&angle=90",
     200, 179, 0x9ae58bcab7ece1dbULL, 0xbe765686e29fbc80ULL},
    // Text that overflows its width or the canvas: thousands of glyphs
    // pulled on top of each other, glyphs far beyond the canvas, glyphs
    // past the font engine's coordinate range.
    {"spread-text-3558-W",
     "btype=7&xdim=1&talign=3&fh=350&h=570&data=" + std::string(3558, 'W'),
     39193, 570, 0x3826354b6c399722ULL, 0x9f80b5ab387177fbULL},
    {"spread-text-angle90",
     "btype=7&xdim=1&talign=3&fh=350&w=570&angle=90&data=" +
         std::string(3549, 'W'),
     570, 39094, 0xfb5685814c817c91ULL, 0x866e2d8b3b508498ULL},
    {"spread-mixed-text-angle180-colours",
     "btype=7&xdim=1&talign=3&fh=200&h=400&angle=180&tcolor=3366cc&"
     "bcolor=ffffcc&data=" +
         Repeated("AVWjgy.-Hi", 3520),
     38775, 400, 0x8ae92a77c7d4c6a5ULL, 0x77bb2060cd6e360dULL},
    {"oversized-text-ending-before-the-canvas",
     "data=WWWWWWWWWW&fh=400&h=699&talign=1&w=300", 300, 699,
     0x1004a0b8d56fc00fULL, 0x2967b665cd12348bULL},
    {"spread-text-past-the-font-engine-range",
     "btype=7&xdim=11&talign=3&tcolor=ff0000&data=" + Repeated("TEXT", 300),
     36905, 200, 0x96ec62a301a0c456ULL, 0x4e092016d2e0f0d3ULL},
    // Bars widened by a negative reduction overlap their neighbours, the
    // guard bars and, when it is huge, reach the box edge; each orientation,
    // text above and below.
    {"ean13-widened-guards-text-above",
     "btype=11&data=590123412345&bred=-150&xdim=3&tdown=0", 345, 200,
     0x01e25a21c470a756ULL, 0x262a8e15b359bb77ULL},
    {"upce-widened-angle90-mode5",
     "btype=14&data=04210000526&bred=-100&xdim=2&angle=90&talign=5", 200, 144,
     0x7b4129b24da2af43ULL, 0x6667e4440b478c89ULL},
    {"ean8-widened-angle270-text-above",
     "btype=10&data=9638507&bred=-150&xdim=2&angle=270&tdown=0", 200, 174,
     0x8d9f8f245e9982b1ULL, 0x5c5843e0faf6b6bbULL},
    {"itf14-widened-angle180-no-quiet",
     "btype=21&data=1234567890123&bred=-500&w2n=2.5&xdim=2&angle=180&quiet=0",
     241, 200, 0x381192fd9587b567ULL, 0x784911f0d1aa5668ULL},
    {"ean13-widened-to-the-edge-no-text-angle180",
     "btype=11&data=590123412345&bred=-9999999&text=0&angle=180&xdim=2", 230,
     200, 0xd3f2a2079ae6e20bULL, 0x710d4cf06647157fULL},
    {"codabar-widened-angle180-with-text",
     "btype=5&xdim=1&bred=-9999999&angle=180&data=A" + std::string(203, '1') +
         "B",
     2483, 200, 0x71310ad6638326ebULL, 0xceb21ede5d91de5eULL},
    // Postal images whose bars the postal read-back test decodes.
    {"postnet", "btype=17&data=12345", 166, 200, 0xb2949e511c32ff4dULL,
     0x23c4d34ca7f427d6ULL},
    {"planet-fixed-box-text-above",
     "btype=18&data=123456789&w=699&h=120&tdown=0", 699, 120,
     0xf859379b5e34cd25ULL, 0x379693e376a5e0d1ULL},
    {"postnet-angle90-text-above", "btype=17&data=12345&angle=90&tdown=0", 200,
     166, 0x0b3539cca6e25538ULL, 0x66b23fe4520aeb17ULL},
    // The costliest requests found: widened bars, each filled up to the box
    // edge (3600 characters cost minutes; Industrial 2 of 5, MSI and
    // Codabar at 600 characters to spare the test's time), spread text at a
    // huge font (400 characters), and rasters at the 64 MiB cap.
    {"code39-widened-to-the-edge-angle90",
     UpToTheLimit("btype=2&xdim=19&text=0&bred=-9999999&angle=90&w=21"
                  "&fcolor=ff0000&data=",
                  'W'),
     21, 979002, 0x31161b7893a9ca2cULL, 0xa9b1811aeea49339ULL},
    {"industrial25-widened-to-the-edge",
     "btype=1&xdim=1&text=0&bred=-9999999&h=449&data=" + std::string(600, '1'),
     8453, 449, 0x20f57722c1bf3bedULL, 0xd2e1f41356b36bbfULL},
    {"msi-widened-to-the-edge",
     "btype=6&xdim=1&text=0&bred=-9999999&h=393&data=" + std::string(600, '1'),
     9645, 393, 0x916238e4078977a9ULL, 0x496df88c7d42f702ULL},
    {"codabar-widened-to-the-edge",
     "btype=5&xdim=1&text=0&bred=-9999999&h=524&data=A" +
         std::string(598, '1') + "B",
     7223, 524, 0xc3344a8a09729192ULL, 0x94c36fb48cb95806ULL},
    {"code128-widened-to-the-edge",
     UpToTheLimit("btype=7&xdim=1&text=0&bred=-9999999&h=571&data=", 'W'),
     39138, 571, 0x689c6a3d406379b2ULL, 0x96befb134ade5049ULL},
    {"code128-spread-text-fh350",
     "btype=7&xdim=1&talign=3&fh=350&h=570&data=" + std::string(400, 'W'), 4455,
     570, 0xeca6e2f0c209b8cbULL, 0x57e179e04325e5edULL},
    {"code128-raster-cap", "h=23&xdim=8841", 972510, 23, 0x00531d856e650cd0ULL,
     0x70b06c463c30b659ULL},
};

// Strings drawn straight onto one canvas, one after the other: the text
// engine keeps state between strings (the character size, the transform
// under which the next aligned string is measured), which a request only
// partly exercises.
struct TextStep {
  const char *Text;
  int Count; // bytes for DrawStringN; -1 draws the whole text
  int FontHeight, Align, X, Y, Width;
  double Angle;
  std::uint32_t Colour;
};

constexpr double QuarterTurn = 3.1415926 / 2;

struct TextSequence {
  const char *Name;
  std::vector<TextStep> Steps;
  std::uint64_t Pixels;
};

const TextSequence Sequences[] = {
    {"sizes-change-between-strings",
     {{"Size 20", -1, 20, 0, 10, 60, 0, 0.0, 0x000000},
      {"AVATAR jig", -1, 14, 3, 10, 120, 220, 0.0, 0x0000FF},
      {"1234567", 4, 9, 1, 290, 150, 150, 2 * QuarterTurn, 0x336699},
      {"Size 20 again", -1, 20, 2, 0, 190, 300, 0.0, 0x808080}},
     0xf6255ed851464537ULL},
    {"aligned-after-rotated",
     {{"up the side", -1, 14, 0, 20, 190, 0, QuarterTurn, 0x000000},
      {"spread", -1, 14, 3, 40, 100, 200, 0.0, 0x00FF00},
      {"at the end", -1, 12, 1, 40, 150, 240, 0.0, 0xFF0000},
      {"down", -1, 16, 2, 280, 10, 180, 3 * QuarterTurn, 0x000000},
      {"centred", -1, 16, 2, 40, 60, 200, 0.0, 0x000000}},
     0x86036b9fbd1994ddULL},
    {"missing-glyphs-and-overlap",
     {{"caf\xe9 \x80\xff", -1, 18, 0, 10, 80, 0, 0.0, 0x000000},
      {"overlapping text", -1, 24, 3, 10, 90, 120, 0.0, 0x2020FF},
      {"", -1, 14, 3, 10, 150, 100, 0.0, 0x000000},
      {"x", -1, 14, 3, 10, 150, 100, 0.0, 0x000000}},
     0x6f0c3bc9a5ae86d6ULL},
    {"turned-spread-overlapping-and-clipped",
     {{"WAVE WAVE WAVE", -1, 30, 3, 20, 180, 150, 0.6, 0x2040C0},
      {"jjjjjjjjjjjj", -1, 40, 3, -50, 120, 100, -0.3, 0x00A000},
      {"@@@@", -1, 60, 2, 250, 60, 40, 3.0, 0x000000},
      {"far away", -1, 14, 0, 40000, 100, 0, 0.0, 0x000000},
      {"AVAVAVAVAVAVAVAV", -1, 50, 3, 310, 20, -400, 2 * QuarterTurn,
       0xFF00FF}},
     0xed01c055cb177afbULL},
};

std::uint64_t CanvasHash(const CImageWriter &canvas) {
  Fnv1a hash;
  hash.AddInt(static_cast<std::uint32_t>(canvas.Width));
  hash.AddInt(static_cast<std::uint32_t>(canvas.Height));
  for (const std::uint8_t *row : canvas.Rows)
    hash.Add(row, 3 * static_cast<std::size_t>(canvas.Width));
  return hash.Result();
}

} // namespace

TEST(PixelHash, ImagesMatchTheRecordedReference) {
  for (const Row &row : Rows) {
    SCOPED_TRACE(row.Name);
    const CgiResult result = RunGet(row.Query);
    ASSERT_EQ(result.ExitCode, 0);
    ASSERT_TRUE(IsPngResponse(result.Output));
    RgbImage image;
    ASSERT_TRUE(DecodePng(PngBody(result.Output), image));
    EXPECT_EQ(image.Width, row.Width);
    EXPECT_EQ(image.Height, row.Height);
    EXPECT_EQ(Hex(PixelHash(image)), Hex(row.Pixels));
    EXPECT_EQ(Hex(ResponseHashWithoutTime(result.Output)), Hex(row.Response));
  }
}

// The time stamps are the only part of a response that may differ between
// two runs of the same request; everything the hash covers must not.
TEST(PixelHash, TheResponseHashIgnoresOnlyTheTimeStamps) {
  const CgiResult result = RunGet("");
  ASSERT_TRUE(IsPngResponse(result.Output));
  const std::uint64_t reference = ResponseHashWithoutTime(result.Output);

  std::string changedTime = result.Output;
  const std::size_t time = changedTime.find("tIME");
  ASSERT_NE(time, std::string::npos);
  changedTime[time + 4] ^= 0x01; // the year's high byte
  EXPECT_EQ(ResponseHashWithoutTime(changedTime), reference);

  std::string changedText = result.Output;
  const std::size_t creation = changedText.find("Creation Time");
  ASSERT_NE(creation, std::string::npos);
  changedText[creation + 15] ^= 0x01; // a character of the time text
  EXPECT_EQ(ResponseHashWithoutTime(changedText), reference);

  std::string changedData = result.Output;
  const std::size_t data = changedData.find("IDAT");
  ASSERT_NE(data, std::string::npos);
  changedData[data + 10] ^= 0x01;
  EXPECT_NE(ResponseHashWithoutTime(changedData), reference);

  std::string changedTitle = result.Output;
  const std::size_t title = changedTitle.find("Title_Text");
  ASSERT_NE(title, std::string::npos);
  changedTitle[title] ^= 0x01;
  EXPECT_NE(ResponseHashWithoutTime(changedTitle), reference);
}

TEST(PixelHash, TextSequencesMatchTheRecordedReference) {
  for (const TextSequence &sequence : Sequences) {
    SCOPED_TRACE(sequence.Name);
    CMyPngWriter canvas(300, 200, nullptr, 96, 96, 0xFFFFFF, -2);
    ASSERT_TRUE(canvas.Create());
    for (const TextStep &step : sequence.Steps) {
      if (step.Count < 0)
        canvas.DrawString(step.Text, step.FontHeight, step.Align, step.X,
                          step.Y, step.Width, step.Angle, step.Colour);
      else
        canvas.DrawStringN(step.Text, static_cast<std::size_t>(step.Count),
                           step.FontHeight, step.Align, step.X, step.Y,
                           step.Width, step.Angle, step.Colour);
    }
    EXPECT_EQ(Hex(CanvasHash(canvas)), Hex(sequence.Pixels));
  }
}
