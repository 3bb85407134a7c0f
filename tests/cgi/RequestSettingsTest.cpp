#include "cgi/RequestSettings.h"

#include "cgi/QueryParams.h"
#include "cgi/RequestIntake.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace strixel;

namespace {

TEST(ConversionTest, ParseIntValueReadsLikeAtoiAndSaturates) {
  const struct {
    const char *Text;
    int Value;
  } rows[] = {
      {"", 0},
      {"0", 0},
      {"42", 42},
      {"-42", -42},
      {"+42", 42},
      {" \t\n\v\f\r42", 42},
      {"42abc", 42},
      {"90.5", 90},
      {"abc", 0},
      {"- 4", 0},
      {"--1", 0},
      {"+-1", 0},
      {"0x10", 0},
      {"00000000000000000000000123", 123},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999", INT_MAX},
      {"99999999999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"-99999999999999999999999999999", INT_MIN},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("text \"") + row.Text + "\"");
    EXPECT_EQ(ParseIntValue(row.Text), row.Value);
  }
}

TEST(ConversionTest, ParseRealValueReadsLikeAtof) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char *Text;
    double Value;
  } rows[] = {
      {"2.5", 2.5},   {" 3", 3},        {"3abc", 3},   {"", 0},
      {"abc", 0},     {"-1", -1},       {"1e3", 1000}, {"inf", inf},
      {"1e400", inf}, {"-1e400", -inf},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("text \"") + row.Text + "\"");
    EXPECT_EQ(ParseRealValue(row.Text), row.Value);
  }
  EXPECT_TRUE(std::isnan(ParseRealValue("nan")));
}

TEST(ConversionTest, HexToInt) {
  const struct {
    const char *Text;
    std::uint32_t Value;
  } rows[] = {
      {"ff0000", 0xFF0000},
      {"FF", 0xFF},
      {"zz", 0},
      {"", 0},
      {"aBcDeF", 0xABCDEF},
      {"12g4", 0x12},
      {" ff", 0},
      {"1ff0000", 0x1FF0000},
      {"123456789", 0x23456789},
      {"ffffffffff", 0xFFFFFFFF},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("text \"") + row.Text + "\"");
    EXPECT_EQ(HexToInt(row.Text), row.Value);
  }
}

