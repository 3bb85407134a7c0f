#include "engine/BarcodeHolder.h"

#include "engine/BarcodeFactory.h"

namespace strixel {

int ModuleToPixels(double size, int hres, int vres, SizeUnit unit,
                   bool horizontal, int &pixels) {
  pixels = -1;
  const double res = horizontal ? hres : vres;
  double value = 0;
  switch (unit) {
  case Mils:
    value = size * 0.001 * res;
    break;
  case Inches:
    value = size * res;
    break;
  case Millimetres:
    value = size / 25.4 * res;
    break;
  case Pixels:
    value = size;
    break;
  default:
    return 1;
  }
  pixels = RoundHalfAway(value);
  return 0;
}

CBarcodeHolder::CBarcodeHolder() : Symbol(CreateBarcodeSym(CBarcodeProps())) {}

CBarcodeHolder::~CBarcodeHolder() = default;

bool CBarcodeHolder::SetType(int type) {
  if (!Symbol)
    return false;
  if (Symbol->Settings.BarType == type)
    return true;
  std::unique_ptr<CBarcodeSym> replacement = CreateSymbolOfType(type);
  if (!replacement)
    return false;
  ReplaceSymbol(replacement);
  return true;
}

std::unique_ptr<CBarcodeSym>
CBarcodeHolder::CreateSymbolOfType(int type) const {
  CBarcodeProps props;
  if (Symbol)
    props.CopyFrom(Symbol->Settings);
  props.BarType = type;
  std::unique_ptr<CBarcodeSym> created = CreateBarcodeSym(props);
  if (created && Symbol) {
    created->ModuleWidth = Symbol->ModuleWidth;
    created->BoxWidth = Symbol->BoxWidth;
    created->BoxHeight = Symbol->BoxHeight;
  }
  return created;
}

void CBarcodeHolder::ReplaceSymbol(std::unique_ptr<CBarcodeSym> &symbol) {
  if (symbol.get() == Symbol.get()) {
    symbol.release();
    return;
  }
  Symbol = std::move(symbol);
}

int CBarcodeHolder::ComputeSymbolLength(double moduleSize, int hres, int vres,
                                        SizeUnit unit, double &length) const {
  if (!Symbol)
    return 1;
  const bool horizontal =
      Symbol->Settings.Orientation == 0 || Symbol->Settings.Orientation == 180;
  int pixels = -1;
  if (int error =
          ModuleToPixels(moduleSize, hres, vres, unit, horizontal, pixels))
    return error;
  const int symbolLength = Symbol->GetSymbolWidth(pixels);
  if (symbolLength == 0 || symbolLength == CBarcodeSym::NeverFits)
    return 1;
  const double res = horizontal ? hres : vres;
  const double x = symbolLength / res;
  switch (unit) {
  case Mils:
    length = x * 1000;
    break;
  case Inches:
    length = x;
    break;
  case Millimetres:
    length = x * 25.4;
    break;
  default:
    length = symbolLength;
    break;
  }
  return 0;
}

} // namespace strixel
