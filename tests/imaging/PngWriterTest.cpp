#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <zlib.h>

#include "engine/ErrorCodes.h"
#include "imaging/MyPngWriter.h"
#include "support/CgiRunner.h"
#include "support/Readers.h"

using namespace strixel;

namespace {

constexpr std::uint32_t White = 0xFFFFFF;

struct Chunk {
  std::string Type;
  std::string Data;
  bool CrcMatches = false;
};

std::uint32_t BigEndian32(const std::string &bytes, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]))
          << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1]))
          << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2]))
          << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

int BigEndian16(const std::string &bytes, std::size_t at) {
  return (static_cast<unsigned char>(bytes[at]) << 8) |
         static_cast<unsigned char>(bytes[at + 1]);
}

int ByteAt(const std::string &bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

// Splits a PNG file into its chunks; empty when the signature or the
// framing is wrong.
std::vector<Chunk> ParseChunks(const std::string &png) {
  static const std::string signature("\x89PNG\r\n\x1a\n", 8);
  std::vector<Chunk> chunks;
  if (png.compare(0, 8, signature) != 0)
    return chunks;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = BigEndian32(png, at);
    if (at + 12 + length > png.size())
      return {};
    Chunk chunk;
    chunk.Type = png.substr(at + 4, 4);
    chunk.Data = png.substr(at + 8, length);
    const std::string typeAndData = png.substr(at + 4, 4 + length);
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef *>(typeAndData.data()),
              static_cast<uInt>(typeAndData.size()));
    chunk.CrcMatches = crc == BigEndian32(png, at + 8 + length);
    chunks.push_back(chunk);
    at += 12 + length;
  }
  if (at != png.size())
    return {};
  return chunks;
}

// Writes the raster into memory and returns the file's bytes.
std::string WriteToMemory(CMyPngWriter &writer, int *result = nullptr) {
  char *buffer = nullptr;
  std::size_t size = 0;
  std::FILE *stream = open_memstream(&buffer, &size);
  if (!stream)
    return std::string();
  const int code = writer.WriteImage(stream);
  if (result)
    *result = code;
  std::fclose(stream);
  std::string bytes(buffer, size);
  std::free(buffer);
  return bytes;
}

template <std::time_t Seconds> std::time_t FixedClock() {
  return Seconds;
}

std::string IdatData(const std::vector<Chunk> &chunks) {
  std::string data;
  for (const Chunk &chunk : chunks)
    if (chunk.Type == "IDAT")
      data += chunk.Data;
  return data;
}

int Paeth(int left, int up, int upLeft) {
  const int estimate = left + up - upLeft;
  const int toLeft = std::abs(estimate - left);
  const int toUp = std::abs(estimate - up);
  const int toUpLeft = std::abs(estimate - upLeft);
  if (toLeft <= toUp && toLeft <= toUpLeft)
    return left;
  return toUp <= toUpLeft ? up : upLeft;
}

// Inflates the image data and undoes each row's filter, giving the raw
// RGB bytes as stored (no gamma conversion, unlike a decoder for display).
bool ReadRawPixels(const std::vector<Chunk> &chunks, int width, int height,
                   std::vector<int> &pixels) {
  const std::size_t stride = 3 * static_cast<std::size_t>(width);
  std::vector<Bytef> raw(static_cast<std::size_t>(height) * (1 + stride));
  uLongf rawSize = static_cast<uLongf>(raw.size());
  const std::string compressed = IdatData(chunks);
  if (uncompress(raw.data(), &rawSize,
                 reinterpret_cast<const Bytef *>(compressed.data()),
                 static_cast<uLong>(compressed.size())) != Z_OK ||
      rawSize != raw.size())
    return false;
  pixels.assign(static_cast<std::size_t>(height) * stride, 0);
  for (int y = 0; y < height; ++y) {
    const Bytef *line = raw.data() + y * (1 + stride);
    int *out = pixels.data() + y * stride;
    const int *above = y > 0 ? out - stride : nullptr;
    for (std::size_t i = 0; i < stride; ++i) {
      const int left = i >= 3 ? out[i - 3] : 0;
      const int up = above ? above[i] : 0;
      const int upLeft = above && i >= 3 ? above[i - 3] : 0;
      int predictor = 0;
      switch (line[0]) {
      case 0:
        break;
      case 1:
        predictor = left;
        break;
      case 2:
        predictor = up;
        break;
      case 3:
        predictor = (left + up) / 2;
        break;
      case 4:
        predictor = Paeth(left, up, upLeft);
        break;
      default:
        return false;
      }
      out[i] = (line[1 + i] + predictor) & 0xFF;
    }
  }
  return true;
}

