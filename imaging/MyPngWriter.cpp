#include "imaging/MyPngWriter.h"

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "engine/ErrorCodes.h"
#include "imaging/Adler32.h"

namespace strixel {

namespace {

// The deflate level that CMyPngWriter::DefaultCompression stands for.
constexpr int DefaultDeflateLevel = 6;
// Gamma values below this are replaced by ReplacementGamma.
constexpr double MinimumGamma = 0.1;
constexpr double ReplacementGamma = 0.7;
constexpr int TextChunkCount = 5;
// png_convert_to_rfc1123_buffer needs 29 bytes.
constexpr std::size_t TimeTextSize = 29;

std::time_t SystemClock() {
  return std::time(nullptr);
}

// libpng's own handler prints and, without a jump buffer, aborts; this one
// returns control to EncodeRows, which reports the failure.
[[noreturn]] void OnEncoderError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

void OnEncoderWarning(png_structp, png_const_charp) {}

bool Append(std::string &file, const png_bytep data, png_size_t length) {
  try {
    file.append(reinterpret_cast<const char *>(data), length);
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

// The encoder's output goes to memory, so that nothing of a file that cannot
// be finished reaches the response. An allocation failure must not unwind
// through libpng: it becomes an encoder error.
void AppendToFile(png_structp png, png_bytep data, png_size_t length) {
  if (!Append(*static_cast<std::string *>(png_get_io_ptr(png)), data, length))
    png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

// One tEXt entry; libpng wants writable keyword and text pointers.
png_text TextEntry(char *keyword, char *text) {
  png_text entry;
  std::memset(&entry, 0, sizeof entry);
  entry.compression = PNG_TEXT_COMPRESSION_NONE;
  entry.key = keyword;
  entry.text = text;
  entry.text_length = std::strlen(text);
  return entry;
}

struct PngTexts {
  char TitleKey[6] = "Title";
  char TitleText[11] = "Title_Text";
  char AuthorKey[7] = "Author";
  char AuthorText[12] = "Author_Text";
  char DescriptionKey[12] = "Description";
  char DescriptionText[17] = "Description_Text";
  char CreationKey[14] = "Creation Time";
  char CreationText[TimeTextSize] = "";
  char SoftwareKey[9] = "Software";
  char SoftwareText[14] = "Software_Text";
};

int DeflateLevel(int compressionLevel) {
  return compressionLevel == CMyPngWriter::DefaultCompression
             ? DefaultDeflateLevel
             : compressionLevel;
}

// Everything that goes before the image data: header, gamma, time and texts.
void SetUpChunks(png_structp png, png_infop info, CMyPngWriter &writer,
                 PngTexts &texts) {
  png_set_compression_level(png, DeflateLevel(writer.CompressionLevel));
  png_set_IHDR(png, info, static_cast<png_uint_32>(writer.Width),
               static_cast<png_uint_32>(writer.Height), writer.BitDepth,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (writer.Gamma < MinimumGamma)
    writer.Gamma = ReplacementGamma;
  png_set_gAMA(png, info, writer.Gamma);

  // One reading of the clock serves both tIME and the Creation Time text.
  png_time modified;
  png_convert_from_time_t(&modified,
                          writer.Clock ? writer.Clock() : SystemClock());
  png_set_tIME(png, info, &modified);
  if (!png_convert_to_rfc1123_buffer(texts.CreationText, &modified))
    texts.CreationText[0] = '\0';

  png_text entries[TextChunkCount] = {
      TextEntry(texts.TitleKey, texts.TitleText),
      TextEntry(texts.AuthorKey, texts.AuthorText),
      TextEntry(texts.DescriptionKey, texts.DescriptionText),
      TextEntry(texts.CreationKey, texts.CreationText),
      TextEntry(texts.SoftwareKey, texts.SoftwareText),
  };
  png_set_text(png, info, entries, TextChunkCount);
}

// How far a filtered byte lies from zero by libpng's measure, bytes of 128
// and above counting as negative: the smaller of v and 256 - v.
inline std::uint8_t Distance(std::uint8_t v) {
  const auto negated = static_cast<std::uint8_t>(-v);
  return v < negated ? v : negated;
}

// The Paeth predictor: of left, above and upper left, the one nearest to
// left + above - upper left, in that order on ties.
inline std::uint8_t PaethPredictor(std::uint8_t left, std::uint8_t above,
                                   std::uint8_t upperLeft) {
  const int toLeft = std::abs(above - upperLeft);
  const int toAbove = std::abs(left - upperLeft);
  const int toUpperLeft = std::abs(left + above - 2 * upperLeft);
  const std::uint8_t aboveOrUpperLeft =
      toAbove <= toUpperLeft ? above : upperLeft;
  return toLeft <= toAbove && toLeft <= toUpperLeft ? left : aboveOrUpperLeft;
}

inline std::uint8_t Difference(int x, int prediction) {
  return static_cast<std::uint8_t>(x - prediction);
}

// A row's sums hold at most 3 x MaxSidePixels bytes of at most 128 each.
static_assert(3 * CImageWriter::MaxSidePixels * 128 <= UINT32_MAX,
              "filter sums fit 32 bits");

// libpng's default choice for a row below another: the filter whose bytes
// lie nearest zero in sum, trying None, Sub, Up, Average and Paeth in that
// order and keeping the first smallest. One pass over the row, written so
// that the compiler can take many bytes at a time, where libpng filters the
// row five times over.
int SearchedFilter(const std::uint8_t *row, const std::uint8_t *above,
                   std::size_t bytes) {
  constexpr std::size_t Bpp = CImageWriter::BytesPerPixel;
  std::uint32_t none = 0, sub = 0, up = 0, average = 0, paeth = 0;
  // The first pixel has nothing to its left: Sub leaves it as it is, and
  // Average and Paeth predict it from above.
  for (std::size_t i = 0; i < Bpp && i < bytes; ++i) {
    none += Distance(row[i]);
    sub += Distance(row[i]);
    up += Distance(Difference(row[i], above[i]));
    average += Distance(Difference(row[i], above[i] / 2));
    paeth += Distance(Difference(row[i], above[i]));
  }
  for (std::size_t i = Bpp; i < bytes; ++i) {
    const std::uint8_t x = row[i], a = row[i - Bpp], b = above[i],
                       c = above[i - Bpp];
    none += Distance(x);
    sub += Distance(Difference(x, a));
    up += Distance(Difference(x, b));
    average += Distance(Difference(x, (a + b) / 2));
    paeth += Distance(Difference(x, PaethPredictor(a, b, c)));
  }
  struct Candidate {
    int Filter;
    std::uint32_t Sum;
    bool LooksLeft;
  };
  const Candidate later[] = {{PNG_FILTER_SUB, sub, true},
                             {PNG_FILTER_UP, up, false},
                             {PNG_FILTER_AVG, average, true},
                             {PNG_FILTER_PAETH, paeth, true}};
  // libpng leaves the filters that look left out of the search of an image
  // one pixel wide.
  const bool oneWide = bytes <= Bpp;
  int best = PNG_FILTER_NONE;
  std::uint32_t smallest = none;
  for (const Candidate &candidate : later)
    if (!(oneWide && candidate.LooksLeft) && candidate.Sum < smallest) {
      best = candidate.Filter;
      smallest = candidate.Sum;
    }
  return best;
}

// The filter libpng's default choice takes for a row. Two cases need no
// search:
// - an all-zero row scores 0 with None, which no later filter can undercut;
// - any other row that equals the row above scores 0 with Up, while None
//   scores above 0 (it has a non-zero byte) and so does Sub (a zero Sub row
//   would make every byte equal to the zero bytes left of the first pixel).
// The first row is left to libpng's own search (PNG_ALL_FILTERS): its first
// row also sets up the buffers the filters of the later rows need.
// RepeatsAbove tells the second case, whose filtered bytes are all zero.
struct RowFilter {
  int Filter;
  bool RepeatsAbove;
};

RowFilter FilterOfRow(const std::uint8_t *row, const std::uint8_t *above,
                      std::size_t bytes) {
  if (!above)
    return {PNG_ALL_FILTERS, false};
  if (row[0] == 0 && std::memcmp(row, row + 1, bytes - 1) == 0)
    return {PNG_FILTER_NONE, false};
  if (std::memcmp(row, above, bytes) == 0)
    return {PNG_FILTER_UP, true};
  return {SearchedFilter(row, above, bytes), false};
}

// --- Writing the image data without libpng's row machinery --------------
//
// For a row equal to the one above, libpng copies the row, filters it to
// zeros and hands the zeros to zlib; for every row it copies and filters
// again what the search above has already read. Past the sizes where
// libpng shapes its zlib stream to the image, the writer compresses the
// filtered rows itself with the very parameters libpng uses and cuts the
// stream into IDAT chunks where libpng does, so the file is the same.

// libpng's zlib parameters for the image data: window, memory level, and the
// strategy it takes for filtered rows.
constexpr int DeflateWindowBits = 15;
constexpr int DeflateMemoryLevel = 8;
constexpr int FilteredStrategy = Z_FILTERED;
// libpng's output buffer, and with it the size of every IDAT chunk but the
// last.
constexpr std::size_t IdatChunkBytes = 8192;
// Up to this much filtered image data libpng narrows the zlib window and
// rewrites the stream header to match, which this writer leaves to libpng.
constexpr std::uint64_t NarrowedWindowBytes = 16384;

// The filter type byte PNG writes before a row, for each filter flag.
std::uint8_t FilterTypeByte(int filter) {
  switch (filter) {
  case PNG_FILTER_SUB:
    return PNG_FILTER_VALUE_SUB;
  case PNG_FILTER_UP:
    return PNG_FILTER_VALUE_UP;
  case PNG_FILTER_AVG:
    return PNG_FILTER_VALUE_AVG;
  case PNG_FILTER_PAETH:
    return PNG_FILTER_VALUE_PAETH;
  default:
    return PNG_FILTER_VALUE_NONE;
  }
}

// The filtered row as PNG stores it: the filter type byte, then the bytes.
void FilterRow(int filter, const std::uint8_t *row, const std::uint8_t *above,
               std::size_t bytes, std::uint8_t *out) {
  constexpr std::size_t Bpp = CImageWriter::BytesPerPixel;
  out[0] = FilterTypeByte(filter);
  std::uint8_t *filtered = out + 1;
  for (std::size_t i = 0; i < bytes; ++i) {
    const std::uint8_t x = row[i], b = above[i];
    const std::uint8_t a = i >= Bpp ? row[i - Bpp] : 0;
    const std::uint8_t c = i >= Bpp ? above[i - Bpp] : 0;
    switch (filter) {
    case PNG_FILTER_SUB:
      filtered[i] = Difference(x, a);
      break;
    case PNG_FILTER_UP:
      filtered[i] = Difference(x, b);
      break;
    case PNG_FILTER_AVG:
      filtered[i] = Difference(x, (a + b) / 2);
      break;
    case PNG_FILTER_PAETH:
      filtered[i] = Difference(x, PaethPredictor(a, b, c));
      break;
    default:
      filtered[i] = x;
    }
  }
}

// The two bytes that open a zlib stream: deflate with a 32 KiB window, and
// the class of the level, as zlib records it (fastest, fast, default, best).
std::array<std::uint8_t, 2> ZlibHeader(int level) {
  if (level == Z_DEFAULT_COMPRESSION)
    level = DefaultDeflateLevel;
  const unsigned levelClass = level < 2    ? 0
                              : level < 6  ? 1
                              : level == 6 ? 2
                                           : 3;
  unsigned header =
      (Z_DEFLATED + ((DeflateWindowBits - 8) << 4)) << 8 | levelClass << 6;
  header += 31 - header % 31;
  return {static_cast<std::uint8_t>(header >> 8),
          static_cast<std::uint8_t>(header & 0xFF)};
}

// zlib's deflate for the image data, ended on every path. zlib is asked for
// the bare deflate data, which is the same as inside its own stream; the
// writer adds the stream's header and check, the check with its own
// Adler-32, many times cheaper than zlib's byte by byte one.
class CIdatStream {
public:
  CIdatStream() = default;
  CIdatStream(const CIdatStream &) = delete;
  CIdatStream &operator=(const CIdatStream &) = delete;
  ~CIdatStream() {
    if (Started)
      deflateEnd(&Stream);
  }

  bool Start(int level) {
    Level = level;
    Started = deflateInit2(&Stream, level, Z_DEFLATED, -DeflateWindowBits,
                           DeflateMemoryLevel, FilteredStrategy) == Z_OK;
    return Started;
  }

  z_stream Stream{};
  bool Started = false;
  int Level = 0;
  CAdler32 Check;
};

// The buffers of the image data, made before libpng may jump: a jump must
// not skip their release.
struct IdatBuffers {
  explicit IdatBuffers(std::size_t rowBytes)
      : Filtered(rowBytes + 1), Unchanged(rowBytes + 1, 0),
        ZeroRow(rowBytes, 0), Output(IdatChunkBytes) {
    Unchanged[0] = PNG_FILTER_VALUE_UP;
  }
  std::vector<std::uint8_t> Filtered;
  // The filtered form of any row equal to the one above.
  std::vector<std::uint8_t> Unchanged;
  // What libpng filters the first row against.
  std::vector<std::uint8_t> ZeroRow;
  std::vector<std::uint8_t> Output;
};

// Whether the writer compresses the image data itself: beyond the sizes
// where libpng narrows its window, and where libpng tries every filter on
// every row (it tries fewer for an image one pixel wide or high).
bool WritesOwnImageData(std::int64_t width, std::int64_t height) {
  const std::uint64_t filteredBytes =
      static_cast<std::uint64_t>(height) *
      (static_cast<std::uint64_t>(CImageWriter::BytesPerPixel) *
           static_cast<std::uint64_t>(width) +
       1);
  return width > 1 && height > 1 && filteredBytes > NarrowedWindowBytes;
}

// Writes the output buffer as an IDAT chunk, unless it is empty, and starts
// it again.
void WriteChunk(png_structp png, CIdatStream &idat, IdatBuffers &buffers) {
  const std::size_t used = IdatChunkBytes - idat.Stream.avail_out;
  if (used > 0)
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"),
                    buffers.Output.data(), used);
  idat.Stream.next_out = buffers.Output.data();
  idat.Stream.avail_out = static_cast<uInt>(IdatChunkBytes);
}

// Adds bytes of the stream's header or check to the output.
void PutBytes(png_structp png, CIdatStream &idat, IdatBuffers &buffers,
              const std::uint8_t *bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (idat.Stream.avail_out == 0)
      WriteChunk(png, idat, buffers);
    *idat.Stream.next_out++ = bytes[i];
    --idat.Stream.avail_out;
  }
}

// Compresses size bytes, writing each full output buffer as an IDAT chunk;
// with finish, ends the deflate data. False when zlib failed.
bool Compress(png_structp png, CIdatStream &idat, IdatBuffers &buffers,
              const std::uint8_t *data, std::size_t size, bool finish) {
  z_stream &z = idat.Stream;
  z.next_in = const_cast<Bytef *>(data);
  z.avail_in = static_cast<uInt>(size);
  for (;;) {
    const int result = deflate(&z, finish ? Z_FINISH : Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
      return false;
    const bool full = z.avail_out == 0;
    if (full)
      WriteChunk(png, idat, buffers);
    if (result == Z_STREAM_END || (!finish && z.avail_in == 0 && !full))
      return true;
  }
}

// The IDAT chunks and IEND, as png_write_image and png_write_end with the
// default filters write them.
bool WriteImageData(png_structp png, const std::vector<std::uint8_t *> &rows,
                    std::size_t rowBytes, CIdatStream &idat,
                    IdatBuffers &buffers) {
  idat.Stream.next_out = buffers.Output.data();
  idat.Stream.avail_out = static_cast<uInt>(IdatChunkBytes);
  const std::array<std::uint8_t, 2> header = ZlibHeader(idat.Level);
  PutBytes(png, idat, buffers, header.data(), header.size());
  const std::uint8_t *above = buffers.ZeroRow.data();
  for (const std::uint8_t *row : rows) {
    const RowFilter choice = FilterOfRow(row, above, rowBytes);
    const std::uint8_t *filtered = buffers.Unchanged.data();
    if (choice.RepeatsAbove) {
      // The filter type byte, then nothing but zeros.
      idat.Check.Add(filtered, 1);
      idat.Check.AddZeros(rowBytes);
    } else {
      FilterRow(choice.Filter, row, above, rowBytes, buffers.Filtered.data());
      filtered = buffers.Filtered.data();
      idat.Check.Add(filtered, rowBytes + 1);
    }
    if (!Compress(png, idat, buffers, filtered, rowBytes + 1, false))
      return false;
    above = row;
  }
  if (!Compress(png, idat, buffers, nullptr, 0, true))
    return false;
  const std::uint32_t check = idat.Check.Value();
  const std::uint8_t trailer[] = {static_cast<std::uint8_t>(check >> 24),
                                  static_cast<std::uint8_t>(check >> 16),
                                  static_cast<std::uint8_t>(check >> 8),
                                  static_cast<std::uint8_t>(check)};
  PutBytes(png, idat, buffers, trailer, sizeof trailer);
  WriteChunk(png, idat, buffers);
  png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
  return true;
}

// Writes the rows one at a time, each with the filter choice above; the file
// is byte for byte what png_write_image with the default filters writes.
void WriteRows(png_structp png, const std::vector<std::uint8_t *> &rows,
               std::size_t rowBytes) {
  int current = PNG_ALL_FILTERS;
  for (std::size_t y = 0; y < rows.size(); ++y) {
    const int filter =
        FilterOfRow(rows[y], y > 0 ? rows[y - 1] : nullptr, rowBytes).Filter;
    if (filter != current)
      png_set_filter(png, PNG_FILTER_TYPE_BASE, filter);
    current = filter;
    png_write_row(png, rows[y]);
  }
}

// Everything libpng may jump out of. It holds no object with a destructor,
// so the jump skips no clean-up: the structures are released by the caller.
// With idat, the writer compresses the image data itself.
int EncodeRows(png_structp png, png_infop info, std::string &file,
               CMyPngWriter &writer, PngTexts &texts, CIdatStream *idat,
               IdatBuffers *buffers) {
  if (setjmp(png_jmpbuf(png)))
    return Failure;
  png_set_write_fn(png, &file, AppendToFile, FlushNothing);
  SetUpChunks(png, info, writer, texts);
  png_write_info(png, info);
  const std::size_t rowBytes =
      CImageWriter::BytesPerPixel * static_cast<std::size_t>(writer.Width);
  if (idat)
    return WriteImageData(png, writer.Rows, rowBytes, *idat, *buffers)
               ? Success
               : Failure;
  WriteRows(png, writer.Rows, rowBytes);
  png_write_end(png, info);
  return Success;
}

} // namespace

CMyPngWriter::CMyPngWriter(int width, int height, const char *fontPath,
                           int dpiX, int dpiY, std::uint32_t backgroundColor,
                           int compressionLevel)
    : CImageWriter(width, height, backgroundColor, fontPath, dpiX, dpiY),
      CompressionLevel(compressionLevel), Clock(SystemClock) {}

CMyPngWriter::~CMyPngWriter() = default;

int CMyPngWriter::EncodeImage(std::string &file) {
  // A raster that was never created (or failed to be) has no rows to hand
  // over.
  if (Width < 1 || Height < 1 ||
      Rows.size() != static_cast<std::size_t>(Height))
    return Failure;
  // Made before libpng's structures, which are not released on a jump. The
  // encoder running out of memory is its failure, as within libpng.
  const bool ownImageData = WritesOwnImageData(Width, Height);
  std::unique_ptr<IdatBuffers> buffers;
  CIdatStream idat;
  if (ownImageData) {
    try {
      buffers = std::make_unique<IdatBuffers>(BytesPerPixel *
                                              static_cast<std::size_t>(Width));
    } catch (const std::bad_alloc &) {
      return Failure;
    }
    if (!idat.Start(DeflateLevel(CompressionLevel)))
      return Failure;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                            OnEncoderError, OnEncoderWarning);
  if (!png)
    return Failure;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return Failure;
  }
  const std::size_t before = file.size();
  PngTexts texts;
  const int result = EncodeRows(png, info, file, *this, texts,
                                ownImageData ? &idat : nullptr, buffers.get());
  png_destroy_write_struct(&png, &info);
  if (result != Success)
    file.resize(before);
  return result;
}

int CMyPngWriter::WriteImage(std::FILE *stream) {
  if (!stream)
    return Failure;
  std::string file;
  if (EncodeImage(file) != Success)
    return Failure;
  // A short write must not pass for a complete image.
  if (std::fwrite(file.data(), 1, file.size(), stream) != file.size() ||
      std::fflush(stream) != 0)
    return Failure;
  return Success;
}

} // namespace strixel
