#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/BarcodeFactory.h"
#include "support/Code128Reader.h"
#include "symbologies/Gs1128.h"

using namespace strixel;

namespace {

using code128_test::ReadValues;
using code128_test::ScannedData;
using code128_test::ScanValues;

constexpr int StartB = 104, StartC = 105, CodeB = 100, CodeC = 99, Fnc1 = 102;

template <class Sym>
std::unique_ptr<Sym> Encoded(const std::string &text, bool showCheck = true) {
  CBarcodeProps props;
  props.BarText = text;
  props.ShowCheck = showCheck;
  auto sym = std::make_unique<Sym>(props);
  sym->Encode();
  return sym;
}

std::string CodeChars(const CBarcodeSym &sym) {
  return std::string(sym.Settings.CodeChars.begin(),
                     sym.Settings.CodeChars.end());
}

// What a scanner should transmit for the given code characters: a leading
// FNC1 marks GS1 data, every later one is a group separator.
ScannedData ExpectedScan(const std::string &codeChars) {
  ScannedData expected;
  expected.Ok = true;
  std::size_t i = 0;
  if (!codeChars.empty() && codeChars[0] == '\x86') {
    expected.Gs1 = true;
    i = 1;
  }
  for (; i < codeChars.size(); ++i)
    expected.Data.push_back(codeChars[i] == '\x86' ? '\x1d' : codeChars[i]);
  return expected;
}

void ExpectScansAs(const CBarcodeSym &sym, const std::string &codeChars) {
  const ScannedData scanned = ScanValues(ReadValues(sym.Elements));
  const ScannedData expected = ExpectedScan(codeChars);
  EXPECT_TRUE(scanned.Ok);
  EXPECT_EQ(scanned.Gs1, expected.Gs1);
  EXPECT_EQ(scanned.Data, expected.Data);
}

std::string Printable(const std::string &text) {
  return testing::PrintToString(text);
}

} // namespace

