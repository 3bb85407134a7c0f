#pragma once

#include <string>

#include "cgi/RequestSettings.h"

namespace strixel {

// The name of a barcode type as people know it; empty for a number that is
// no type.
const char *BarcodeTypeName(int type);

// What a vector image calls itself: the type and the request's text, as
// "Code 128: 1234567". The text is as given (any bytes); the writer
// escapes it.
std::string ImageTitle(const RequestSettings &request);

} // namespace strixel
