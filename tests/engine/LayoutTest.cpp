#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "engine/BarSpans.h"
#include "support/TestSymbols.h"

using namespace strixel;

namespace {

CBarcodeProps Props(int orientation = 0, bool text = false,
                    bool quiet = false) {
  CBarcodeProps props;
  props.BarText = "x";
  props.Orientation = orientation;
  props.ShowText = text;
  props.ShowQuietZone = quiet;
  props.BarAlign = 0;
  return props;
}

std::unique_ptr<CPatternSym> Symbol(const CBarcodeProps &props,
                                    std::vector<std::uint8_t> pattern) {
  auto sym = std::make_unique<CPatternSym>(props, std::move(pattern));
  sym->Encode();
  return sym;
}

int DrawInto(CBarcodeSym &sym, CTestCanvas &canvas) {
  EXPECT_TRUE(canvas.Create());
  CRect rect{0, canvas.Width, 0, canvas.Height};
  return sym.Draw(canvas, &rect);
}

// Dark pixel columns along row y, as [first, last] runs.
std::vector<std::pair<int, int>> DarkRuns(const CTestCanvas &canvas, int y) {
  std::vector<std::pair<int, int>> runs;
  for (int x = 0; x < canvas.Width; ++x) {
    if (!canvas.IsDark(x, y))
      continue;
    if (!runs.empty() && runs.back().second == x - 1)
      runs.back().second = x;
    else
      runs.push_back({x, x});
  }
  return runs;
}

int DarkLength(const CTestCanvas &canvas, int x) {
  int n = 0;
  for (int y = 0; y < canvas.Height; ++y)
    n += canvas.IsDark(x, y);
  return n;
}

} // namespace

TEST(Layout, ModuleWidthIsTheLargestThatFits) {
  // Four modules of pattern plus two quiet zones of ten: 24 modules.
  auto sym = Symbol(Props(0, false, true), {Bar1, Space1, Bar2});
  struct Row {
    int Width;
    int Module;
  } rows[] = {{48, 2}, {47, 1}, {24, 1}, {72, 3}, {23, -1}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Width);
    EXPECT_EQ(sym->FindModuleWidth(row.Width, 50), row.Module);
  }
  EXPECT_EQ(sym->GetSymbolWidth(2), 48);
  EXPECT_EQ(sym->GetSymbolWidth(-1), CBarcodeSym::NeverFits);
  EXPECT_EQ(sym->Slack(-1, 100, 100), CBarcodeSym::NoRoom);
  CTestCanvas canvas(23, 50);
  EXPECT_EQ(DrawInto(*sym, canvas), 5);
}

TEST(Layout, CrossDimensionMustExceedTheTextBand) {
  auto sym = Symbol(Props(0, true, false), {Bar1});
  CTestCanvas probe(10, 10);
  ASSERT_TRUE(probe.Create());
  const int band = probe.GetTextHeight(14);
  ASSERT_GT(band, 14);

  CTestCanvas tooLow(10, band);
  EXPECT_EQ(DrawInto(*sym, tooLow), 5);
  for (int y = 0; y < band; ++y)
    EXPECT_FALSE(tooLow.IsDark(0, y)) << "nothing drawn on failure";

  CTestCanvas justEnough(10, band + 1);
  EXPECT_EQ(DrawInto(*sym, justEnough), 0);
  EXPECT_TRUE(justEnough.IsDark(0, 0));
  EXPECT_FALSE(justEnough.IsDark(0, 1)) << "bars one pixel long";
}

TEST(Layout, InvalidTextIsReportedAfterTheSize) {
  CBarcodeProps props = Props();
  props.BarText = "";
  auto sym = Symbol(props, {Bar1});
  CTestCanvas fits(10, 10);
  EXPECT_EQ(DrawInto(*sym, fits), 6);
  EXPECT_EQ(sym->Draw(fits, nullptr), 1);
}

TEST(Layout, BarAlignPlacesThePatternInTheSlack) {
  // A 4-module pattern in a 7-pixel box: module width 1, odd slack of 3.
  struct Row {
    int Align;
    int FirstBar;
  } rows[] = {{0, 0}, {1, 3}, {2, 1}, {7, 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Align);
    CBarcodeProps props = Props();
    props.BarAlign = row.Align;
    auto sym = Symbol(props, {Bar1, Space2, Bar1});
    CTestCanvas canvas(7, 5);
    ASSERT_EQ(DrawInto(*sym, canvas), 0);
    auto runs = DarkRuns(canvas, 2);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, row.FirstBar);
    EXPECT_EQ(runs[1].first, row.FirstBar + 3);
  }
}

