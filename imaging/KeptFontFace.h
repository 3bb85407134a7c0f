#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <tuple>

#include "imaging/FaceSize.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;
struct FT_Matrix_;

namespace strixel {

class CGlyphSet;

// FreeType and the embedded font's face, started once by a process that
// serves request after request and lent to the text engine of each. Starting
// FreeType, opening the face and running the font's control value program
// for a size cost more than drawing a barcode's text; a CGI process pays
// that once per request anyway, a FastCGI worker only once.
//
// Nothing a request draws depends on whether the face was lent: the text
// engine clears the transform a borrowed face was left with, and keeps the
// size of the request before only when it is the very size asked for.
// FreeType runs each glyph's program on a copy of whatever of the font's
// state that program writes, so the glyphs drawn before do not change the
// next one.
//
// The face also keeps the glyphs it has loaded and rendered, one glyph set
// per size and turn: a glyph is a function of the face, its size, the turn
// and the pen's fraction of a pixel alone, so a set filled by one request
// draws the next exactly as a fresh one would. Sets are kept only within a
// small budget, so that an idle worker stays small.
class CKeptFontFace {
public:
  CKeptFontFace();
  CKeptFontFace(const CKeptFontFace &) = delete;
  CKeptFontFace &operator=(const CKeptFontFace &) = delete;
  ~CKeptFontFace();

  // Starts FreeType and opens the face unless that is done: Success or
  // CannotCreateCanvas.
  int Open();
  // Closes the face and stops FreeType; the next Open starts afresh. For a
  // request that ran out of memory inside FreeType, which may have left the
  // face half changed.
  void Close();
  bool IsOpen() const { return Face != nullptr; }

  // The glyph set of the face's size (which must be set: Size.IsSet) under
  // the matrix, made on first use. Throws std::bad_alloc.
  CGlyphSet &GlyphsFor(const FT_Matrix_ &matrix);
  // Drops every glyph set once they hold more than bytes together.
  void KeepGlyphsWithin(std::size_t bytes);
  // The memory the glyph sets hold, as they count it.
  std::size_t GlyphBytes() const;

  FT_LibraryRec_ *Library = nullptr;
  FT_FaceRec_ *Face = nullptr;
  FaceSize Size;

private:
  // Size and dpi, then the matrix's xx, xy, yx and yy.
  using GlyphSetKey = std::tuple<int, int, int, long, long, long, long>;
  std::map<GlyphSetKey, std::unique_ptr<CGlyphSet>> GlyphSets;
};

// Lends a kept face to the text engines started while the scope lasts (the
// one before it again after), so that a request's code need not know
// whether it runs in a process of its own.
class CKeptFaceScope {
public:
  explicit CKeptFaceScope(CKeptFontFace &face);
  CKeptFaceScope(const CKeptFaceScope &) = delete;
  CKeptFaceScope &operator=(const CKeptFaceScope &) = delete;
  ~CKeptFaceScope();

private:
  CKeptFontFace *Previous;
};

// The face lent now, or nullptr.
CKeptFontFace *LentFontFace();

} // namespace strixel
