#pragma once

namespace strixel {

struct CgiLimits;

// Whether a failed request answers with the HTML error page. Set from the
// request's debug parameter (ReadRequestSettings) and read by every page
// that reports a failure.
extern bool DebugMode;

// Handles the one CGI request of the process within the CPU and wall-clock
// limits of a request, placed on the process; returns its exit code.
int HandleRequest();
// The same within the given limits (tests shorten them); placed on the
// process only when limits.ProcessWide is set.
int HandleRequest(const CgiLimits &limits);
// The request alone, within limits the caller holds: a FastCGI worker holds
// its own for each request (FastCgiServer).
int RunRequest();

} // namespace strixel
