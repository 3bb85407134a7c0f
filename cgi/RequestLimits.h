#pragma once

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
// The exit code of a request cut by either limit; it writes nothing.
constexpr int LimitExitCode = Failure;

struct RequestLimits {
  int CpuSeconds = CpuLimitSeconds;
  int WallSeconds = WallLimitSeconds;
};

// Holds the request to its limits while it lives, and keeps a reader that
// goes away early from killing the process (SIGPIPE is ignored, the write
// fails instead). A request that reaches a limit ends at once with
// LimitExitCode: the response is only written at the very end
// (WriteResponse), so nothing of it has gone out. The destructor gives the
// process back its previous limits and signal handling, for callers that
// handle more than one request in a process.
class CRequestLimits {
public:
  explicit CRequestLimits(const RequestLimits &limits = RequestLimits());
  CRequestLimits(const CRequestLimits &) = delete;
  CRequestLimits &operator=(const CRequestLimits &) = delete;
  ~CRequestLimits();

private:
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
// signals stay blocked for the rest of the request.
bool WriteResponse(std::initializer_list<std::string_view> parts);

} // namespace strixel
