#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace strixel {

// A glyph rendered to 8-bit coverage for one sub-pixel phase of the pen.
class CGlyphBitmap {
public:
  // The bitmap's left column and top row (counted upwards from the
  // baseline) for a pen within the first pixel; the pen's whole pixels are
  // added where it is drawn.
  std::int64_t Left = 0;
  std::int64_t Top = 0;
  int Width = 0;
  int Rows = 0;
  // False for a glyph that is not an outline: it stays where it is.
  bool FollowsPen = true;
  // The runs of columns with ink, row after row: the runs of row r are
  // Runs[RowRuns[r]] up to Runs[RowRuns[r + 1]]. Only the coverage bytes of
  // the runs are kept, run after run, so blank pixels take no memory and
  // are never visited.
  struct InkRun {
    int First, End;     // columns [First, End)
    std::size_t Offset; // of the coverage of column First
  };
  std::vector<InkRun> Runs;
  std::vector<std::size_t> RowRuns;
  std::vector<std::uint8_t> Coverage;
  // The memory the bitmap holds.
  std::size_t Bytes() const;
  // How many coverage bytes are neither 0 nor 255 (counted once).
  std::size_t PartialPixels() const;

private:
  mutable std::size_t PartialCount = 0;
  mutable bool PartialCounted = false;
};

} // namespace strixel
