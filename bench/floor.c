/* The floor of one image request: only what the output format demands.
 *
 * A CGI program that reads the image size from QUERY_STRING ("WIDTHxHEIGHT",
 * for example "230x200"), allocates an RGB raster of that size, draws
 * vertical bars into it (a quiet zone of 20 pixels at each end, then bars
 * and spaces of 1 to 4 modules of 2 pixels in a fixed sequence) and writes
 * the image header and the PNG with the same libpng calls and settings as
 * the barcode program: 8-bit RGB, no interlace, the chunks IHDR, gAMA, tIME,
 * five tEXt, IDAT and IEND, deflate level 6 and libpng's default filters.
 *
 * Built statically by bench/run; nothing else in the project uses it.
 */
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { QuietPixels = 20, ModulePixels = 2, MaxSide = 100000 };

/* The element widths in modules, repeated across the symbol: the widths of
 * a few Code 128 symbol characters, so bars and spaces vary as in a real
 * symbol. */
static const unsigned char ElementModules[] = {2, 1, 2, 2, 2, 2, 1, 3, 1, 2,
                                               2, 3, 1, 1, 2, 2, 3, 2, 2, 1,
                                               1, 4, 1, 1, 3, 1, 1, 2, 3, 2};

static int ReadSize(int *width, int *height) {
  const char *query = getenv("QUERY_STRING");
  if (!query || sscanf(query, "%dx%d", width, height) != 2)
    return 0;
  return *width >= 1 && *height >= 1 && *width <= MaxSide && *height <= MaxSide;
}

/* One row of bars, copied into every row: vertical bars make every row of
 * the raster the same. */
static void DrawBars(png_bytep *rows, int width, int height) {
  const size_t rowBytes = 3 * (size_t)width;
  memset(rows[0], 0xFF, rowBytes);
  int x = QuietPixels;
  size_t element = 0;
  int bar = 1;
  while (x < width - QuietPixels) {
    int w = ElementModules[element] * ModulePixels;
    element = (element + 1) % sizeof ElementModules;
    if (x + w > width - QuietPixels)
      w = width - QuietPixels - x;
    if (bar)
      memset(rows[0] + 3 * (size_t)x, 0, 3 * (size_t)w);
    bar = !bar;
    x += w;
  }
  for (int y = 1; y < height; ++y)
    memcpy(rows[y], rows[0], rowBytes);
}

static void WritePng(png_bytep *rows, int width, int height) {
  static char titleKey[] = "Title", titleText[] = "Title_Text";
  static char authorKey[] = "Author", authorText[] = "Author_Text";
  static char descriptionKey[] = "Description",
              descriptionText[] = "Description_Text";
  static char creationKey[] = "Creation Time";
  static char softwareKey[] = "Software", softwareText[] = "Software_Text";
  char creationText[29];

  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  png_infop info = png_create_info_struct(png);
  if (!png || !info || setjmp(png_jmpbuf(png)))
    exit(2);
  png_init_io(png, stdout);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_gAMA(png, info, 0.5);
  png_time modified;
  png_convert_from_time_t(&modified, time(NULL));
  png_set_tIME(png, info, &modified);
  if (!png_convert_to_rfc1123_buffer(creationText, &modified))
    creationText[0] = '\0';

  png_text texts[5];
  memset(texts, 0, sizeof texts);
  char *keys[5] = {titleKey, authorKey, descriptionKey, creationKey,
                   softwareKey};
  char *values[5] = {titleText, authorText, descriptionText, creationText,
                     softwareText};
  for (int i = 0; i < 5; ++i) {
    texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
    texts[i].key = keys[i];
    texts[i].text = values[i];
    texts[i].text_length = strlen(values[i]);
  }
  png_set_text(png, info, texts, 5);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
}

int main(void) {
  int width, height;
  if (!ReadSize(&width, &height))
    return 1;
  const size_t rowBytes = 3 * (size_t)width;
  png_bytep pixels = malloc(rowBytes * (size_t)height);
  png_bytep *rows = malloc(sizeof *rows * (size_t)height);
  if (!pixels || !rows)
    return 3;
  for (int y = 0; y < height; ++y)
    rows[y] = pixels + rowBytes * (size_t)y;
  DrawBars(rows, width, height);

  fputs("Content-type: image/png\n\n", stdout);
  WritePng(rows, width, height);
  fflush(stdout);
  free(rows);
  free(pixels);
  return 0;
}
