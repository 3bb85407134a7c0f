#include "engine/BarcodeHolder.h"

#include <utility>

#include "engine/BarcodeFactory.h"
#include "engine/ErrorCodes.h"
#include "engine/Rounding.h"

namespace strixel {

namespace {

// A length in pixels, in unit at the resolution res (pixels per inch).
double LengthInUnit(int pixels, double res, SizeUnit unit) {
  const double inches = pixels / res;
  switch (unit) {
  case Mils:
    return inches * 1000;
  case Inches:
    return inches;
  case Millimetres:
    return inches * 25.4;
  default:
    return pixels;
  }
}

} // namespace

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
    return InvalidArgument;
  }
  pixels = RoundHalfAway(value);
  return Success;
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
  ReplaceSymbol(std::move(replacement));
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

void CBarcodeHolder::ReplaceSymbol(std::unique_ptr<CBarcodeSym> symbol) {
  // The current symbol handed back (a pointer taken from GetSymbol) stays:
  // destroying it here would leave the holder with a dangling one.
  if (symbol.get() == Symbol.get()) {
    symbol.release();
    return;
  }
  Symbol = std::move(symbol);
}

int CBarcodeHolder::ComputeSymbolLength(double moduleSize, int hres, int vres,
                                        SizeUnit unit, double &length) const {
  if (!Symbol)
    return InvalidArgument;
  const bool horizontal = RunsHorizontally(Symbol->Settings.Orientation);
  int pixels = -1;
  if (int error =
          ModuleToPixels(moduleSize, hres, vres, unit, horizontal, pixels))
    return error;
  const int symbolLength = Symbol->GetSymbolWidth(pixels);
  if (symbolLength == 0 || symbolLength == CBarcodeSym::NeverFits)
    return InvalidArgument;
  length = LengthInUnit(symbolLength, horizontal ? hres : vres, unit);
  return Success;
}

} // namespace strixel
