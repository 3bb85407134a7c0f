#pragma once

#include <chrono>
#include <csignal>
#include <initializer_list>
#include <string_view>

#include <sys/resource.h>
#include <sys/time.h>

#include "cgi/CgiLimits.h"

namespace strixel {

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
  explicit CRequestLimits(const CgiLimits &limits = CgiLimits());
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
