#pragma once

#include <memory>

#include "engine/BarcodeSym.h"

namespace strixel {

// Creates the symbol object for props.BarType, encoded once; none for a type
// outside 0 to 21.
std::unique_ptr<CBarcodeSym> CreateBarcodeSym(const CBarcodeProps &props);

} // namespace strixel
