#pragma once

#include <cstdint>

#include "cgi/CgiLimits.h"

namespace strixel {

constexpr std::int64_t MillisecondsPerSecond = 1000;

// The limits of each FastCGI request: those of a CGI request, in
// milliseconds so that tests can make them short.
struct FastCgiLimits {
  std::int64_t CpuMilliseconds = CpuLimitSeconds * MillisecondsPerSecond;
  std::int64_t WallMilliseconds = WallLimitSeconds * MillisecondsPerSecond;
};

// Whether standard input is a listening socket: the FastCGI convention for
// a process started by a FastCGI process manager (lighttpd's mod_fastcgi,
// Apache's mod_fcgid, systemd with StandardInput=socket, spawn-fcgi). A
// web server starts a CGI with a pipe, a file or nothing there.
bool ListensForFastCgi();

// How many worker processes the FastCGI mode keeps, from the environment
// variable STRIXEL_FASTCGI_WORKERS: 0 (unset) serves in this very process
// and leaves replacing it to the process manager that started it.
int FastCgiWorkerCount();

// Serves FastCGI requests on the listening socket on standard input, each
// one through exactly the code of a CGI request, its error code the
// request's application status. With workers above 0 this process forks
// that many workers, replaces any that ends and stops them all on SIGTERM,
// SIGINT or SIGHUP; with 0 it serves the requests itself. Returns the
// process exit code.
int ServeFastCgi(int workers, const FastCgiLimits &limits = FastCgiLimits());

} // namespace strixel