TEST(Layout, EveryOrientationStartsAtItsCorner) {
  // Pattern of 5 modules in a 10 x 10 box: module width 2; the first bar
  // lies at the start of the length axis, which each orientation puts on
  // another edge.
  struct Row {
    int Orientation;
    int Left, Top, Right, Bottom; // expected dark rectangle, exclusive end
  } rows[] = {
      {0, 0, 0, 2, 10},
      {90, 0, 8, 10, 10},
      {180, 8, 0, 10, 10},
      {270, 0, 0, 10, 2},
      // No quarter turn (no request carries one): drawn upright.
      {45, 0, 0, 2, 10},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Orientation);
    auto sym = Symbol(Props(row.Orientation), {Bar1, Space4});
    CTestCanvas canvas(10, 10);
    ASSERT_EQ(DrawInto(*sym, canvas), 0);
    EXPECT_EQ(sym->ModuleWidth, 2);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool inside =
            x >= row.Left && x < row.Right && y >= row.Top && y < row.Bottom;
        ASSERT_EQ(canvas.IsDark(x, y), inside) << x << "," << y;
      }
  }
}

TEST(Layout, GetOriginAddsAlignmentAndQuietZone) {
  auto sym = Symbol(Props(0, false, true), {Bar1});
  sym->ModuleWidth = 2;
  sym->BoxWidth = 50; // symbol 42 wide, slack 8
  sym->BoxHeight = 30;
  sym->Settings.BarAlign = 2;
  struct Row {
    int Orientation, X, Y;
  } rows[] = {{0, 24, 0}, {90, 0, 26}, {180, 26, 30}, {270, 30, 24}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Orientation);
    sym->Settings.Orientation = row.Orientation;
    sym->BoxWidth = row.Orientation % 180 ? 30 : 50;
    sym->BoxHeight = row.Orientation % 180 ? 50 : 30;
    int x = -1, y = -1;
    EXPECT_EQ(sym->GetOrigin(CRect{0, sym->BoxWidth, 0, sym->BoxHeight}, x, y),
              24);
    EXPECT_EQ(x, row.X);
    EXPECT_EQ(y, row.Y);
  }
}

TEST(Layout, GuardBarsReachHalfWayIntoTheTextBand) {
  for (bool guard : {true, false}) {
    for (bool below : {true, false}) {
      SCOPED_TRACE(testing::Message()
                   << "guard " << guard << " below " << below);
      CBarcodeProps props = Props(0, true, false);
      props.ShowGuard = guard;
      props.TextBottomTop = below;
      props.BarText = " "; // a blank draws no ink
      auto sym = Symbol(props, {GuardBar, Space1, Bar1});
      CTestCanvas canvas(3, 80);
      ASSERT_EQ(DrawInto(*sym, canvas), 0);
      const int t = sym->TextHeight;
      const int g = guard ? t / 2 : t;
      EXPECT_EQ(DarkLength(canvas, 0), 80 - g);
      EXPECT_EQ(DarkLength(canvas, 2), 80 - t);
      EXPECT_EQ(canvas.IsDark(2, 0), below) << "text above moves the bars";
    }
  }
}

TEST(Layout, BarWidthReductionNarrowsBarsNotThePitch) {
  struct Row {
    int Reduction, Module, BarWidth;
  } rows[] = {{50, 1, 1}, {50, 4, 2}, {0, 4, 4}, {-25, 4, 5}, {150, 4, 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << row.Reduction << "% at " << row.Module);
    CBarcodeProps props = Props();
    props.BarWidthReduction = row.Reduction;
    auto sym = Symbol(props, {Bar1, Space1, Bar1, Space1});
    CTestCanvas canvas(4 * row.Module, 5);
    ASSERT_EQ(DrawInto(*sym, canvas), 0);
    auto runs = DarkRuns(canvas, 2);
    if (row.BarWidth == 0) {
      EXPECT_TRUE(runs.empty());
      continue;
    }
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_EQ(runs[0].second - runs[0].first + 1, row.BarWidth);
    EXPECT_EQ(runs[1].first, 2 * row.Module) << "pen advances by the module";
  }
}

TEST(Layout, NegativeReductionStaysInsideTheBox) {
  CBarcodeProps props = Props();
  props.BarWidthReduction = -1000000;
  auto sym = Symbol(props, {Space1, Bar1});
  CTestCanvas canvas(40, 5);
  ASSERT_EQ(DrawInto(*sym, canvas), 0);
  auto runs = DarkRuns(canvas, 2);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].first, 20);
  EXPECT_EQ(runs[0].second, 39);
}

TEST(Layout, HalfTurnIsTheSameBarsTurnedAround) {
  const std::vector<std::uint8_t> pattern = {Bar1, Space2, Bar3, Space1, Bar2};
  CBarcodeProps upright = Props(0, false, true);
  upright.BarAlign = 2;
  CBarcodeProps turned = upright;
  turned.Orientation = 180;
  auto a = Symbol(upright, pattern);
  auto b = Symbol(turned, pattern);
  CTestCanvas ca(2 * 29 + 6, 9), cb(2 * 29 + 6, 9); // slack 6 at module 2
  ASSERT_EQ(DrawInto(*a, ca), 0);
  ASSERT_EQ(DrawInto(*b, cb), 0);
  for (int y = 0; y < ca.Height; ++y)
    for (int x = 0; x < ca.Width; ++x)
      ASSERT_EQ(ca.IsDark(x, y), cb.IsDark(ca.Width - 1 - x, ca.Height - 1 - y))
          << x << "," << y;
}

