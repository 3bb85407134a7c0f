#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/BarcodeFactory.h"
#include "support/DiscreteReader.h"

using namespace strixel;

namespace {

// Code 11 as published: five elements (bar first) of each character, n
// narrow and w wide; "*" is the start/stop character.
const PublishedChar Code11Table[] = {
    {'0', "nnnnw"}, {'1', "wnnnw"}, {'2', "nwnnw"}, {'3', "wwnnn"},
    {'4', "nnwnw"}, {'5', "wnwnn"}, {'6', "nwwnn"}, {'7', "nnnww"},
    {'8', "wnnwn"}, {'9', "wnnnn"}, {'-', "nnwnn"}, {'*', "nnwwn"},
};

// Reads the characters back: five alternating elements a character, a
// narrow space between characters. "!" marks a malformed pattern.
std::string ReadCode11(const std::vector<std::uint8_t> &elements) {
  return ReadDiscrete(elements, 5, Code11Table);
}

std::unique_ptr<CBarcodeSym> MakeCode11(const char *text) {
  CBarcodeProps props;
  props.BarType = 4;
  props.BarText = text;
  return CreateBarcodeSym(props);
}

TEST(Code11, PatternsReadBackBetweenStartAndStop) {
  struct Row {
    const char *Text;
    const char *Read;
    const char *ShownWithStSt;
  };
  const Row rows[] = {
      {"123-45", "*123-45*", "S123-45S"},
      {"12S34", "*12*34*", "S12S34S"},
      {"0123456789-", "*0123456789-*", "S0123456789-S"},
      {"7", "*7*", "S7S"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Text);
    std::unique_ptr<CBarcodeSym> symbol = MakeCode11(row.Text);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(ReadCode11(symbol->Elements), row.Read);
    EXPECT_EQ(symbol->Elements.size(),
              6 * (std::string(row.Text).size() + 2) - 1);
    EXPECT_EQ(symbol->Settings.DisplayText, row.Text);
    symbol->SetShowStSt(true);
    EXPECT_EQ(symbol->Settings.DisplayText, row.ShownWithStSt);
  }
}

TEST(Code11, InvalidTexts) {
  for (const char *text : {"", "12A", "1 2", "s12", "12*"}) {
    SCOPED_TRACE(text);
    std::unique_ptr<CBarcodeSym> symbol = MakeCode11(text);
    EXPECT_FALSE(symbol->TextValid);
    EXPECT_FALSE(symbol->Encode());
  }
}

TEST(Code11, CheckSettingsChangeNothing) {
  std::unique_ptr<CBarcodeSym> symbol = MakeCode11("123-45");
  const std::vector<std::uint8_t> elements = symbol->Elements;
  symbol->SetCalcCheck(false);
  symbol->SetShowCheck(false);
  EXPECT_EQ(symbol->Elements, elements);
  EXPECT_EQ(ReadCode11(symbol->Elements), "*123-45*");
  EXPECT_EQ(symbol->Settings.DisplayText, "123-45");
}

} // namespace
