#pragma once

#include "cgi/RequestSettings.h"

namespace strixel {

// Draws the requested barcode and writes the image response; returns the
// request's error code.
int RenderImageResponse(const RequestSettings &settings);

// Ends a failed request: the error page when DebugMode asks for it; returns
// code, or Failure when the page could not be written.
int FailRequest(int code);

} // namespace strixel
