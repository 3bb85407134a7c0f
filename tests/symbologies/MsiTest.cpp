#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/BarcodeFactory.h"
#include "symbologies/Msi.h"

using namespace strixel;

namespace {

// Reads MSI back: start (wide bar, narrow space), four bits a digit (1 a wide
// bar and a narrow space, 0 a narrow bar and a wide space, most significant
// first), stop (narrow bar, wide space, narrow bar). "!" marks a malformed
// pattern.
std::string ReadMsi(const std::vector<std::uint8_t> &elements) {
  const std::size_t n = elements.size();
  if (n < 5 || elements[0] != WideBar || elements[1] != Space1 ||
      elements[n - 3] != Bar1 || elements[n - 2] != WideSpace ||
      elements[n - 1] != Bar1 || (n - 5) % 8 != 0)
    return "!";
  std::string digits;
  for (std::size_t i = 2; i + 3 < n; i += 8) {
    int value = 0;
    for (std::size_t k = 0; k < 8; k += 2) {
      const std::uint8_t bar = elements[i + k];
      const std::uint8_t space = elements[i + k + 1];
      if (bar == WideBar && space == Space1)
        value = 2 * value + 1;
      else if (bar == Bar1 && space == WideSpace)
        value = 2 * value;
      else
        return "!";
    }
    digits += value <= 9 ? static_cast<char>('0' + value) : '?';
  }
  return digits;
}

// The MSI modulo-10 check digit worked digit by digit: every digit in an odd
// place from the right is doubled and the digits of the product added (the
// carry of a doubled digit never spreads further, so this is the digit sum
// of the doubled number).
int ExpectedCheckDigit(const std::string &text) {
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int d = text[text.size() - 1 - i] - '0';
    sum += i % 2 == 0 ? (2 * d) / 10 + (2 * d) % 10 : d;
  }
  return static_cast<int>((10 - sum % 10) % 10);
}

std::unique_ptr<CBarcodeSym> MakeMsi(const std::string &text, bool calcCheck,
                                     bool showCheck) {
  CBarcodeProps props;
  props.BarType = 6;
  props.BarText = text;
  props.CalcCheck = calcCheck;
  props.ShowCheck = showCheck;
  return CreateBarcodeSym(props);
}

int CheckDigitOf(const std::string &text) {
  std::unique_ptr<CBarcodeSym> symbol = MakeMsi(text, true, true);
  return static_cast<CBarcodeSymMSI &>(*symbol).MsiCheckDigit();
}

TEST(Msi, CheckDigits) {
  struct Row {
    const char *Text;
    int Check;
  };
  const Row rows[] = {
      {"1234567", 4},
      {"80523", 4},
      {"0", 0},
      {"1", 8},
      {"2", 6},
      {"3", 4},
      {"4", 2},
      {"5", 9},
      {"6", 7},
      {"7", 5},
      {"8", 3},
      {"9", 1},
      {"1234567890123456789012345", 9},
      {"9876543210987654321098765", 5},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Text);
    EXPECT_EQ(CheckDigitOf(row.Text), row.Check);
  }
}

TEST(Msi, CheckDigitOfLongTextsIsExact) {
  // The digits to double form a number of 1800 digits here.
  EXPECT_EQ(CheckDigitOf(std::string(3599, '9')), 9);
  std::string text = "9";
  for (int i = 0; i < 359; ++i)
    text += "1234567890";
  text += "123456789";
  ASSERT_EQ(text.size(), 3600u);
  EXPECT_EQ(CheckDigitOf(text), 1);
  std::string mixed;
  for (int i = 0; i < 3600; ++i)
    mixed += static_cast<char>('0' + (i * 7 + i / 13) % 10);
  EXPECT_EQ(CheckDigitOf(mixed), ExpectedCheckDigit(mixed));
}

TEST(Msi, PatternsReadBack) {
  struct Row {
    const char *Text;
    bool CalcCheck;
    bool ShowCheck;
    const char *Read;
    const char *Shown;
  };
  const Row rows[] = {
      {"1234567", true, true, "12345674", "12345674"},
      {"1234567", false, true, "1234567", "1234567"},
      {"1234567", true, false, "12345674", "1234567"},
      {"5", true, true, "59", "59"},
      {"0123456789", false, false, "0123456789", "0123456789"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.Text) + (row.CalcCheck ? " check" : "") +
                 (row.ShowCheck ? " shown" : ""));
    std::unique_ptr<CBarcodeSym> symbol =
        MakeMsi(row.Text, row.CalcCheck, row.ShowCheck);
    ASSERT_TRUE(symbol->TextValid);
    EXPECT_EQ(ReadMsi(symbol->Elements), row.Read);
    EXPECT_EQ(symbol->Elements.size(),
              2 + 8 * std::string(row.Read).size() + 3);
    EXPECT_EQ(symbol->Settings.DisplayText, row.Shown);
  }
}

TEST(Msi, InvalidTexts) {
  for (const char *text : {"", "12x", "-1", "1 2"}) {
    SCOPED_TRACE(text);
    std::unique_ptr<CBarcodeSym> symbol = MakeMsi(text, true, true);
    EXPECT_FALSE(symbol->TextValid);
    EXPECT_FALSE(symbol->Encode());
    EXPECT_TRUE(symbol->Elements.empty());
  }
}

} // namespace
