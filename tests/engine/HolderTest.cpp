#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "engine/BarcodeHolder.h"
#include "engine/Rounding.h"
#include "support/TestSymbols.h"

using namespace strixel;

TEST(Holder, SetTypeToTheSameTypeKeepsTheObject) {
  CBarcodeHolder holder;
  ASSERT_TRUE(holder.SetType(7));
  CBarcodeSym *first = holder.GetSymbol();
  ASSERT_NE(first, nullptr);
  first->Settings.ForeColor = 0x123456;
  EXPECT_TRUE(holder.SetType(7));
  EXPECT_EQ(holder.GetSymbol(), first);
  EXPECT_EQ(holder.GetSymbol()->Settings.ForeColor, 0x123456u);
}

TEST(Holder, ATypeChangeCarriesSettingsTextAndBox) {
  CBarcodeHolder holder;
  ASSERT_TRUE(holder.SetType(7));
  CBarcodeSym &sym = *holder.GetSymbol();
  sym.Settings.Orientation = 90;
  sym.Settings.TextColor = 0xFF;
  sym.SetBarText("ABC123");
  sym.ModuleWidth = 3;
  sym.BoxWidth = 321;
  std::unique_ptr<CBarcodeSym> copy = holder.CreateSymbolOfType(7);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Settings.BarText, "ABC123");
  EXPECT_EQ(copy->Settings.Orientation, 90);
  EXPECT_EQ(copy->Settings.TextColor, 0xFFu);
  EXPECT_EQ(copy->ModuleWidth, 3);
  EXPECT_EQ(copy->BoxWidth, 321);
  EXPECT_TRUE(copy->TextValid) << "encoded by the factory";
  EXPECT_FALSE(copy->Elements.empty());
}

TEST(Holder, UnknownTypesFailAndChangeNothing) {
  CBarcodeHolder holder;
  ASSERT_TRUE(holder.SetType(7));
  CBarcodeSym *current = holder.GetSymbol();
  for (int type : {-1, 22, 1000}) {
    SCOPED_TRACE(type);
    EXPECT_FALSE(holder.SetType(type));
    EXPECT_EQ(holder.GetSymbol(), current);
  }
}

TEST(Holder, ReplacingTheSymbolByItselfKeepsIt) {
  CBarcodeHolder holder;
  CBarcodeSym *current = holder.GetSymbol();
  // A second owner of the current symbol: the holder must neither destroy
  // it (ASan reports the use after free) nor drop it.
  holder.ReplaceSymbol(std::unique_ptr<CBarcodeSym>(current));
  EXPECT_EQ(holder.GetSymbol(), current);
  EXPECT_EQ(holder.GetSymbol()->Settings.BarText, "012345");
}

TEST(Holder, ModuleToPixels) {
  struct Row {
    double Size;
    int HRes, VRes;
    SizeUnit Unit;
    bool Horizontal;
    int Pixels;
  } rows[] = {
      {2.5, 1, 1, Pixels, true, 3},
      {2.4, 1, 1, Pixels, true, 2},
      {10, 300, 300, Mils, true, 3},
      {0.33, 300, 600, Millimetres, false, 8},
      {0.5, 96, 200, Inches, true, 48},
      {0.5, 96, 200, Inches, false, 100},
      {3e12, 1, 1, Pixels, true, 2147483647},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << row.Size << " unit " << row.Unit);
    int pixels = 0;
    EXPECT_EQ(ModuleToPixels(row.Size, row.HRes, row.VRes, row.Unit,
                             row.Horizontal, pixels),
              0);
    EXPECT_EQ(pixels, row.Pixels);
  }
  int pixels = 0;
  EXPECT_EQ(ModuleToPixels(1, 1, 1, static_cast<SizeUnit>(4), true, pixels), 1);
  EXPECT_EQ(pixels, -1);
}

TEST(Holder, RoundHalfAway) {
  struct Row {
    double In;
    int Out;
  } rows[] = {{2.5, 3},
              {2.4, 2},
              {-2.5, -3},
              {-0.7, -1},
              {0.5, 1},
              {1e300, 2147483647},
              {-1e300, -2147483647 - 1}};
  for (const Row &row : rows)
    EXPECT_EQ(RoundHalfAway(row.In), row.Out) << row.In;
}

TEST(Holder, ComputeSymbolLengthInEveryUnit) {
  CBarcodeHolder holder;
  CBarcodeProps props;
  props.BarText = "x";
  // 30 modules of bars and 20 of quiet zone: 600 pixels at 12 per module.
  std::unique_ptr<CBarcodeSym> sym =
      std::make_unique<CPatternSym>(props, std::vector<std::uint8_t>(10, Bar3));
  sym->Encode();
  holder.ReplaceSymbol(std::move(sym));
  EXPECT_EQ(sym, nullptr) << "ownership moves to the holder";
  struct Row {
    double Module;
    int Res;
    SizeUnit Unit;
    double Length;
  } rows[] = {{40, 300, Mils, 2000},
              {1.016, 300, Millimetres, 50.8},
              {0.04, 300, Inches, 2},
              {12, 300, Pixels, 600},
              {12, 7, Pixels, 600}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Unit);
    double length = -1;
    ASSERT_EQ(holder.ComputeSymbolLength(row.Module, row.Res, row.Res, row.Unit,
                                         length),
              0);
    EXPECT_NEAR(length, row.Length, 1e-9);
  }
}

TEST(Holder, ASymbolOfLengthZeroHasNoLength) {
  CBarcodeHolder holder;
  CBarcodeProps props;
  props.BarText = "";
  props.ShowQuietZone = false;
  std::unique_ptr<CBarcodeSym> sym =
      std::make_unique<CPatternSym>(props, std::vector<std::uint8_t>{Bar1});
  sym->Encode(); // rejected: no elements
  holder.ReplaceSymbol(std::move(sym));
  double length = -1;
  EXPECT_EQ(holder.ComputeSymbolLength(2, 1, 1, Pixels, length), 1);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(holder.ComputeSymbolLength(2e12, 1, 1, Pixels, length), 1);
}