// A small raster with a few coloured pixels to read back.
void PaintSample(CMyPngWriter &writer) {
  writer.FillRect(0, 0, 2, 1, 0x0000FF);
  writer.FillRect(writer.Width - 1, writer.Height - 1, 1, 1, 0x563412);
  writer.FillRect(1, 1, 1, writer.Height - 1, 0x000000);
}

TEST(PngWriter, WritesExactlyTheListedChunksInOrder) {
  CMyPngWriter writer(5, 3, nullptr, 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  ASSERT_TRUE(writer.Create());
  PaintSample(writer);
  int result = -1;
  const std::vector<Chunk> chunks = ParseChunks(WriteToMemory(writer, &result));
  EXPECT_EQ(result, 0);
  std::vector<std::string> types;
  for (const Chunk &chunk : chunks) {
    types.push_back(chunk.Type);
    EXPECT_TRUE(chunk.CrcMatches) << chunk.Type;
  }
  const std::vector<std::string> expected = {"IHDR", "gAMA", "tIME", "tEXt",
                                             "tEXt", "tEXt", "tEXt", "tEXt",
                                             "IDAT", "IEND"};
  EXPECT_EQ(types, expected);
}

TEST(PngWriter, HeaderDescribesAnEightBitRgbRaster) {
  struct Row {
    int Width, Height;
  } rows[] = {{1, 1}, {5, 3}, {640, 2}, {3, 500}};
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.Width) + "x" + std::to_string(row.Height));
    CMyPngWriter writer(row.Width, row.Height, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    ASSERT_TRUE(writer.Create());
    const std::vector<Chunk> chunks = ParseChunks(WriteToMemory(writer));
    ASSERT_FALSE(chunks.empty());
    const Chunk &header = chunks.front();
    ASSERT_EQ(header.Type, "IHDR");
    ASSERT_EQ(header.Data.size(), 13u);
    EXPECT_EQ(BigEndian32(header.Data, 0),
              static_cast<std::uint32_t>(row.Width));
    EXPECT_EQ(BigEndian32(header.Data, 4),
              static_cast<std::uint32_t>(row.Height));
    EXPECT_EQ(ByteAt(header.Data, 8), 8);  // bit depth
    EXPECT_EQ(ByteAt(header.Data, 9), 2);  // colour type RGB
    EXPECT_EQ(ByteAt(header.Data, 10), 0); // deflate
    EXPECT_EQ(ByteAt(header.Data, 11), 0); // adaptive filtering
    EXPECT_EQ(ByteAt(header.Data, 12), 0); // not interlaced
    // One filter byte and three bytes a pixel on every row, all white.
    std::vector<int> pixels;
    ASSERT_TRUE(ReadRawPixels(chunks, row.Width, row.Height, pixels));
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 255),
              static_cast<long>(pixels.size()));
  }
}

TEST(PngWriter, PixelsReadBackUnchanged) {
  CMyPngWriter writer(7, 4, nullptr, 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  ASSERT_TRUE(writer.Create());
  PaintSample(writer);
  writer.DrawString("Ag", 12, 0, 1, 4, 0, 0.0, 0x000000);
  std::vector<int> pixels;
  ASSERT_TRUE(ReadRawPixels(ParseChunks(WriteToMemory(writer)), 7, 4, pixels));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 7; ++x) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      const int *pixel = pixels.data() + 3 * (y * 7 + x);
      EXPECT_EQ(pixel[0], writer.GetRed(x, y));
      EXPECT_EQ(pixel[1], writer.GetGreen(x, y));
      EXPECT_EQ(pixel[2], writer.GetBlue(x, y));
    }
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[2], 0);
  EXPECT_EQ(pixels[3 * (3 * 7 + 6) + 2], 0x56);
}

TEST(PngWriter, GammaBelowOneTenthBecomesSevenTenths) {
  struct Row {
    double Gamma;
    std::uint32_t Written;
    double After;
  } rows[] = {{0.5, 50000, 0.5},  {0.05, 70000, 0.7}, {0.0, 70000, 0.7},
              {-3.0, 70000, 0.7}, {0.1, 10000, 0.1},  {1.0, 100000, 1.0},
              {2.2, 220000, 2.2}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Gamma);
    CMyPngWriter writer(2, 2, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    ASSERT_TRUE(writer.Create());
    EXPECT_EQ(writer.Gamma, 0.5);
    writer.Gamma = row.Gamma;
    const std::vector<Chunk> chunks = ParseChunks(WriteToMemory(writer));
    ASSERT_GE(chunks.size(), 2u);
    ASSERT_EQ(chunks[1].Type, "gAMA");
    ASSERT_EQ(chunks[1].Data.size(), 4u);
    EXPECT_EQ(BigEndian32(chunks[1].Data, 0), row.Written);
    EXPECT_DOUBLE_EQ(writer.Gamma, row.After);
  }
}