TEST(ConversionTest, RgbToBgr) {
  const struct {
    std::uint32_t Rgb;
    std::uint32_t Stored;
  } rows[] = {
      {0xFF0000, 0x0000FF},
      {0x00FF00, 0x00FF00},
      {0x0000FF, 0xFF0000},
      {0x123456, 0x563412},
      {0x1FF0000, 0x0000FF},
      {0xFFFFFFFF, 0xFFFFFF},
      {0, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE("rgb " + std::to_string(row.Rgb));
    EXPECT_EQ(RgbToBgr(row.Rgb), row.Stored);
  }
}

// One request text and how the settings it gives differ from the defaults.
struct SettingsRow {
  const char *Query;
  std::function<void(RequestSettings &)> Change;
};

const SettingsRow SettingsRows[] = {
    {"", [](RequestSettings &) {}},
    // data
    {"data=Hello+World%21",
     [](RequestSettings &s) { s.BarText = "Hello World!"; }},
    {"data=&w=5",
     [](RequestSettings &s) {
       s.BarText = "";
       s.Width = 5;
       s.FixedSize = true;
     }},
    {"w=5&data=",
     [](RequestSettings &s) {
       s.Width = 5;
       s.FixedSize = true;
     }},
    {"data=a%00b", [](RequestSettings &s) { s.BarText = "a"; }},
    // w, h, angle and FixedSize
    {"w=699",
     [](RequestSettings &s) {
       s.Width = 699;
       s.FixedSize = true;
     }},
    {"w=1",
     [](RequestSettings &s) {
       s.Width = 1;
       s.FixedSize = true;
     }},
    {"w=700", [](RequestSettings &) {}},
    {"w=0", [](RequestSettings &) {}},
    {"w=abc", [](RequestSettings &) {}},
    {"w=99999999999", [](RequestSettings &) {}},
    {"w=-99999999999", [](RequestSettings &) {}},
    {"w=%2B42px",
     [](RequestSettings &s) {
       s.Width = 42;
       s.FixedSize = true;
     }},
    {"w=300&angle=90",
     [](RequestSettings &s) {
       s.Width = 300;
       s.Orientation = 90;
     }},
    {"w=300&angle=180",
     [](RequestSettings &s) {
       s.Width = 300;
       s.Orientation = 180;
       s.FixedSize = true;
     }},
    {"w=300&angle=45",
     [](RequestSettings &s) {
       s.Width = 300;
       s.FixedSize = true;
     }},
    {"h=150", [](RequestSettings &s) { s.Height = 150; }},
    {"h=150&angle=270",
     [](RequestSettings &s) {
       s.Height = 150;
       s.Orientation = 270;
       s.FixedSize = true;
     }},
    {"h=700&angle=90", [](RequestSettings &s) { s.Orientation = 90; }},
    {"w=300&h=100&angle=90",
     [](RequestSettings &s) {
       s.Width = 300;
       s.Height = 100;
       s.Orientation = 90;
       s.FixedSize = true;
     }},
    {"angle=45", [](RequestSettings &) {}},
    {"angle=-90", [](RequestSettings &) {}},
    {"angle=90.5", [](RequestSettings &s) { s.Orientation = 90; }},
    {"angle=270", [](RequestSettings &s) { s.Orientation = 270; }},
    // btype, balign, talign, c128
    {"btype=22", [](RequestSettings &) {}},
    {"btype=-1", [](RequestSettings &) {}},
    {"btype=21", [](RequestSettings &s) { s.BarType = 21; }},
    {"btype=abc", [](RequestSettings &s) { s.BarType = 0; }},
    {"btype=2&btype=3", [](RequestSettings &s) { s.BarType = 2; }},
    {"balign=3", [](RequestSettings &) {}},
    {"balign=0", [](RequestSettings &s) { s.BarAlign = 0; }},
    {"talign=7", [](RequestSettings &) {}},
    {"talign=6", [](RequestSettings &s) { s.TextAlign = 6; }},
    {"c128=4", [](RequestSettings &) {}},
    {"c128=3", [](RequestSettings &s) { s.Code128CharSet = 3; }},
    // flags
    {"quiet=abc", [](RequestSettings &s) { s.ShowQuietZone = false; }},
    {"quiet=-1", [](RequestSettings &) {}},
    {"quiet=0&guard=0&text=0&tdown=0&schk=0&cchk=0&ntxt=0&stst=1",
     [](RequestSettings &s) {
       s.ShowQuietZone = false;
       s.ShowGuard = false;
       s.ShowText = false;
       s.TextBottomTop = false;
       s.ShowCheck = false;
       s.CalcCheck = false;
       s.NonPrintingToTxt = false;
       s.ShowStSt = true;
     }},
    {"stst=99999999999", [](RequestSettings &s) { s.ShowStSt = true; }},
    // colours
    {"bcolor=ff0000", [](RequestSettings &s) { s.BackColor = 0x0000FF; }},
    {"bcolor=FF", [](RequestSettings &s) { s.BackColor = 0xFF0000; }},
    {"bcolor=&x=1", [](RequestSettings &s) { s.BackColor = 0; }},
    {"fcolor=zz", [](RequestSettings &) {}},
    {"fcolor=123456xyz", [](RequestSettings &s) { s.ForeColor = 0x563412; }},
    {"tcolor=1ff0000", [](RequestSettings &s) { s.TextColor = 0x0000FF; }},
    // fh, bred, w2n, xdim
    {"fh=0", [](RequestSettings &) {}},
    {"fh=1", [](RequestSettings &s) { s.FontHeight = 1; }},
    {"fh=99999999999", [](RequestSettings &s) { s.FontHeight = INT_MAX; }},
    {"bred=-150", [](RequestSettings &s) { s.BarWidthReduction = -150; }},
    {"w2n=0", [](RequestSettings &) {}},
    {"w2n=-1", [](RequestSettings &) {}},
    {"w2n=nan", [](RequestSettings &) {}},
    {"w2n=abc", [](RequestSettings &) {}},
    {"w2n=1e-50", [](RequestSettings &) {}},
    {"w2n=3.25", [](RequestSettings &s) { s.Wide2NarrowRatio = 3.25f; }},
    {"w2n=inf",
     [](RequestSettings &s) {
       s.Wide2NarrowRatio = std::numeric_limits<float>::infinity();
     }},
    {"w2n=3.4028234663852886e38", // the largest float itself
     [](RequestSettings &s) {
       s.Wide2NarrowRatio = std::numeric_limits<float>::max();
     }},
    {"w2n=1e300",
     [](RequestSettings &s) {
       s.Wide2NarrowRatio = std::numeric_limits<float>::infinity();
     }},
    {"xdim=0", [](RequestSettings &) {}},
    {"xdim=2.5", [](RequestSettings &) {}},
    {"xdim=3", [](RequestSettings &s) { s.ModuleSize = 3; }},
    // fmt: the two names only, in lower case
    {"fmt=svg", [](RequestSettings &s) { s.Format = FormatSvg; }},
    {"fmt=png", [](RequestSettings &) {}},
    {"fmt=SVG", [](RequestSettings &) {}},
    {"fmt=svgz", [](RequestSettings &) {}},
    {"fmt=", [](RequestSettings &) {}},
    // help and debug are no settings
    {"help=1&debug=1", [](RequestSettings &) {}},
};

void ExpectSameSettings(const RequestSettings &actual,
                        const RequestSettings &expected) {
  EXPECT_EQ(actual.BarText, expected.BarText);
  EXPECT_EQ(actual.Width, expected.Width);
  EXPECT_EQ(actual.Height, expected.Height);
  EXPECT_EQ(actual.BarType, expected.BarType);
  EXPECT_EQ(actual.Orientation, expected.Orientation);
  EXPECT_EQ(actual.ShowQuietZone, expected.ShowQuietZone);
  EXPECT_EQ(actual.BarAlign, expected.BarAlign);
  EXPECT_EQ(actual.TextAlign, expected.TextAlign);
  EXPECT_EQ(actual.BackColor, expected.BackColor);
  EXPECT_EQ(actual.ForeColor, expected.ForeColor);
  EXPECT_EQ(actual.TextColor, expected.TextColor);
  EXPECT_EQ(actual.ShowGuard, expected.ShowGuard);
  EXPECT_EQ(actual.ShowText, expected.ShowText);
  EXPECT_EQ(actual.TextBottomTop, expected.TextBottomTop);
  EXPECT_EQ(actual.ShowStSt, expected.ShowStSt);
  EXPECT_EQ(actual.ShowCheck, expected.ShowCheck);
  EXPECT_EQ(actual.CalcCheck, expected.CalcCheck);
  EXPECT_EQ(actual.NonPrintingToTxt, expected.NonPrintingToTxt);
  EXPECT_EQ(actual.Code128CharSet, expected.Code128CharSet);
  EXPECT_EQ(actual.FontHeight, expected.FontHeight);
  EXPECT_EQ(actual.BarWidthReduction, expected.BarWidthReduction);
  EXPECT_EQ(actual.Wide2NarrowRatio, expected.Wide2NarrowRatio);
  EXPECT_EQ(actual.ModuleSize, expected.ModuleSize);
  EXPECT_EQ(actual.FixedSize, expected.FixedSize);
  EXPECT_EQ(actual.Format, expected.Format);
}

RequestSettings SettingsOf(const char *query) {
  CQueryParams params(query);
  RequestSettings settings;
  // Start from a record unlike the defaults, so that every default is
  // seen to be written.
  settings.BarText = "stale";
  settings.Width = settings.Height = settings.BarType = -5;
  settings.FixedSize = true;
  settings.Format = FormatSvg;
  ReadRequestSettings(params, settings);
  return settings;
}

TEST(ReadRequestSettingsTest, ConvertsAndChecksEveryParameter) {
  for (const SettingsRow &row : SettingsRows) {
    SCOPED_TRACE(std::string("query \"") + row.Query + "\"");
    RequestSettings expected;
    row.Change(expected);
    ExpectSameSettings(SettingsOf(row.Query), expected);
  }
}

TEST(ReadRequestSettingsTest, DefaultsAreThoseOfAnEmptyRequest) {
  const RequestSettings settings = SettingsOf("");
  EXPECT_EQ(settings.BarText, "1234567");
  EXPECT_EQ(settings.Width, 200);
  EXPECT_EQ(settings.Height, 200);
  EXPECT_EQ(settings.BarType, 7);
  EXPECT_EQ(settings.BarAlign, 2);
  EXPECT_EQ(settings.BackColor, 0xFFFFFFu);
  EXPECT_EQ(settings.ForeColor, 0u);
  EXPECT_EQ(settings.FontHeight, 14);
  EXPECT_EQ(settings.Wide2NarrowRatio, 2.5f);
  EXPECT_EQ(settings.ModuleSize, 2.0);
  EXPECT_TRUE(settings.ShowQuietZone && settings.ShowGuard &&
              settings.ShowText && settings.TextBottomTop &&
              settings.ShowCheck && settings.CalcCheck &&
              settings.NonPrintingToTxt);
  EXPECT_FALSE(settings.ShowStSt || settings.FixedSize);
}

TEST(ReadRequestSettingsTest, DebugModeFollowsTheDebugParameter) {
  const struct {
    const char *Query;
    bool Debug;
  } rows[] = {
      {"debug=1", true},  {"debug=0", true}, {"debug=&w=1", true},
      {"", false},        {"debug", false},  {"x=1&debug=", false},
      {"DEBUG=1", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("query \"") + row.Query + "\"");
    DebugMode = !row.Debug;
    SettingsOf(row.Query);
    EXPECT_EQ(DebugMode, row.Debug);
  }
  DebugMode = false;
}

} // namespace
