#pragma once

namespace strixel {

// The request's error codes: every request ends with one of them as its exit
// code, and a request with debug answers a failure with its message
// (ErrorMessage). Operations return them as ints, 0 for success.
enum ErrorCode : int {
  Success = 0,
  InvalidArgument = 1,    // request unreadable; no size; no rectangle
  Failure = 2,            // the response could not be written whole
  CannotCreateCanvas = 3, // raster or text engine could not be set up
  CannotSetType = 4,      // no symbol class for the barcode type
  InvalidBarcodeSize = 5, // the symbol does not fit the image
  InvalidBarcodeText = 6, // text not valid for the type, or request too long
  OutputNameEmpty = 11,   // codes 11 to 13 come from no operation here
  CannotOpenOutput = 12,
  CannotCloseOutput = 13,
  UnknownException = 14, // an allocation failed while handling the request
};

} // namespace strixel
