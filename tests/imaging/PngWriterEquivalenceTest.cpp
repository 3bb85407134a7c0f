// The program's writer chooses the filter of some rows itself, where it knows
// what libpng's default choice would be. Held here: for every kind of raster
// the file is byte for byte the one that plain png_write_image writes with
// libpng's own filter search on every row, with the same chunks and clock.

#include <gtest/gtest.h>

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/ErrorCodes.h"
#include "imaging/MyPngWriter.h"
#include "support/CgiRunner.h"

using namespace strixel;

namespace {

constexpr std::time_t Stamp = 1700000000;

std::time_t FixedClock() {
  return Stamp;
}

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string *>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char *>(data), length);
}

void FlushNothing(png_structp) {}

// The file as libpng writes it by itself: the chunks of the program's
// writer at level 6, then png_write_image with the default filters.
std::string ReferencePng(CMyPngWriter &raster) {
  static char keys[5][14] = {"Title", "Author", "Description", "Creation Time",
                             "Software"};
  static char values[5][29] = {"Title_Text", "Author_Text", "Description_Text",
                               "", "Software_Text"};
  std::string file;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "<reference encoder failed>";
  }
  png_set_write_fn(png, &file, AppendBytes, FlushNothing);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, static_cast<png_uint_32>(raster.Width),
               static_cast<png_uint_32>(raster.Height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_gAMA(png, info, 0.5);
  png_time modified;
  png_convert_from_time_t(&modified, Stamp);
  png_set_tIME(png, info, &modified);
  png_convert_to_rfc1123_buffer(values[3], &modified);
  png_text texts[5];
  std::memset(texts, 0, sizeof texts);
  for (int i = 0; i < 5; ++i) {
    texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
    texts[i].key = keys[i];
    texts[i].text = values[i];
    texts[i].text_length = std::strlen(values[i]);
  }
  png_set_text(png, info, texts, 5);
  png_write_info(png, info);
  png_write_image(png, raster.Rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return file;
}

using Painter = std::function<void(CMyPngWriter &)>;

void Fill(CMyPngWriter &raster, std::uint32_t colour) {
  raster.FillRect(0, 0, raster.Width, raster.Height, colour);
}

// Rows that differ from the row above in one byte only: the last one.
void LastByteChanges(CMyPngWriter &raster) {
  for (int y = 0; y < raster.Height; ++y)
    raster.SetPixel(raster.Width - 1, y, (y % 3 == 0 ? 0x400000u : 0u));
}

void Noise(CMyPngWriter &raster) {
  std::mt19937 random(7);
  for (std::uint8_t *row : raster.Rows)
    for (int i = 0; i < 3 * raster.Width; ++i)
      row[i] = static_cast<std::uint8_t>(random());
}

// Smooth slopes, the rows where Sub, Average and Paeth beat the others.
void Slopes(CMyPngWriter &raster) {
  for (int y = 0; y < raster.Height; ++y)
    for (int x = 0; x < raster.Width; ++x)
      raster.SetPixel(x, y,
                      static_cast<std::uint32_t>((3 * x + y) & 0xFF) |
                          static_cast<std::uint32_t>((x * y / 8) & 0xFF) << 8 |
                          static_cast<std::uint32_t>((2 * y - x) & 0xFF) << 16);
}

// Bands of all-zero rows between rows of bars and of grey, both ways round,
// starting with zero rows.
void ZeroBands(CMyPngWriter &raster) {
  for (int y = 0; y < raster.Height; ++y) {
    const int band = (y / 3) % 4;
    if (band == 1)
      for (int x = 0; x < raster.Width; x += 4)
        raster.FillRect(x, y, 2, 1, 0x000000);
    else if (band == 3)
      raster.FillRect(0, y, raster.Width, 1, 0x010101);
    else
      raster.FillRect(0, y, raster.Width, 1, 0x000000);
  }
}

struct RasterRow {
  std::string Name;
  std::string Query; // a request whose image is the raster, or
  int Width, Height; // a raster of this size, painted by Paint
  Painter Paint;
};

std::vector<RasterRow> SyntheticRows() {
  const Painter white = [](CMyPngWriter &) {};
  const Painter black = [](CMyPngWriter &r) { Fill(r, 0); };
  return {
      {"1 x 1 white", "", 1, 1, white},
      {"1 x 1 black", "", 1, 1, black},
      {"one pixel high", "", 300, 1, LastByteChanges},
      {"one pixel wide", "", 1, 40, LastByteChanges},
      {"all black", "", 30, 20, black},
      {"rows equal but for the last byte", "", 50, 30, LastByteChanges},
      {"black rows that differ in the last byte", "", 50, 30,
       [](CMyPngWriter &r) {
         Fill(r, 0);
         LastByteChanges(r);
       }},
      {"random noise", "", 64, 48, Noise},
      {"random noise one pixel wide", "", 1, 48, Noise},
      {"random noise two pixels wide", "", 2, 48, Noise},
      // 89 rows of 181 bytes: small enough for libpng to narrow the zlib
      // window; 91 rows are not, and fill two IDAT chunks and part of one.
      {"noise in a narrowed window", "", 60, 89, Noise},
      {"noise in three IDAT chunks", "", 60, 91, Noise},
      {"rows equal but for the last byte, large", "", 200, 90, LastByteChanges},
      {"zero rows after others and the reverse, large", "", 200, 96, ZeroBands},
      {"slopes", "", 90, 60, Slopes},
      {"zero rows after others and the reverse", "", 40, 48, ZeroBands},
      {"noise above white rows", "", 40, 30,
       [](CMyPngWriter &r) {
         Noise(r);
         r.FillRect(0, 10, r.Width, 20, 0xFFFFFF);
       }},
  };
}

// Each type at each quarter turn, the text below, off or above in turn.
std::vector<RasterRow> RequestRows() {
  const char *const samples[] = {"btype=0&data=123456",
                                 "btype=1&data=1234",
                                 "btype=2&data=CODE39",
                                 "btype=3&data=Ab%2Bc",
                                 "btype=4&data=123-45",
                                 "btype=5&data=A1234B",
                                 "btype=6&data=1234",
                                 "btype=7&data=1234567",
                                 "btype=8&data=12",
                                 "btype=9&data=52495",
                                 "btype=10&data=9638507",
                                 "btype=11&data=590123412345",
                                 "btype=12&data=1234567890123",
                                 "btype=13&data=03600029145",
                                 "btype=14&data=04210000526",
                                 "btype=15&data=%3C01%3E12345678901231",
                                 "btype=16&data=0012345678901234567",
                                 "btype=19&data=CODE93",
                                 "btype=20&data=abc",
                                 "btype=21&data=1234567890123"};
  const char *const texts[] = {"", "&text=0", "&tdown=0"};
  std::vector<RasterRow> rows;
  int turn = 0;
  for (const char *sample : samples)
    for (const char *angle : {"0", "90", "180", "270"}) {
      const std::string query =
          std::string(sample) + "&angle=" + angle + texts[turn++ % 3];
      rows.push_back({query, query, 0, 0, nullptr});
    }
  for (const char *query :
       {"bcolor=000000", "bcolor=000000&fcolor=000000&tcolor=000000",
        "bcolor=000000&fcolor=ffffff&tcolor=ffffff&angle=90",
        "fcolor=ff0000&tcolor=0000ff&bcolor=ffffcc&angle=270",
        "data=ABC&bred=-40&xdim=3", "btype=5&data=A1234B&bred=30&xdim=3",
        "w=600&h=300&angle=90", "talign=3&tdown=0&angle=180",
        "data=0123456789012345678901234567890123456789&xdim=40&h=60"})
    rows.push_back({query, query, 0, 0, nullptr});
  return rows;
}

// The raster of a row: painted, or read back from the program's image.
bool MakeRaster(const RasterRow &row, std::unique_ptr<CMyPngWriter> &raster) {
  RgbImage image;
  if (row.Paint) {
    image.Width = row.Width;
    image.Height = row.Height;
  } else if (!DecodePng(PngBody(RunGet(row.Query).Output), image)) {
    return false;
  }
  raster = std::make_unique<CMyPngWriter>(image.Width, image.Height, nullptr,
                                          96, 96, 0xFFFFFF,
                                          CMyPngWriter::DefaultCompression);
  if (!raster->Create())
    return false;
  raster->Clock = FixedClock;
  if (row.Paint) {
    row.Paint(*raster);
    return true;
  }
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(image.Width);
  for (int y = 0; y < image.Height; ++y)
    std::memcpy(raster->Rows[y], &image.Pixels[y * rowBytes], rowBytes);
  return true;
}

TEST(PngWriterEquivalence, FilesAreThoseOfLibpngsOwnFilterChoice) {
  std::vector<RasterRow> rows = SyntheticRows();
  for (RasterRow &row : RequestRows())
    rows.push_back(std::move(row));
  int wide = 0;
  for (const RasterRow &row : rows) {
    SCOPED_TRACE(row.Name);
    std::unique_ptr<CMyPngWriter> raster;
    ASSERT_TRUE(MakeRaster(row, raster));
    if (raster->Width >= 3000)
      ++wide;
    std::string file;
    ASSERT_EQ(raster->EncodeImage(file), Success);
    const std::string reference = ReferencePng(*raster);
    EXPECT_TRUE(file == reference)
        << raster->Width << " x " << raster->Height << ": " << file.size()
        << " bytes, libpng alone " << reference.size();
  }
  EXPECT_GE(wide, 1) << "no raster several thousand pixels wide";
}

} // namespace
