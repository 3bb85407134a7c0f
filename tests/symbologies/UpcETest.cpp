#include "symbologies/UpcE.h"

#include <gtest/gtest.h>

#include <string>

#include "symbologies/RetailModules.h"

using namespace strixel;

using namespace retail_test;

namespace {

// UPC-E parity table of the standard for number system 0, by check digit.
const char *const SystemZeroParities[10] = {
    "EEEOOO", "EEOEOO", "EEOOEO", "EEOOOE", "EOEEOO",
    "EOOEEO", "EOOOEE", "EOEOEO", "EOEOOE", "EOOEOE"};

struct Decoded {
  bool guardsOk = false;
  std::string digits;
  std::string parities;
  int numberSystem = -1;
  int check = -1;
};

// Reads the six digits and recovers the number system and check digit from
// the parities, as a scanner does.
Decoded Decode(const std::vector<std::uint8_t> &elements) {
  Decoded out;
  const std::string m = ModuleString(elements);
  if (m.size() != 52)
    return out;
  out.guardsOk = m.substr(0, 3) == "101" && m.substr(45) == "0101010";
  ReadLeftDigits(m, 3, 6, out.digits, out.parities);
  for (int check = 0; check < 10; ++check) {
    const std::string zero = SystemZeroParities[check];
    std::string one = zero;
    for (char &c : one)
      c = c == 'O' ? 'E' : 'O';
    if (out.parities == zero) {
      out.numberSystem = 0;
      out.check = check;
    } else if (out.parities == one) {
      out.numberSystem = 1;
      out.check = check;
    }
  }
  return out;
}

// Zero-suppression undone, by the last digit of the six.
std::string ExpandToUpcA(int numberSystem, const std::string &d) {
  const std::string ns(1, static_cast<char>('0' + numberSystem));
  switch (d[5]) {
  case '0':
  case '1':
  case '2':
    return ns + d.substr(0, 2) + d[5] + "0000" + d.substr(2, 3);
  case '3':
    return ns + d.substr(0, 3) + "00000" + d.substr(3, 2);
  case '4':
    return ns + d.substr(0, 4) + "00000" + d[4];
  default:
    return ns + d.substr(0, 5) + "0000" + d[5];
  }
}

CBarcodeSymUPCE MakeUpcE(const std::string &text, bool showCheck = true) {
  CBarcodeProps props;
  props.BarText = text;
  props.ShowCheck = showCheck;
  return CBarcodeSymUPCE(props);
}

TEST(UpcE, CompressesByEachRule) {
  struct Row {
    const char *name;
    const char *text;
    const char *six;
    int check;
    const char *display;
    const char *parities;
  } const rows[] = {
      {"rule 4", "01234500006", "123456", 5, "01234565", "EOOEEO"},
      {"rule 1, t3 = 1, item 526", "04210000526", "425261", 4, "04252614",
       "EOEEOO"},
      {"rule 1, t3 = 2", "04520000123", "451232", 5, "04512325", "EOOEEO"},
      {"rule 1, t3 = 0", "01200000789", "127890", 7, "01278907", "EOEOEO"},
      {"rule 1, t3 = 1", "01210000789", "127891", 6, "01278916", "EOOOEE"},
      {"rule 2", "01230000045", "123453", 1, "01234531", "EEOEOO"},
      {"rule 3", "01234000005", "123454", 3, "01234543", "EEOOOE"},
      {"rule 4, last digit 5", "06543100005", "654315", 0, "06543150",
       "EEEOOO"},
      {"rule 1 before rule 3", "01000000005", "100050", 4, "01000504",
       "EOEEOO"},
      {"twelfth digit ignored", "012345000060", "123456", 5, "01234565",
       "EOOEEO"},
      {"number system 1", "11234500006", "123456", 2, "11234562", "OOEEOE"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    auto symbol = MakeUpcE(row.text);
    ASSERT_TRUE(symbol.Encode());
    EXPECT_EQ(std::string(symbol.Settings.CodeChars.begin(),
                          symbol.Settings.CodeChars.end()),
              row.six);
    EXPECT_EQ(symbol.CheckValue, row.check);
    EXPECT_EQ(symbol.Settings.DisplayText, row.display);
    const Decoded back = Decode(symbol.Elements);
    EXPECT_TRUE(back.guardsOk);
    EXPECT_EQ(back.digits, row.six);
    EXPECT_EQ(back.parities, row.parities);
    EXPECT_EQ(back.check, row.check);
    ASSERT_GE(back.numberSystem, 0);
    EXPECT_EQ(ExpandToUpcA(back.numberSystem, back.digits),
              std::string(row.text).substr(0, 11));
  }
}

TEST(UpcE, PatternIsFiftyTwoModulesWithTrailingSpace) {
  auto symbol = MakeUpcE("01234500006");
  ASSERT_TRUE(symbol.Encode());
  EXPECT_EQ(symbol.Elements.size(), 34u);
  EXPECT_EQ(symbol.Elements.back(), Space1);
  EXPECT_EQ(ModuleString(symbol.Elements).size(), 52u);
  EXPECT_EQ(symbol.GetSymbolWidth(1), 72);
}

TEST(UpcE, DisplayTextWithoutCheck) {
  auto symbol = MakeUpcE("01234500006", false);
  ASSERT_TRUE(symbol.Encode());
  EXPECT_EQ(symbol.Settings.DisplayText, "0123456");
  symbol.SetShowCheck(true);
  EXPECT_EQ(symbol.Settings.DisplayText, "01234565");
}

TEST(UpcE, WrongTwelfthDigitGivesTheSameSymbol) {
  auto right = MakeUpcE("012345000065");
  auto wrong = MakeUpcE("012345000060");
  ASSERT_TRUE(right.Encode());
  ASSERT_TRUE(wrong.Encode());
  EXPECT_EQ(right.Elements, wrong.Elements);
  EXPECT_EQ(right.Settings.DisplayText, wrong.Settings.DisplayText);
}

TEST(UpcE, TextsThatCannotBeCompressedAreInvalid) {
  struct Row {
    const char *name;
    const char *text;
  } const rows[] = {
      {"no rule", "01234567890"},
      {"rule 4 needs last digit 5..9", "01234500004"},
      {"rule 2 needs five zeros", "01230000145"},
      {"number system 2", "21234500006"},
      {"number system 9", "91234500006"},
      {"ten digits", "0123450000"},
      {"thirteen digits", "0123450000650"},
      {"letter", "0123450000A"},
      {"blank", "01234 00006"},
      {"empty", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    auto symbol = MakeUpcE(row.text);
    EXPECT_FALSE(symbol.Encode());
    EXPECT_FALSE(symbol.TextValid);
    EXPECT_TRUE(symbol.Elements.empty());
  }
}

TEST(UpcE, FailedCompressionStillSetsTheCheckValue) {
  auto symbol = MakeUpcE("01234567890");
  EXPECT_FALSE(symbol.IsTextValid());
  EXPECT_EQ(symbol.CheckValue, 5);
  EXPECT_EQ(symbol.NumberSystem, 0);
  EXPECT_TRUE(symbol.Settings.CodeChars.empty());
}

} // namespace
