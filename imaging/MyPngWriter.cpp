#include "imaging/MyPngWriter.h"

#include <csetjmp>
#include <cstring>

#include <png.h>

namespace strixel {

namespace {

// The deflate level that CompressionLevel -2 stands for.
constexpr int DefaultCompressionLevel = 6;
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
// returns control to WriteImage, which ends the request with EncoderError.
[[noreturn]] void OnEncoderError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

void OnEncoderWarning(png_structp, png_const_charp) {}

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

// Everything libpng may jump out of. It holds no object with a destructor,
// so the jump skips no clean-up: the structures are released by the caller.
int EncodeRows(png_structp png, png_infop info, std::FILE *stream,
               CMyPngWriter &writer, PngTexts &texts) {
  if (setjmp(png_jmpbuf(png)))
    return CMyPngWriter::EncoderError;

  png_init_io(png, stream);
  png_set_compression_level(png, writer.CompressionLevel == -2
                                     ? DefaultCompressionLevel
                                     : writer.CompressionLevel);
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

  png_write_info(png, info);
  png_write_image(png, writer.Rows.data());
  png_write_end(png, info);
  return 0;
}

} // namespace

CMyPngWriter::CMyPngWriter(int width, int height, const char *fontPath,
                           int dpiX, int dpiY, std::uint32_t backgroundColor,
                           int compressionLevel)
    : CImageWriter(width, height, backgroundColor, fontPath, dpiX, dpiY),
      CompressionLevel(compressionLevel), Clock(SystemClock) {}

CMyPngWriter::~CMyPngWriter() = default;

int CMyPngWriter::WriteImage(std::FILE *stream) {
  // A raster that was never created (or failed to be) has no rows to hand
  // over.
  if (!stream || Width < 1 || Height < 1 ||
      Rows.size() != static_cast<std::size_t>(Height))
    return EncoderError;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                            OnEncoderError, OnEncoderWarning);
  if (!png)
    return EncoderError;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return EncoderError;
  }
  PngTexts texts;
  int result = EncodeRows(png, info, stream, *this, texts);
  png_destroy_write_struct(&png, &info);
  // A short write must not pass for a complete image.
  if (result == 0 && (std::fflush(stream) != 0 || std::ferror(stream)))
    result = EncoderError;
  return result;
}

} // namespace strixel
