#pragma once

#include "engine/ErrorCodes.h"

namespace strixel {

// The most a request may take: CPU time, and wall-clock time from its start.
// The wall-clock limit is well above the CPU limit, so that a request that
// waits for a busy machine is not cut; it also ends a POST whose body stops
// arriving.
constexpr int CpuLimitSeconds = 5;
constexpr int WallLimitSeconds = 30;
// A response that has started to go out may take this much longer than
// the wall-clock limit: a reader that has not taken it all by then has
// stopped reading, and the process ends rather than wait for it (exit code
// Failure, the response cut).
constexpr int WriteGraceSeconds = 10;
// The exit code of a request cut by either limit; it writes nothing.
constexpr int LimitExitCode = Failure;

// The limits of a CGI request; FastCgiLimits are those of a FastCGI one.
struct CgiLimits {
  int CpuSeconds = CpuLimitSeconds;
  int WallSeconds = WallLimitSeconds;
  // Whether the limits are placed on the process: its CPU limit, its
  // real-time timer and the signals of both. The program's main turns it
  // on. A caller that runs requests inside a process of its own (the fuzz
  // target, whose own timeout rests on the same timer and signal) leaves
  // it off and keeps its timers, limits and handlers.
  bool ProcessWide = false;
};

} // namespace strixel
