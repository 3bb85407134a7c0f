#pragma once

#include "cgi/RequestIntake.h"
#include "cgi/RequestSettings.h"

namespace strixel {

// Draws the requested barcode and writes the image response; returns the
// request's error code.
int RenderImageResponse(const RequestSettings &settings);

} // namespace strixel
