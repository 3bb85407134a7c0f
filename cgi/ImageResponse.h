#pragma once

#include "cgi/RequestIntake.h"

// Draws the requested barcode and writes the image response; returns the
// request's error code.
int RenderImageResponse(const RequestSettings &settings);