TEST(UCCEAN128, MarkupBecomesCodeCharsAndDisplayText) {
  struct Row {
    std::string Text, CodeChars, Display;
  } rows[] = {
      {"<AI01>01234567890128<AI10>ABC<AI21>123",
       "\x86"
       "0101234567890128"
       "10ABC\x86"
       "21123",
       "(01)01234567890128(10)ABC(21)123"},
      // Identifiers of predefined length need no separator after them.
      {"<AI02>10614141000415<AI17>991231<AI3103>001234<AI15>201231<AI10>L1",
       "\x86"
       "0210614141000415"
       "17991231"
       "3103001234"
       "15201231"
       "10L1",
       "(02)10614141000415(17)991231(3103)001234(15)201231(10)L1"},
      {"<AI00>123456789012345675<AI412>1234567890128<AI8005>123456<AI98>X",
       "\x86"
       "00123456789012345675"
       "4121234567890128"
       "8005123456"
       "98X",
       "(00)123456789012345675(412)1234567890128(8005)123456(98)X"},
      // Variable-length or unlisted identifiers are ended by FNC1.
      {"<AI12>991231<AI3601>1<AI413>2<AI8002>3<AI8103>4<AI99>",
       "\x86"
       "12991231\x86"
       "36011\x86"
       "4132\x86"
       "80023\x86"
       "81034\x86"
       "99",
       "(12)991231(3601)1(413)2(8002)3(8103)4(99)"},
      // Malformed tags are plain text, as far as their scan went.
      {"<AI1>", "<AI1>", "<AI1>"},
      {"<AI123456>", "<AI123456>", "<AI123456>"},
      {"<AI1234567>", "<AI1234567>", "<AI1234567>"},
      {"<AI12", "<AI12", "<AI12"},
      {"<AI", "<AI", "<AI"},
      {"<AI>", "<AI>", "<AI>"},
      {"<AIx<AI21>5",
       "<AIx\x86"
       "215",
       "<AIx(21)5"},
      {"<AI<AI21>5", "<AI<AI21>5", "<AI<AI21>5"}, // the scan ate the "<"
      // The scan ends at the byte after a sixth digit, here a "<" or the
      // seventh digit.
      {"<AI123456<AI21>5", "<AI123456<AI21>5", "<AI123456<AI21>5"},
      {"<AI1234567<AI21>5",
       "<AI1234567\x86"
       "215",
       "<AI1234567(21)5"},
      {"<AI01>1<AI12",
       "\x86"
       "011<AI12",
       "(01)1<AI12"},
      {"<AI01>1<AI1>2<AI10>3",
       "\x86"
       "011<AI1>2103", // 01 is of predefined length
       "(01)1<AI1>2(10)3"},
      {"<ai01>1", "<ai01>1", "<ai01>1"},
      // An explicit FNC1 neither shows nor changes the previous identifier.
      {"<AI10>AB<FNC1><AI21>1",
       "\x86"
       "10AB\x86\x86"
       "211",
       "(10)AB(21)1"},
      {"<AI01>12345678901231<FNC1><AI17>1",
       "\x86"
       "0112345678901231\x86"
       "171",
       "(01)12345678901231(17)1"},
      {"<FNC1>", "\x86", ""},
      {"AB<FNC1", "AB<FNC1", "AB<FNC1"},
      // Without markup there is no FNC1 at all.
      {"ABC123", "ABC123", "ABC123"},
      {"\x86"
       "01",
       "\x86"
       "01",
       "\x86"
       "01"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(Printable(row.Text));
    auto sym = Encoded<CBarcodeSymUCCEAN128>(row.Text);
    ASSERT_TRUE(sym->TextValid);
    EXPECT_EQ(Printable(CodeChars(*sym)), Printable(row.CodeChars));
    EXPECT_EQ(sym->Settings.DisplayText, row.Display);
    ExpectScansAs(*sym, row.CodeChars);
  }
}

// Both edges of every range of identifiers with a predefined length, and
// their neighbours, which are of variable length.
TEST(UCCEAN128, OnlyAVariableLengthIdentifierIsEndedByFnc1) {
  struct Row {
    const char *Ai;
    bool Separated;
  } const rows[] = {
      {"00", false},   {"02", false},   {"03", true},    {"10", true},
      {"11", false},   {"12", true},    {"13", false},   {"14", true},
      {"15", false},   {"16", true},    {"17", false},   {"19", true},
      {"20", false},   {"21", true},    {"409", true},   {"410", false},
      {"412", false},  {"413", true},   {"3099", true},  {"3100", false},
      {"3600", false}, {"3601", true},  {"8000", true},  {"8001", false},
      {"8002", true},  {"8004", true},  {"8005", false}, {"8006", true},
      {"8099", true},  {"8100", false}, {"8102", false}, {"8103", true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Ai);
    const std::string ai = row.Ai;
    auto sym = Encoded<CBarcodeSymUCCEAN128>("<AI" + ai + ">1<AI99>2");
    EXPECT_EQ(
        Printable(CodeChars(*sym)),
        Printable("\x86" + ai + "1" + (row.Separated ? "\x86" : "") + "992"));
  }
}

TEST(UCCEAN128, ATaggedTextStartsStartCFnc1) {
  struct Row {
    std::string Text;
    std::vector<int> Data; // start and data values, check excluded
  } rows[] = {
      {"<AI01>01234567890128<AI10>ABC<AI21>123",
       {StartC, Fnc1, 1,  1,  23,   45,    67, 89, 1,     28, 10,
        CodeB,  33,   34, 35, Fnc1, CodeC, 21, 12, CodeB, 19}},
      {"<AI10>A", {StartC, Fnc1, 10, CodeB, 33}},
      {"AB12", {StartB, 33, 34, 17, 18}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Text);
    auto sym = Encoded<CBarcodeSymUCCEAN128>(row.Text);
    std::vector<int> expected = row.Data;
    expected.push_back(code128_test::Checksum(row.Data));
    EXPECT_EQ(ReadValues(sym->Elements), expected);
    EXPECT_EQ(sym->CheckValue, expected.back());
  }
}

TEST(UCCEAN128, UnmarkedTextMatchesCode128Auto) {
  for (const char *text : {"ABC123", "A1234B", "hello 42"}) {
    SCOPED_TRACE(text);
    auto gs1 = Encoded<CBarcodeSymUCCEAN128>(text);
    auto plain = Encoded<CBarcodeSymCode128>(text);
    EXPECT_EQ(gs1->Elements, plain->Elements);
    // The human-readable text carries no check character.
    EXPECT_EQ(gs1->Settings.DisplayText, text);
  }
}

TEST(UCCEAN128, RejectsBytesWithoutACode128Value) {
  for (const std::string &text :
       {std::string(), std::string("<AI01>\x1f"), std::string("A\nB"),
        std::string("\x87"), std::string("<AI10>\xff"),
        std::string("A\0B", 3)}) {
    SCOPED_TRACE(Printable(text));
    auto sym = Encoded<CBarcodeSymUCCEAN128>(text);
    EXPECT_FALSE(sym->TextValid);
    EXPECT_TRUE(sym->Elements.empty());
  }
}

TEST(UCCEAN128, InvalidTextKeepsThePreviousSymbol) {
  auto sym = Encoded<CBarcodeSymUCCEAN128>("<AI10>AB");
  const auto elements = sym->Elements;
  const auto chars = sym->Settings.CodeChars;
  sym->SetBarText("<AI10>A\x01");
  EXPECT_FALSE(sym->TextValid);
  EXPECT_EQ(sym->Elements, elements);
  EXPECT_EQ(sym->Settings.CodeChars, chars);
  EXPECT_EQ(sym->Settings.DisplayText, "(10)AB");
}

TEST(SSCC18, EncodesIdentifier00AndTheComputedCheckDigit) {
  struct Row {
    std::string Name, Text;
    bool ShowCheck;
    std::string Digits, Display; // digits after FNC1
  } rows[] = {
      {"17 digits", "0012345678901234567", true, "00123456789012345675",
       "(00)123456789012345675"},
      {"no check shown", "0012345678901234567", false, "00123456789012345675",
       "(00)12345678901234567"},
      {"wrong check replaced", "00123456789012345670", true,
       "00123456789012345675", "(00)123456789012345675"},
      {"right check kept", "00106141411234567897", true, "00106141411234567897",
       "(00)106141411234567897"},
      {"identifier digits ignored", "9910614141123456789", true,
       "00106141411234567897", "(00)106141411234567897"},
      {"check 0", "0000000000000000000", true, "00000000000000000000",
       "(00)000000000000000000"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    auto sym = Encoded<CBarcodeSymSSCC18>(row.Text, row.ShowCheck);
    ASSERT_TRUE(sym->TextValid);
    EXPECT_EQ(CodeChars(*sym), "\x86" + row.Digits);
    EXPECT_EQ(sym->Settings.DisplayText, row.Display);
    // Start C, FNC1 and ten digit pairs.
    const std::vector<int> values = ReadValues(sym->Elements);
    ASSERT_EQ(values.size(), 13u);
    EXPECT_EQ(values[0], StartC);
    EXPECT_EQ(values[1], Fnc1);
    ExpectScansAs(*sym, "\x86" + row.Digits);
  }
}

TEST(SSCC18, ShowCheckChangesOnlyTheText) {
  auto sym = Encoded<CBarcodeSymSSCC18>("0012345678901234567");
  const auto elements = sym->Elements;
  sym->SetShowCheck(false);
  EXPECT_EQ(sym->Settings.DisplayText, "(00)12345678901234567");
  EXPECT_EQ(sym->Elements, elements);
}

TEST(SSCC18, RejectsOtherLengthsAndNonDigits) {
  for (const char *text : {"", "001234567890123456", "001234567890123456789",
                           "001234567890123456A", "<AI00>12345678901234567"}) {
    SCOPED_TRACE(text);
    auto sym = Encoded<CBarcodeSymSSCC18>(text);
    EXPECT_FALSE(sym->TextValid);
    EXPECT_TRUE(sym->Elements.empty());
    EXPECT_TRUE(sym->Settings.CodeChars.empty());
    EXPECT_TRUE(sym->Settings.DisplayText.empty());
  }
}

TEST(EAN14, EncodesThirteenDigitsAndTheCheckDigitInSetC) {
  struct Row {
    std::string Name, Text;
    bool ShowCheck;
    std::string Digits, Display;
  } rows[] = {
      {"13 digits", "1234567890123", true, "12345678901231", "12345678901231"},
      {"no check shown", "1234567890123", false, "12345678901231",
       "1234567890123"},
      {"wrong check replaced", "12345678901239", true, "12345678901231",
       "12345678901231"},
      {"right check kept", "10614141000415", true, "10614141000415",
       "10614141000415"},
      {"check 0", "0000000000000", true, "00000000000000", "00000000000000"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    auto sym = Encoded<CBarcodeSymEAN14>(row.Text, row.ShowCheck);
    ASSERT_TRUE(sym->TextValid);
    EXPECT_EQ(CodeChars(*sym), row.Digits);
    EXPECT_EQ(sym->Settings.DisplayText, row.Display);
    std::vector<int> data = {StartC, Fnc1};
    for (std::size_t i = 0; i < 14; i += 2)
      data.push_back((row.Digits[i] - '0') * 10 + (row.Digits[i + 1] - '0'));
    std::vector<int> expected = data;
    expected.push_back(code128_test::Checksum(data));
    EXPECT_EQ(ReadValues(sym->Elements), expected);
    EXPECT_EQ(sym->CheckValue, expected.back());
    ExpectScansAs(*sym, "\x86" + row.Digits);
  }
}

TEST(EAN14, RejectsOtherLengthsAndNonDigits) {
  for (const char *text : {"", "123456789012", "123456789012345",
                           "123456789012A", " 1234567890123"}) {
    SCOPED_TRACE(text);
    auto sym = Encoded<CBarcodeSymEAN14>(text);
    EXPECT_FALSE(sym->TextValid);
    EXPECT_TRUE(sym->Elements.empty());
    EXPECT_TRUE(sym->Settings.DisplayText.empty());
  }
}

TEST(Gs1Factory, CreatesTheGs1TypesEncoded) {
  struct Row {
    int Type;
    std::string Text, Display;
  } rows[] = {
      {12, "1234567890123", "12345678901231"},
      {15, "<AI10>X", "(10)X"},
      {16, "0012345678901234567", "(00)123456789012345675"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Type);
    CBarcodeProps props;
    props.BarType = row.Type;
    props.BarText = row.Text;
    std::unique_ptr<CBarcodeSym> sym = CreateBarcodeSym(props);
    ASSERT_NE(sym, nullptr);
    EXPECT_TRUE(sym->TextValid);
    EXPECT_EQ(sym->Settings.DisplayText, row.Display);
  }
}
