#pragma once

#include <memory>

#include "engine/BarcodeSym.h"

namespace strixel {

enum SizeUnit { Mils = 0, Inches = 1, Millimetres = 2, Pixels = 3 };

int ModuleToPixels(double size, int hres, int vres, SizeUnit unit,
                   bool horizontal, int &pixels);

// Owns the current symbol and switches it to another type, keeping every
// setting.
class CBarcodeHolder {
public:
  CBarcodeHolder();
  CBarcodeHolder(const CBarcodeHolder &) = delete;
  CBarcodeHolder &operator=(const CBarcodeHolder &) = delete;
  ~CBarcodeHolder();

  CBarcodeSym *GetSymbol() const { return Symbol.get(); }
  bool SetType(int type);
  std::unique_ptr<CBarcodeSym> CreateSymbolOfType(int type) const;
  void ReplaceSymbol(std::unique_ptr<CBarcodeSym> symbol);
  int ComputeSymbolLength(double moduleSize, int hres, int vres, SizeUnit unit,
                          double &length) const;

private:
  std::unique_ptr<CBarcodeSym> Symbol;
};

} // namespace strixel
