#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Code128Reader.h"
#include "symbologies/Code128.h"

using namespace strixel;

namespace {

using code128_test::Checksum;
using code128_test::ReadValues;

std::unique_ptr<CBarcodeSymCode128> Encoded(const std::string &text, int set,
                                            bool showCheck = true) {
  CBarcodeProps props;
  props.BarType = 7;
  props.BarText = text;
  props.Code128CharSet = set;
  props.ShowCheck = showCheck;
  auto sym = std::make_unique<CBarcodeSymCode128>(props);
  sym->Encode();
  return sym;
}

constexpr int StartA = 103, StartB = 104, StartC = 105, CodeA = 101,
              CodeB = 100, CodeC = 99, Fnc1 = 102;

} // namespace

TEST(Code128, EncodesTheValueSequenceOfEachSet) {
  struct Row {
    std::string Text;
    int Set;
    std::vector<int> Data; // start and data values, check excluded
  } rows[] = {
      {"1234", 0, {StartC, 12, 34}},
      {"ABC", 0, {StartB, 33, 34, 35}},
      {"123", 0, {StartC, 12, CodeB, 19}},
      {"12345", 0, {StartC, 12, 34, CodeB, 21}},
      {"12AB", 0, {StartC, 12, CodeB, 33, 34}},
      {"A1234B", 0, {StartB, 33, CodeC, 12, 34, CodeB, 34}},
      {"1234567", 0, {StartC, 12, 34, 56, CodeB, 23}},
      {"A12B", 0, {StartB, 33, 17, 18, 34}},
      {"\x86"
       "12",
       0,
       {StartC, Fnc1, 12}},
      // CODE B and CODE A bytes stay in a set C run as their values.
      {"12\x84"
       "34",
       0,
       {StartC, 12, CodeB, 34}},
      {"\x85"
       "12",
       0,
       {StartC, CodeA, 12}},
      {"a", 1, {StartA, 65}},
      {"AB", 1, {StartA, 33, 34}},
      {"ab12", 2, {StartB, 65, 66, 17, 18}},
      {"123", 3, {StartC, 1, 23}},
      {"0042", 3, {StartC, 0, 42}},
      {"~\x7f", 2, {StartB, 94, 95}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Text + " set " + std::to_string(row.Set));
    auto sym = Encoded(row.Text, row.Set);
    ASSERT_TRUE(sym->TextValid);
    std::vector<int> expected = row.Data;
    expected.push_back(Checksum(row.Data));
    EXPECT_EQ(ReadValues(sym->Elements), expected);
    EXPECT_EQ(sym->CheckValue, expected.back());
    EXPECT_EQ(sym->Elements.size(), 6 * expected.size() + 7);
  }
}

TEST(Code128, DisplayTextCarriesTheCheckCharacter) {
  struct Row {
    std::string Text;
    int Set;
    bool ShowCheck;
    std::string Display;
  } rows[] = {
      {"1234", 0, true, "1234r"}, // check 82
      {"ABC", 0, true, "ABC!"},   // check 1
      {"ABC", 0, false, "ABC"},
      {"123", 3, false, "0123"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Text);
    EXPECT_EQ(Encoded(row.Text, row.Set, row.ShowCheck)->Settings.DisplayText,
              row.Display);
  }
}

TEST(Code128, ShowCheckChangesOnlyTheText) {
  auto sym = Encoded("ABC", 0, true);
  const auto elements = sym->Elements;
  sym->SetShowCheck(false);
  EXPECT_EQ(sym->Settings.DisplayText, "ABC");
  EXPECT_EQ(sym->Elements, elements);
}

TEST(Code128, RejectsBytesWithoutAValue) {
  struct Row {
    std::string Text;
    int Set;
  } rows[] = {{"", 0},   {"A\x1f", 0}, {"A\x87", 0}, {"\xff", 2},
              {"\n", 1}, {"12a", 3},   {"", 3}};
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.Text) + " set " +
                 std::to_string(row.Set));
    auto sym = Encoded(row.Text, row.Set);
    EXPECT_FALSE(sym->TextValid);
    EXPECT_TRUE(sym->Elements.empty());
    EXPECT_EQ(sym->CheckValue, 0);
  }
}

TEST(Code128, ChangingTheSetReencodes) {
  auto sym = Encoded("1234", 0);
  sym->SetCode128CharSet(2);
  EXPECT_EQ(ReadValues(sym->Elements),
            (std::vector<int>{StartB, 17, 18, 19, 20,
                              Checksum({StartB, 17, 18, 19, 20})}));
  sym->SetCode128CharSet(9); // no such set: nothing encoded
  EXPECT_FALSE(sym->Encode());
}

TEST(Code128, ChecksumOfALongTextStaysInRange) {
  auto sym = Encoded(std::string(3600, 'z'), 0);
  ASSERT_TRUE(sym->TextValid);
  EXPECT_LT(sym->CheckValue, 103);
  std::vector<int> values = ReadValues(sym->Elements);
  ASSERT_EQ(values.size(), 3602u);
  values.pop_back();
  EXPECT_EQ(sym->CheckValue, Checksum(values));
}
