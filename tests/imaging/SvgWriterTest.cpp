#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "imaging/MySvgWriter.h"

using namespace strixel;

namespace {

// Texts of a <title>: markup escaped, well-formed UTF-8 kept, everything
// XML cannot carry (or a reader would show as garbage) replaced by U+FFFD,
// one per byte of a broken sequence.
TEST(SvgWriter, EscapesTitleText) {
  const std::string R = "\xEF\xBF\xBD";
  struct Row {
    const char *Name;
    std::string Text, Expected;
  } rows[] = {
      {"markup", "<a href=\"x\">&]]>",
       "&lt;a href=&quot;x&quot;&gt;&amp;]]&gt;"},
      {"controls", std::string("a\x01\t\n\x1F\x7F", 6) + "b",
       "a" + R + R + R + R + R + "b"},
      {"two, three and four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"highest of two bytes", "\xDF\xBF", "\xDF\xBF"},
      {"no lead above F4", "\xF5\x80\x80\x80", R + R + R + R},
      {"lone continuation and lead bytes", "\x80x\xC3", R + "x" + R},
      {"overlong", "\xC0\xAF\xE0\x80\xAF", R + R + R + R + R},
      {"overlong of lead C1", "\xC1\xBF", R + R},
      {"surrogate", "\xED\xA0\x80", R + R + R},
      {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
      {"cut short", "\xE2\x82", R + R},
      {"C1 control", "\xC2\x85", R},
      {"not characters in XML", "\xEF\xBF\xBE\xEF\xBF\xBF", R + R},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    std::string out = "kept";
    CMySvgWriter::AppendXmlText(out, row.Text);
    EXPECT_EQ(out, "kept" + row.Expected);
  }
}

std::string Document(CMySvgWriter &writer) {
  std::string document;
  EXPECT_EQ(writer.EncodeImage(document), 0);
  return document;
}

// Rectangles are clipped as the raster fills them, and shapes keep their
// order: a run of one colour is one path.
TEST(SvgWriter, RecordsClippedRectanglesInOrder) {
  CMySvgWriter writer(10, 8, nullptr, 96, 96, 0xCCBBAA, "t");
  ASSERT_TRUE(writer.Create());
  EXPECT_TRUE(writer.Rows.empty());
  writer.FillRect(-5, 2, 8, 20, 0);
  writer.FillRect(9, 0, 5, 1, 0);
  writer.FillRect(4, 4, 0, 3, 0xFF);
  writer.FillRect(10, 0, 3, 3, 0xFF);
  writer.FillRect(1, 1, 1, 1, 0xFF);
  writer.FillRect(2, 2, 1, 1, 0xFF000000);
  EXPECT_EQ(Document(writer),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
            "width=\"10\" height=\"8\" viewBox=\"0 0 10 8\">\n"
            "<title>t</title>\n"
            "<rect width=\"10\" height=\"8\" fill=\"#aabbcc\"/>\n"
            "<path fill=\"#000000\" d=\"M0 2h3v6h-3zM9 0h1v1h-1z\"/>\n"
            "<path fill=\"#ff0000\" d=\"M1 1h1v1h-1z\"/>\n"
            "<path fill=\"#000000\" d=\"M2 2h1v1h-1z\"/>\n"
            "</svg>\n");
}

// The file holds the document, every byte of it and nothing more; a
// stream that takes none is a failure.
TEST(SvgWriter, WritesTheDocumentToTheStream) {
  CMySvgWriter writer(10, 8, nullptr, 96, 96, 0xCCBBAA, "t");
  ASSERT_TRUE(writer.Create());
  std::FILE *file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(writer.WriteImage(file), 0);
  std::rewind(file);
  std::string written;
  for (int c; (c = std::fgetc(file)) != EOF;)
    written.push_back(static_cast<char>(c));
  std::fclose(file);
  EXPECT_EQ(written, Document(writer));
  EXPECT_NE(writer.WriteImage(nullptr), 0);
  std::FILE *full = std::fopen("/dev/full", "w"); // every write fails
  ASSERT_NE(full, nullptr);
  EXPECT_NE(writer.WriteImage(full), 0);
  std::fclose(full);
}

// The sizes the raster refuses are refused too, though nothing is
// allocated.
TEST(SvgWriter, RefusesWhatTheRasterRefuses) {
  struct Row {
    int Width, Height;
    bool Allowed;
  } rows[] = {{1, 1, true},       {0, 5, false},       {5, -1, false},
              {1000000, 1, true}, {1000001, 1, false}, {4729, 4729, true},
              {4730, 4730, false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.Width) + "x" + std::to_string(row.Height));
    CMySvgWriter writer(row.Width, row.Height, nullptr, 96, 96, 0xFFFFFF, "");
    EXPECT_EQ(writer.Create(), row.Allowed);
    EXPECT_EQ(CImageWriter::IsSizeAllowed(row.Width, row.Height), row.Allowed);
    EXPECT_TRUE(writer.Rows.empty());
  }
}

} // namespace
