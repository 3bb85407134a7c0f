#include <gtest/gtest.h>

#include "engine/BarcodeFactory.h"
#include "engine/BarcodeSym.h"

using namespace strixel;

namespace {

// Counts how often each step of the pipeline runs.
class CCountingSym : public CBarcodeSym {
public:
  using CBarcodeSym::CBarcodeSym;
  bool Encode() override {
    ++Encodes;
    if (!PrepareEncode())
      return false;
    Elements.push_back(Bar1);
    return true;
  }
  bool IsTextValid() override { return IsAllDigits(Settings.BarText); }
  void BuildDisplayText() override {
    ++DisplayBuilds;
    CBarcodeSym::BuildDisplayText();
  }
  int Encodes = 0;
  int DisplayBuilds = 0;
};

} // namespace

TEST(Pipeline, SettersRerunOnlyOnChange) {
  CBarcodeProps props;
  CCountingSym sym(props);
  EXPECT_EQ(sym.Encodes, 0) << "the constructor does not encode";
  ASSERT_TRUE(sym.Encode());
  EXPECT_EQ(sym.Settings.DisplayText, "012345");
  EXPECT_EQ(sym.Settings.CodeChars.size(), 6u);

  struct Row {
    const char *Name;
    void (*Change)(CCountingSym &);
    int Encodes, DisplayBuilds; // added by the change
  } rows[] = {
      {"same text", [](CCountingSym &s) { s.SetBarText("012345"); }, 0, 0},
      {"null text", [](CCountingSym &s) { s.SetBarText(nullptr); }, 0, 0},
      {"new text", [](CCountingSym &s) { s.SetBarText("99"); }, 1, 1},
      {"same ShowCheck", [](CCountingSym &s) { s.SetShowCheck(true); }, 0, 0},
      {"ShowCheck", [](CCountingSym &s) { s.SetShowCheck(false); }, 0, 1},
      {"ShowStSt", [](CCountingSym &s) { s.SetShowStSt(true); }, 0, 1},
      {"names", [](CCountingSym &s) { s.SetNonPrintingToTxt(false); }, 0, 1},
      {"same CalcCheck", [](CCountingSym &s) { s.SetCalcCheck(true); }, 0, 0},
      {"CalcCheck", [](CCountingSym &s) { s.SetCalcCheck(false); }, 1, 1},
      {"char set", [](CCountingSym &s) { s.SetCode128CharSet(2); }, 1, 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    const int encodes = sym.Encodes, builds = sym.DisplayBuilds;
    row.Change(sym);
    EXPECT_EQ(sym.Encodes - encodes, row.Encodes);
    EXPECT_EQ(sym.DisplayBuilds - builds, row.DisplayBuilds);
  }
}

TEST(Pipeline, AnInvalidTextKeepsThePreviousPattern) {
  CBarcodeProps props;
  CCountingSym sym(props);
  ASSERT_TRUE(sym.Encode());
  sym.SetBarText("");
  EXPECT_FALSE(sym.TextValid);
  EXPECT_EQ(sym.Elements.size(), 1u);
  EXPECT_EQ(sym.Settings.DisplayText, "012345");
}

TEST(Pipeline, IsAllDigits) {
  struct Row {
    std::string_view Text;
    bool Digits;
  } rows[] = {{"", false},    {"0", true},    {"0123456789", true},
              {"12a", false}, {" 1", false},  {"1/", false},
              {"1:", false},  {"\xb0", false}};
  for (const Row &row : rows)
    EXPECT_EQ(CBarcodeSym::IsAllDigits(row.Text), row.Digits) << row.Text;
}

TEST(Pipeline, ControlCharactersGetTheirNames) {
  struct Row {
    std::string In;
    bool Names;
    std::string Out;
  } rows[] = {
      {"A\tB", true, "A<TAB>B"},
      {"A\tB", false, "AB"},
      {std::string("\0\n\x1f", 3), true, "<NULL><LF><US>"},
      {"\x7f\x80\xff", true, "\x7f\x80\xff"},
      {"\r", true, "<CR>"},
      {"", true, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.In));
    std::vector<std::uint8_t> bytes(row.In.begin(), row.In.end());
    std::string out = "stale";
    CBarcodeSym::CharsToDisplayText(bytes, out, row.Names);
    EXPECT_EQ(out, row.Out);
  }
}

TEST(Pipeline, PropsCopiesAreDeep) {
  CBarcodeProps a;
  a.CodeChars = {1, 2, 3};
  a.BarText = "abc";
  CBarcodeProps b;
  b.CopyFrom(a);
  a.CodeChars.push_back(4);
  a.BarText += "d";
  EXPECT_EQ(b.CodeChars.size(), 3u);
  EXPECT_EQ(b.BarText, "abc");
}

TEST(Pipeline, TheFactoryEncodesEveryNewSymbol) {
  CBarcodeProps props;
  props.BarType = 7;
  props.BarText = "ABC";
  std::unique_ptr<CBarcodeSym> sym = CreateBarcodeSym(props);
  ASSERT_NE(sym, nullptr);
  EXPECT_TRUE(sym->TextValid);
  EXPECT_FALSE(sym->Elements.empty());
  props.BarType = 22;
  EXPECT_EQ(CreateBarcodeSym(props), nullptr);
  props.BarType = -1;
  EXPECT_EQ(CreateBarcodeSym(props), nullptr);
}
