#pragma once

#include <chrono>
#include <csignal>
#include <initializer_list>
#include <string_view>

#include <sys/resource.h>
#include <sys/time.h>

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

struct RequestLimits {
  int CpuSeconds = CpuLimitSeconds;
  int WallSeconds = WallLimitSeconds;
  // Whether the limits are placed on the process: its CPU limit, its
  // real-time timer and the signals of both. The program's main turns it
  // on. A caller that runs requests inside a process of its own (the fuzz
  // target, whose own timeout rests on the same timer and signal) leaves
  // it off and keeps its timers, limits and handlers.
  bool ProcessWide = false;
};

// Holds the request to its limits while it lives (when they are process
// wide), and keeps a reader that goes away early from killing the process
// (SIGPIPE is ignored, the write fails instead). A request that reaches a
// limit ends at once with LimitExitCode: the response is only written at
// the very end (WriteResponse), so nothing of it has gone out. The CPU
// limit is a soft limit placed below any hard limit found, so that the
// kernel's SIGKILL at the hard limit never comes first. The destructor
// gives the process back its previous limits and signal handling, for
// callers that handle more than one request in a process.
class CRequestLimits {
public:
  explicit CRequestLimits(const RequestLimits &limits = RequestLimits());
  CRequestLimits(const CRequestLimits &) = delete;
  CRequestLimits &operator=(const CRequestLimits &) = delete;
  ~CRequestLimits();

private:
  bool ProcessWide;
  struct sigaction OldCpuAction;
  struct sigaction OldWallAction;
  struct sigaction OldPipeAction;
  sigset_t OldMask;
  struct rlimit OldCpuLimit;
  bool CpuLimitSet = false;
  struct itimerval OldTimer;
};

// Writes the response to standard output, the parts in order; false when a
// write failed or fell short. From its first byte on, the response is not
// cut by the limits any more (a cut would leave half a response): their
// signals stay blocked for the rest of the request. The write has a
// deadline of its own instead: what is left of the wall-clock timer (none
// without process-wide limits) plus WriteGraceSeconds. A reader that has
// not taken the whole response by then makes it fail, and the request ends
// with Failure.
bool WriteResponse(std::initializer_list<std::string_view> parts);

// The write of WriteResponse to any descriptor: the parts in order, each
// piece written only once fd can take it without blocking, waiting no later
// than deadline. False when a write fails or the deadline passes.
bool WriteBefore(int fd, std::initializer_list<std::string_view> parts,
                 std::chrono::steady_clock::time_point deadline);

// The CPU soft limit, in whole seconds, that a request places given the
// limit it finds: wanted seconds, below a finite hard limit (the kernel
// kills at the hard limit without a catchable signal) and not above a lower
// soft limit already set. Equal to current.rlim_cur when that one is kept.
rlim_t RequestCpuLimit(rlim_t wanted, const struct rlimit &current);

} // namespace strixel
