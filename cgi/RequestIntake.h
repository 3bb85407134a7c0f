#pragma once

namespace strixel {

// Whether a failed request answers with the HTML error page. Set from the
// request's debug parameter (ReadRequestSettings) and read by every page
// that reports a failure.
extern bool DebugMode;

// Handles the one CGI request of the process; returns its exit code.
int HandleRequest();

} // namespace strixel
