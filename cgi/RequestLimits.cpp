#include "cgi/RequestLimits.h"

#include "cgi/RequestChannel.h"
#include "engine/Rounding.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace strixel {

namespace {

// The only thing a limit's signal does: end the process. Nothing of the
// response has been written at that point (WriteResponse blocks these
// signals before its first byte), and _exit flushes no stream.
void OnLimitReached(int) {
  _exit(LimitExitCode);
}

sigset_t LimitSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGXCPU);
  sigaddset(&signals, SIGALRM);
  return signals;
}

void SetAction(int signal, void (*handler)(int), struct sigaction &old) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, &old);
}

// CPU time is counted from the process start, so the limit is set that far
// above what has been used already: a fresh process gets exactly seconds.
bool LowerCpuLimit(int seconds, const struct rlimit &old) {
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  const rlim_t used = static_cast<rlim_t>(usage.ru_utime.tv_sec) +
                      static_cast<rlim_t>(usage.ru_stime.tv_sec);
  const rlim_t limit =
      RequestCpuLimit(used + static_cast<rlim_t>(seconds), old);
  if (limit == old.rlim_cur)
    return false;
  struct rlimit lowered = old;
  lowered.rlim_cur = limit;
  return setrlimit(RLIMIT_CPU, &lowered) == 0;
}

// The time a reader is given to take the response: what is left of the
// request's wall-clock timer (nothing when there is none) plus the grace.
std::chrono::steady_clock::time_point WriteDeadline() {
  struct itimerval timer = {};
  getitimer(ITIMER_REAL, &timer);
  const auto left = std::chrono::seconds(timer.it_value.tv_sec) +
                    std::chrono::microseconds(timer.it_value.tv_usec);
  return std::chrono::steady_clock::now() + left +
         std::chrono::seconds(WriteGraceSeconds);
}

// Milliseconds until deadline, for poll: 0 once it has passed.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return SaturateToInt(std::max<std::int64_t>(left.count(), 0));
}

// Writes are at most this large: when poll finds a pipe writable it has
// room for this much at least, so the write cannot block past the
// deadline. (A socket that polls writable has far more room.)
constexpr std::size_t WritePiece = PIPE_BUF;

bool WriteAll(int fd, const char *data, std::size_t size,
              std::chrono::steady_clock::time_point deadline) {
  while (size > 0) {
    pollfd ready = {fd, POLLOUT, 0};
    const int polled = poll(&ready, 1, MillisecondsUntil(deadline));
    if (polled < 0 && errno == EINTR)
      continue;
    if (polled <= 0)
      return false;
    // A closed or broken descriptor makes the write fail (SIGPIPE is
    // ignored).
    const ssize_t written = write(fd, data, std::min(size, WritePiece));
    if (written < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (written <= 0)
      return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

} // namespace

rlim_t RequestCpuLimit(rlim_t wanted, const struct rlimit &current) {
  // Soft and hard equal: the kernel sends SIGXCPU and SIGKILL at the same
  // tick, and SIGKILL wins. A second below the hard limit leaves one tick
  // of SIGXCPU at least.
  if (current.rlim_max != RLIM_INFINITY)
    wanted = std::min(wanted, current.rlim_max > 0 ? current.rlim_max - 1 : 0);
  if (current.rlim_cur != RLIM_INFINITY && current.rlim_cur <= wanted)
    return current.rlim_cur;
  return wanted;
}

CRequestLimits::CRequestLimits(const CgiLimits &limits)
    : ProcessWide(limits.ProcessWide) {
  SetAction(SIGPIPE, SIG_IGN, OldPipeAction);
  if (!ProcessWide) {
    sigprocmask(SIG_BLOCK, nullptr, &OldMask);
    return;
  }
  SetAction(SIGXCPU, OnLimitReached, OldCpuAction);
  SetAction(SIGALRM, OnLimitReached, OldWallAction);
  const sigset_t signals = LimitSignals();
  sigprocmask(SIG_UNBLOCK, &signals, &OldMask);
  if (getrlimit(RLIMIT_CPU, &OldCpuLimit) == 0)
    CpuLimitSet = LowerCpuLimit(limits.CpuSeconds, OldCpuLimit);
  struct itimerval timer = {};
  timer.it_value.tv_sec = limits.WallSeconds;
  setitimer(ITIMER_REAL, &timer, &OldTimer);
}

CRequestLimits::~CRequestLimits() {
  if (!ProcessWide) {
    // WriteResponse blocked the limit signals; one that came meanwhile is
    // the caller's and is delivered now.
    sigprocmask(SIG_SETMASK, &OldMask, nullptr);
    sigaction(SIGPIPE, &OldPipeAction, nullptr);
    return;
  }
  const struct itimerval stopped = {};
  setitimer(ITIMER_REAL, &stopped, nullptr);
  if (CpuLimitSet)
    setrlimit(RLIMIT_CPU, &OldCpuLimit);
  // Ignoring a signal discards it if it is pending, so a limit reached
  // while the response went out cannot end the process once unblocked.
  struct sigaction ignored;
  SetAction(SIGXCPU, SIG_IGN, ignored);
  SetAction(SIGALRM, SIG_IGN, ignored);
  sigprocmask(SIG_SETMASK, &OldMask, nullptr);
  sigaction(SIGXCPU, &OldCpuAction, nullptr);
  sigaction(SIGALRM, &OldWallAction, nullptr);
  sigaction(SIGPIPE, &OldPipeAction, nullptr);
  setitimer(ITIMER_REAL, &OldTimer, nullptr);
}

bool WriteBefore(int fd, std::initializer_list<std::string_view> parts,
                 std::chrono::steady_clock::time_point deadline) {
  for (const std::string_view part : parts)
    if (!WriteAll(fd, part.data(), part.size(), deadline))
      return false;
  return true;
}

bool WriteResponse(std::initializer_list<std::string_view> parts) {
  const sigset_t signals = LimitSignals();
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  // A FastCGI request's response goes to its connection.
  if (CRequestChannel *channel = InstalledChannel()) {
    for (const std::string_view part : parts)
      if (!channel->WriteOutput(part.data(), part.size()))
        return false;
    return true;
  }
  return WriteBefore(STDOUT_FILENO, parts, WriteDeadline());
}

} // namespace strixel
