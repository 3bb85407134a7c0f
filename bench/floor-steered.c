/* The steered floor: bench/floor.c with one change, the filter choice of
 * the barcode program's writer. Rows that libpng's default choice would
 * filter with Up (a row equal to the row above) or None (an all-zero row)
 * are given that filter directly; every other row keeps libpng's search.
 * The file is byte for byte the floor's; this is the cheapest request the
 * output format allows with libpng.
 *
 * floor.c is included as it is; only its call of png_write_image is
 * replaced, by a macro that also hands over the info structure in scope
 * there. Built statically by bench/run; nothing else in the project uses it.
 */
#include <png.h>
#include <string.h>

static int FilterOfRow(png_const_bytep row, png_const_bytep above,
                       size_t bytes) {
  if (!above)
    return PNG_ALL_FILTERS;
  if (row[0] == 0 && memcmp(row, row + 1, bytes - 1) == 0)
    return PNG_FILTER_NONE;
  if (memcmp(row, above, bytes) == 0)
    return PNG_FILTER_UP;
  return PNG_ALL_FILTERS;
}

static void WriteSteeredRows(png_structp png, png_infop info, png_bytepp rows) {
  const png_uint_32 height = png_get_image_height(png, info);
  const size_t bytes = png_get_rowbytes(png, info);
  int current = PNG_ALL_FILTERS;
  for (png_uint_32 y = 0; y < height; ++y) {
    const int filter = FilterOfRow(rows[y], y > 0 ? rows[y - 1] : NULL, bytes);
    if (filter != current)
      png_set_filter(png, PNG_FILTER_TYPE_BASE, filter);
    current = filter;
    png_write_row(png, rows[y]);
  }
}

#define png_write_image(png, rows) WriteSteeredRows(png, info, rows)
#include "floor.c"
