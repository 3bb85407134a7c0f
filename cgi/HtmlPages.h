#pragma once

namespace strixel {

// The message of an error code, as the error page shows it.
const char *ErrorMessage(int code);
// The two HTML responses, each written whole to standard output; false when
// standard output took less than all of it.
bool PrintErrorPage(int code);
bool PrintHelpPage();

} // namespace strixel
