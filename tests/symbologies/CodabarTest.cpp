#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/BarcodeFactory.h"
#include "support/DiscreteReader.h"

using namespace strixel;

namespace {

// Codabar as published: seven elements (bar first) of each character, n
// narrow and w wide.
const PublishedChar CodabarTable[] = {
    {'0', "nnnnnww"}, {'1', "nnnnwwn"}, {'2', "nnnwnnw"}, {'3', "wwnnnnn"},
    {'4', "nnwnnwn"}, {'5', "wnnnnwn"}, {'6', "nwnnnnw"}, {'7', "nwnnwnn"},
    {'8', "nwwnnnn"}, {'9', "wnnwnnn"}, {'-', "nnnwwnn"}, {'$', "nnwwnnn"},
    {':', "wnnnwnw"}, {'/', "wnwnnnw"}, {'.', "wnwnwnn"}, {'+', "nnwnwnw"},
    {'A', "nnwwnwn"}, {'B', "nwnwnnw"}, {'C', "nnnwnww"}, {'D', "nnnwwwn"},
};

// Reads the characters back from the pattern: seven alternating elements a
// character, a narrow space between characters. "!" marks a malformed one.
std::string ReadCodabar(const std::vector<std::uint8_t> &elements) {
  return ReadDiscrete(elements, 7, CodabarTable);
}

std::unique_ptr<CBarcodeSym> MakeCodabar(const std::string &text,
                                         bool showStSt) {
  CBarcodeProps props;
  props.BarType = 5;
  props.BarText = text;
  props.ShowStSt = showStSt;
  return CreateBarcodeSym(props);
}

TEST(Codabar, PatternsReadBackWithUpperCaseStartStop) {
  struct Row {
    const char *Text;
    const char *Read;
    const char *Shown;
    const char *ShownWithStSt;
  };
  const Row rows[] = {
      {"A12345B", "A12345B", "12345", "A12345B"},
      {"a1b", "A1B", "1", "a1b"},
      {"A-$:/.+B", "A-$:/.+B", "-$:/.+", "A-$:/.+B"},
      {"c0123456789D", "C0123456789D", "0123456789", "c0123456789D"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Text);
    std::unique_ptr<CBarcodeSym> symbol = MakeCodabar(row.Text, false);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(ReadCodabar(symbol->Elements), row.Read);
    EXPECT_EQ(symbol->Elements.size(), 8 * std::string(row.Text).size() - 1);
    EXPECT_EQ(symbol->Settings.DisplayText, row.Shown);
    EXPECT_EQ(std::string(symbol->Settings.CodeChars.begin(),
                          symbol->Settings.CodeChars.end()),
              row.Read);
    symbol->SetShowStSt(true);
    EXPECT_EQ(symbol->Settings.DisplayText, row.ShownWithStSt);
  }
}

TEST(Codabar, InvalidTexts) {
  const std::string texts[] = {
      "",      // empty
      "A1",    // too short for start, datum and stop
      "AB",    // no datum
      "A12",   // last byte not a start/stop letter
      "E12A",  // first byte not a start/stop letter
      "A1C2B", // start/stop letter inside
      "AC12B", // start/stop letter right after the start
      "A12CB", // start/stop letter right before the stop
      "A1c2B", // lower-case start/stop letter inside
      "A1*2B", // not a Codabar character
      "A1 2B", // blank inside
      {"\0"
       "1B",
       3}, // a NUL byte is no start letter
  };
  for (const std::string &text : texts) {
    SCOPED_TRACE(text);
    std::unique_ptr<CBarcodeSym> symbol = MakeCodabar(text, true);
    EXPECT_FALSE(symbol->TextValid);
    EXPECT_FALSE(symbol->Encode());
    EXPECT_TRUE(symbol->Elements.empty());
  }
}

TEST(Codabar, ShortInvalidTextsSurviveDisplaySetters) {
  // The display setters rebuild the text without a validity test; a text
  // without both start and stop must not be read past its ends, and one
  // with both shows them.
  const std::pair<const char *, const char *> rows[] = {
      {"", ""}, {"A", ""}, {"AB", "AB"}};
  for (const auto &[text, shownWithStSt] : rows) {
    SCOPED_TRACE(text);
    std::unique_ptr<CBarcodeSym> symbol = MakeCodabar(text, false);
    symbol->SetShowStSt(true);
    EXPECT_EQ(symbol->Settings.DisplayText, shownWithStSt);
    symbol->SetShowStSt(false);
    EXPECT_FALSE(symbol->TextValid);
  }
}

TEST(Codabar, CheckSettingsChangeNothing) {
  std::unique_ptr<CBarcodeSym> symbol = MakeCodabar("A12345B", false);
  const std::vector<std::uint8_t> elements = symbol->Elements;
  symbol->SetCalcCheck(false);
  symbol->SetShowCheck(false);
  EXPECT_EQ(symbol->Elements, elements);
  EXPECT_EQ(symbol->Settings.DisplayText, "12345");
}

} // namespace
