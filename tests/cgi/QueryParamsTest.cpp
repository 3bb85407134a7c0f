#include "cgi/QueryParams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using namespace strixel;

namespace {

// One lookup: the request text, the name looked up, and the decoded value
// (Absent when the name must not be found).
struct FindRow {
  const char *Text;
  const char *Name;
  const char *Expected;
};

const char *const Absent = nullptr;

const FindRow FindRows[] = {
    {"data=AB%43&btype=2", "data", "ABC"},
    {"data=AB%43&btype=2", "btype", "2"},
    {"data=A+B%2BC", "data", "A B+C"},
    {"data=x%26y&y=1", "data", "x&y"},
    {"data=x%26y&y=1", "y", "1"},
    {"data=a=b&c=d", "data", "a=b"},
    {"da%74a=1", "data", Absent},
    {"DATA=1", "data", Absent},
    {"w2n=3&w=50", "w", "50"},
    {"xw=1&w=2", "w", "2"},
    {"data=1&data=2", "data", "1"},
    {"data=&btype=2", "data", ""},
    {"btype=2&data=", "data", Absent},
    {"data=", "data", Absent},
    {"w=5", "w", "5"},
    {"&data=1", "data", Absent},
    {"x=1&&data=1", "data", "1"},
    {"help", "help", Absent},
    {"help=1", "help", "1"},
    {"x=1&help", "help", Absent},
    {"", "data", Absent},
    {"%41=1", "A", Absent},
    {"data=%41%4a%4A", "data", "AJJ"},
    {"data=%zz", "data", "\x33"},
    {"data=%G1", "data", "\x01"},
    {"data=a%g0b", "data", "a"},
    {"data=%%41", "data",
     "\x04"
     "1"},
    {"data=%FF", "data", "\xFF"},
    // An escape cut short by the end of its value is copied as it stands.
    {"data=%", "data", "%"},
    {"data=%4", "data", "%4"},
    {"data=ab%4&x=1", "data", "ab%4"},
    {"data=%&x=1", "data", "%"},
    {"data=%+", "data", "%+"},
};

TEST(QueryParamsTest, FindDecodesTheFirstMatchingValue) {
  for (const FindRow &row : FindRows) {
    SCOPED_TRACE(std::string("text \"") + row.Text + "\", name " + row.Name);
    CQueryParams params(row.Text);
    const char *value = params.Find(row.Name);
    if (row.Expected == Absent) {
      EXPECT_EQ(value, nullptr) << "found \"" << value << "\"";
    } else {
      ASSERT_NE(value, nullptr);
      EXPECT_STREQ(value, row.Expected);
    }
  }
}

TEST(QueryParamsTest, TextIsNotChanged) {
  const char text[] = "data=A+B%43&w=1";
  CQueryParams params(text);
  params.Find("data");
  params.Find("w");
  EXPECT_STREQ(text, "data=A+B%43&w=1");
}

// Decodes a value held in a buffer of exactly its own size, so that a read
// past its end is caught by the address sanitizer.
std::string DecodeExactBuffer(const std::string &value) {
  std::unique_ptr<char[]> buffer(new char[value.size() + 1]);
  std::memcpy(buffer.get(), value.c_str(), value.size() + 1);
  CQueryParams::UrlDecode(buffer.get());
  return buffer.get();
}

TEST(QueryParamsTest, UrlDecodeStaysInsideTheValue) {
  const struct {
    const char *Value;
    const char *Decoded;
  } rows[] = {
      {"", ""},       {"%", "%"},     {"%4", "%4"}, {"a%4", "a%4"},
      {"%41", "A"},   {"%41%", "A%"}, {"++", "  "}, {"a%2", "a%2"},
      {"%25%", "%%"}, {"x%7e", "x~"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("value \"") + row.Value + "\"");
    EXPECT_EQ(DecodeExactBuffer(row.Value), row.Decoded);
  }
}

TEST(QueryParamsTest, HexDigitValue) {
  const struct {
    char Digit;
    int Value;
  } rows[] = {
      {'0', 0},  {'9', 9},  {'a', 10},
      {'A', 10}, {'f', 15}, {'F', 15},
      {'g', 16}, {'G', 16}, {'z', 35},
      {'Z', 35}, {'%', 0},  {' ', 0},
      {'@', 0},  {'[', 0},  {'`', 0},
      {'{', 0},  {'\0', 0}, {static_cast<char>(0xC1), 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("digit code ") +
                 std::to_string(static_cast<unsigned char>(row.Digit)));
    EXPECT_EQ(CQueryParams::HexDigitValue(row.Digit), row.Value);
  }
}

} // namespace
