#include "symbologies/EanAddOn.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "symbologies/RetailModules.h"

using namespace strixel;

using namespace retail_test;

namespace {

struct AddOnRead {
  bool structureOk = false;
  std::string digits;
  std::string parities;
};

// Start 1011, then digits of seven modules separated by 01.
AddOnRead ReadAddOn(const std::vector<std::uint8_t> &elements, int count) {
  AddOnRead out;
  const std::string m = ModuleString(elements);
  if (m.size() != static_cast<std::size_t>(4 + 7 * count + 2 * (count - 1)))
    return out;
  out.structureOk = m.substr(0, 4) == "1011";
  for (int k = 0; k < count; ++k) {
    const std::size_t at = 4 + 9 * k;
    ReadLeftDigits(m, at, 1, out.digits, out.parities);
    if (k + 1 < count && m.substr(at + 7, 2) != "01")
      out.structureOk = false;
  }
  return out;
}

template <class Symbol> std::unique_ptr<Symbol> Make(const std::string &text) {
  CBarcodeProps props;
  props.BarText = text;
  auto symbol = std::make_unique<Symbol>(props);
  symbol->Encode();
  return symbol;
}

TEST(EanAddOn, TwoDigitParitiesFollowTheValueModuloFour) {
  struct Row {
    const char *text;
    const char *parities;
  } const rows[] = {{"00", "OO"}, {"04", "OO"}, {"01", "OE"}, {"02", "EO"},
                    {"03", "EE"}, {"99", "EE"}, {"34", "EO"}, {"57", "OE"}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    const auto symbol = Make<CBarcodeSymEAN2>(row.text);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(symbol->Elements.size(), 13u);
    const AddOnRead back = ReadAddOn(symbol->Elements, 2);
    EXPECT_TRUE(back.structureOk);
    EXPECT_EQ(back.digits, row.text);
    EXPECT_EQ(back.parities, row.parities);
    EXPECT_EQ(symbol->Settings.DisplayText, row.text);
    EXPECT_EQ(symbol->GetSymbolWidth(1), 40);
  }
}

TEST(EanAddOn, FiveDigitParitiesFollowTheChecksum) {
  struct Row {
    const char *text;
    const char *parities; // the standard's EAN-5 table row of the checksum
  } const rows[] = {
      {"00000", "EEOOO"}, // checksum 0
      {"52495", "EOEOO"}, // 1
      {"12345", "EOEOO"}, // 1
      {"00004", "EOOEO"}, // 2
      {"86104", "EOOOE"}, // 3
      {"00001", "EOOOE"}, // 3
      {"00008", "OEEOO"}, // 4
      {"00005", "OOEEO"}, // 5
      {"00002", "OOOEE"}, // 6
      {"00009", "OEOEO"}, // 7
      {"00006", "OEOOE"}, // 8
      {"00003", "OOEOE"}, // 9
      {"00010", "OOEOE"}, // 9: weight 9 on the fourth digit
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    const auto symbol = Make<CBarcodeSymEAN5>(row.text);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(symbol->Elements.size(), 31u);
    const AddOnRead back = ReadAddOn(symbol->Elements, 5);
    EXPECT_TRUE(back.structureOk);
    EXPECT_EQ(back.digits, row.text);
    EXPECT_EQ(back.parities, row.parities);
    EXPECT_EQ(symbol->Settings.DisplayText, row.text);
    EXPECT_EQ(symbol->GetSymbolWidth(1), 67);
  }
}

TEST(EanAddOn, OtherLengthsAndNonDigitsAreInvalid) {
  for (const char *text :
       {"", "1", "123", "1234", "123456", "1A", "1 ", "1234x", "12 45"}) {
    SCOPED_TRACE(std::string("\"") + text + "\"");
    const auto two = Make<CBarcodeSymEAN2>(text);
    const auto five = Make<CBarcodeSymEAN5>(text);
    EXPECT_FALSE(two->TextValid);
    EXPECT_FALSE(five->TextValid);
    EXPECT_TRUE(two->Elements.empty());
    EXPECT_TRUE(five->Elements.empty());
  }
}

} // namespace
