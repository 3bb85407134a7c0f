#pragma once

// Small fixtures for engine tests: a symbol with a fixed pattern, and a
// canvas that never writes a file.

#include <cstdio>
#include <utility>
#include <vector>

#include "engine/BarcodeSym.h"
#include "imaging/ImageWriter.h"

using namespace strixel;

class CPatternSym : public CBarcodeSym {
public:
  CPatternSym(const CBarcodeProps &props, std::vector<std::uint8_t> pattern)
      : CBarcodeSym(props), Pattern(std::move(pattern)) {}
  bool Encode() override {
    if (!PrepareEncode())
      return false;
    Elements = Pattern;
    return true;
  }
  bool IsTextValid() override { return HasText(); }
  std::vector<std::uint8_t> Pattern;
};

class CTestCanvas : public CImageWriter {
public:
  CTestCanvas(int width, int height)
      : CImageWriter(width, height, 0xFFFFFF, nullptr, 96, 96) {}
  int WriteImage(std::FILE *) override { return 0; }
  bool IsDark(int x, int y) const {
    return GetRed(x, y) + GetGreen(x, y) + GetBlue(x, y) < 3 * 128;
  }
};