struct TimeRow {
  const char *Name;
  CMyPngWriter::ClockFunction Clock;
  const char *Text;
  int Year, Month, Day, Hour, Minute, Second;
};

TEST(PngWriter, TextChunksCarryTheirKeywordsAndTheTimeOfTIme) {
  const TimeRow rows[] = {
      {"2023", FixedClock<1700000000>, "14 Nov 2023 22:13:20 +0000", 2023, 11,
       14, 22, 13, 20},
      {"single-digit day", FixedClock<1709596805>, "5 Mar 2024 00:00:05 +0000",
       2024, 3, 5, 0, 0, 5},
      {"epoch", FixedClock<0>, "1 Jan 1970 00:00:00 +0000", 1970, 1, 1, 0, 0,
       0},
      {"leap day", FixedClock<951782400>, "29 Feb 2000 00:00:00 +0000", 2000, 2,
       29, 0, 0, 0},
      {"last second of 2099", FixedClock<4102444799>,
       "31 Dec 2099 23:59:59 +0000", 2099, 12, 31, 23, 59, 59},
  };
  for (const TimeRow &row : rows) {
    SCOPED_TRACE(row.Name);
    CMyPngWriter writer(3, 2, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    ASSERT_TRUE(writer.Create());
    writer.Clock = row.Clock;
    const std::vector<Chunk> chunks = ParseChunks(WriteToMemory(writer));
    ASSERT_EQ(chunks.size(), 10u);

    const Chunk &time = chunks[2];
    ASSERT_EQ(time.Type, "tIME");
    ASSERT_EQ(time.Data.size(), 7u);
    EXPECT_EQ(BigEndian16(time.Data, 0), row.Year);
    EXPECT_EQ(ByteAt(time.Data, 2), row.Month);
    EXPECT_EQ(ByteAt(time.Data, 3), row.Day);
    EXPECT_EQ(ByteAt(time.Data, 4), row.Hour);
    EXPECT_EQ(ByteAt(time.Data, 5), row.Minute);
    EXPECT_EQ(ByteAt(time.Data, 6), row.Second);

    const std::vector<std::string> texts = {
        std::string("Title\0Title_Text", 16),
        std::string("Author\0Author_Text", 18),
        std::string("Description\0Description_Text", 28),
        std::string("Creation Time\0", 14) + row.Text,
        std::string("Software\0Software_Text", 22)};
    for (std::size_t i = 0; i < texts.size(); ++i) {
      ASSERT_EQ(chunks[3 + i].Type, "tEXt");
      EXPECT_EQ(chunks[3 + i].Data, texts[i]);
    }
  }
}

TEST(PngWriter, CompressionLevelShowsInTheZlibHeader) {
  // The FLEVEL bits of the zlib header: 0 for levels 0 and 1, 1 for 2 to 5,
  // 2 for level 6 and 3 for 7 to 9.
  struct Row {
    int Level, HeaderLevel;
  } rows[] = {{CMyPngWriter::DefaultCompression, 2},
              {6, 2},
              {9, 3},
              {7, 3},
              {4, 1},
              {5, 1},
              {2, 1},
              {1, 0},
              {0, 0}};
  // A small image's stream is libpng's; a large one's is the writer's own,
  // with the full 32 KiB window (0x78).
  for (const Row &row : rows)
    for (const int width : {40, 200}) {
      SCOPED_TRACE(std::to_string(row.Level) + " " + std::to_string(width));
      CMyPngWriter writer(width, 100, nullptr, 96, 96, White, row.Level);
      ASSERT_TRUE(writer.Create());
      PaintSample(writer);
      const std::string data = IdatData(ParseChunks(WriteToMemory(writer)));
      ASSERT_GE(data.size(), 2u);
      const int cmf = ByteAt(data, 0), flg = ByteAt(data, 1);
      EXPECT_EQ(cmf & 0x0F, 8); // deflate
      if (width == 200) {
        EXPECT_EQ(cmf, 0x78);
      }
      EXPECT_EQ((cmf * 256 + flg) % 31, 0);
      EXPECT_EQ(flg >> 6, row.HeaderLevel);
      RgbImage image;
      EXPECT_TRUE(DecodePng(WriteToMemory(writer), image));
    }
}

TEST(PngWriter, EncoderErrorsAreReturnedWithoutEndingTheProcess) {
  struct Row {
    const char *Name;
    int Level;
    bool Unbuffered;
  } rows[] = {{"write error on an unbuffered stream",
               CMyPngWriter::DefaultCompression, true},
              {"write error at the final flush",
               CMyPngWriter::DefaultCompression, false},
              {"compression level the compressor rejects", 42, false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    CMyPngWriter writer(64, 64, nullptr, 96, 96, White, row.Level);
    ASSERT_TRUE(writer.Create());
    std::FILE *stream =
        std::fopen(row.Level == CMyPngWriter::DefaultCompression ? "/dev/full"
                                                                 : "/dev/null",
                   "wb");
    ASSERT_NE(stream, nullptr);
    if (row.Unbuffered)
      std::setvbuf(stream, nullptr, _IONBF, 0);
    EXPECT_EQ(writer.WriteImage(stream), Failure);
    std::fclose(stream);
    // In memory, an encoder failure leaves what was there before.
    std::string file = "kept";
    EXPECT_EQ(writer.EncodeImage(file),
              row.Level == CMyPngWriter::DefaultCompression ? Success
                                                            : Failure);
    EXPECT_EQ(file.substr(0, 4), "kept");
    EXPECT_EQ(file.size() > 4, row.Level == CMyPngWriter::DefaultCompression);
  }
}

TEST(PngWriter, RasterThatWasNeverCreatedIsAnEncoderError) {
  struct Row {
    const char *Name;
    int Width, Height;
  } rows[] = {{"not created", 10, 10}, {"refused", 1000001, 1}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    CMyPngWriter writer(row.Width, row.Height, nullptr, 96, 96, White,
                        CMyPngWriter::DefaultCompression);
    if (row.Width > CImageWriter::MaxSidePixels) {
      EXPECT_FALSE(writer.Create());
    }
    int result = -1;
    EXPECT_TRUE(WriteToMemory(writer, &result).empty());
    EXPECT_EQ(result, Failure);
  }
}

TEST(PngWriter, IndependentCheckersAcceptTheFile) {
  STRIXEL_REQUIRE_READERS(Pngcheck);
  CMyPngWriter writer(31, 17, nullptr, 96, 96, White, 9);
  ASSERT_TRUE(writer.Create());
  writer.Clock = FixedClock<1700000000>;
  PaintSample(writer);
  writer.DrawString("Ag", 12, 0, 10, 16, 0, 0.0, 0x000000);
  const std::string path =
      WriteTestFile("png-writer-check.png", WriteToMemory(writer));

  int exitCode = -1;
  const std::string check =
      RunCommand({"/usr/bin/pngcheck", "-vt", path}, &exitCode);
  EXPECT_EQ(exitCode, 0) << check;
  EXPECT_NE(check.find("31 x 17 image, 24-bit RGB, non-interlaced"),
            std::string::npos)
      << check;
  EXPECT_NE(check.find("No errors detected"), std::string::npos) << check;
  for (const char *line :
       {"length 4: 0.50000\n", "length 7: 14 Nov 2023 22:13:20 UTC\n",
        "keyword: Title\n    Title_Text\n",
        "keyword: Author\n    Author_Text\n",
        "keyword: Description\n    Description_Text\n",
        "keyword: Creation Time\n    14 Nov 2023 22:13:20 +0000\n",
        "keyword: Software\n    Software_Text\n", "(10 chunks"})
    EXPECT_NE(check.find(line), std::string::npos) << line << "\n" << check;

  const std::string script =
      "import sys\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1]); im.load()\n"
      "print(im.size[0], im.size[1], im.mode)\n"
      "print(*im.getpixel((0, 0)), *im.getpixel((30, 16)))\n"
      "print(im.info['gamma'])\n"
      "print(im.info['Creation Time'])\n";
  const std::string pil =
      RunCommand({"/usr/bin/python3", "-c", script, path}, &exitCode);
  EXPECT_EQ(exitCode, 0) << pil;
  EXPECT_EQ(pil, "31 17 RGB\n255 0 0 18 52 86\n0.5\n"
                 "14 Nov 2023 22:13:20 +0000");
}

TEST(PngWriter, OnePixelImageIsAcceptedByPngcheck) {
  STRIXEL_REQUIRE_READERS(Pngcheck);
  CMyPngWriter writer(1, 1, nullptr, 96, 96, White,
                      CMyPngWriter::DefaultCompression);
  ASSERT_TRUE(writer.Create());
  writer.SetPixel(0, 0, 0x00FF00);
  const std::string png = WriteToMemory(writer);
  RgbImage image;
  ASSERT_TRUE(DecodePng(png, image));
  EXPECT_EQ(image.Width, 1);
  EXPECT_EQ(image.Height, 1);
  EXPECT_EQ(image.At(0, 0, 1), 255);
  const std::string path = WriteTestFile("png-writer-1x1.png", png);
  int exitCode = -1;
  const std::string check = RunCommand({"/usr/bin/pngcheck", path}, &exitCode);
  EXPECT_EQ(exitCode, 0) << check;
  EXPECT_NE(check.find("OK"), std::string::npos) << check;
}

} // namespace