TEST(Layout, HugeSizesSaturateInsteadOfOverflowing) {
  CBarcodeProps props = Props(0, false, true);
  props.Wide2NarrowRatio = 1e30f;
  auto sym = Symbol(props, {WideBar, WideSpace, WideBar});
  EXPECT_EQ(sym->GetSymbolWidth(1), CBarcodeSym::NeverFits);
  EXPECT_EQ(sym->GetSymbolWidth(2000000000), CBarcodeSym::NeverFits);
  sym->Settings.Wide2NarrowRatio = INFINITY;
  EXPECT_EQ(sym->GetSymbolWidth(1), CBarcodeSym::NeverFits);
  EXPECT_EQ(sym->FindModuleWidth(699, 699), -1);
  EXPECT_EQ(sym->QuietZone(2000000000), 2147483647);
}

// Bars are filled as joined spans, so that overlapping bars fill no pixel
// twice: the result covers exactly the input's pixels, each once.
TEST(Layout, SpansJoinAndSubtractWithoutOverlap) {
  using Spans = std::vector<Span>;
  struct Row {
    const char *Name;
    Spans In, Cover, Joined, Outside;
  } rows[] = {
      {"apart", {{0, 2}, {4, 6}}, {}, {{0, 2}, {4, 6}}, {{0, 2}, {4, 6}}},
      {"touching and overlapping",
       {{0, 2}, {2, 5}, {3, 4}},
       {{1, 3}},
       {{0, 5}},
       {{0, 1}, {3, 5}}},
      {"out of order, empty dropped",
       {{7, 9}, {5, 5}, {0, 3}, {8, 6}},
       {{-5, 0}, {9, 20}},
       {{0, 3}, {7, 9}},
       {{0, 3}, {7, 9}}},
      {"one cover over many spans",
       {{0, 1}, {2, 3}, {4, 8}},
       {{0, 6}},
       {{0, 1}, {2, 3}, {4, 8}},
       {{6, 8}}},
      {"covered to its very end", {{2, 6}}, {{2, 6}}, {{2, 6}}, {}},
      {"many covers in one span",
       {{0, 10}},
       {{1, 2}, {4, 5}, {9, 12}},
       {{0, 10}},
       {{0, 1}, {2, 4}, {5, 9}}},
  };
  auto text = [](const Spans &spans) {
    std::string out;
    for (const Span &s : spans)
      out += "[" + std::to_string(s.Start) + "," + std::to_string(s.End) + ")";
    return out;
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    const Spans joined = JoinSpans(row.In);
    EXPECT_EQ(text(joined), text(row.Joined));
    EXPECT_EQ(text(SpansOutside(joined, JoinSpans(row.Cover))),
              text(row.Outside));
  }
}

// Postal bars are one module wide; a half bar is 40 percent of the full
// length rounded half away from zero, at least a pixel, and stands on the
// far end of the full bars. Widened bars overlap: where a full bar covers
// a half bar's columns, the column is full. A one-pixel band leaves the
// half bar its one pixel: as long as the full one.
TEST(Layout, PostalHalfBarsStandOnTheFarEnd) {
  struct Row {
    int Height, Reduction, Module;
    const char *Columns; // per pixel column: F full, h half, . space
    int Half;
  } rows[] = {
      {10, 0, 1, "F.h.F", 4},
      {8, 0, 1, "F.h.F", 3},
      {7, 0, 1, "F.h.F", 3},
      {4, 0, 1, "F.h.F", 2},
      {3, 0, 1, "F.h.F", 1},
      {1, 0, 1, "F.F.F", 1},
      {5, 50, 4, "FF......hh......FF..", 2},
      {5, -150, 4, "FFFFFFFFFFhhhhhhFFFF", 2},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Columns);
    CBarcodeProps props = Props();
    props.BarWidthReduction = row.Reduction;
    auto sym =
        Symbol(props, {TallBar, PostalSpace, ShortBar, PostalSpace, TallBar});
    const int width = static_cast<int>(std::string(row.Columns).size());
    CTestCanvas canvas(width, row.Height);
    ASSERT_EQ(DrawInto(*sym, canvas), 0);
    EXPECT_EQ(sym->GetSymbolWidth(row.Module), 5 * row.Module);
    std::string columns;
    for (int x = 0; x < width; ++x) {
      const int n = DarkLength(canvas, x);
      const bool bottom = canvas.IsDark(x, row.Height - 1);
      columns += n == row.Height           ? 'F'
                 : n == row.Half && bottom ? 'h'
                 : n == 0                  ? '.'
                                           : '?';
    }
    EXPECT_EQ(columns, row.Columns);
  }
}
