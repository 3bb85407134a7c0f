#include "cgi/RequestLimits.h"

#include "cgi/RequestChannel.h"

#include <unistd.h>

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
// A lower limit set by whoever started the process is kept.
bool LowerCpuLimit(int seconds, const struct rlimit &old) {
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  const rlim_t used = static_cast<rlim_t>(usage.ru_utime.tv_sec) +
                      static_cast<rlim_t>(usage.ru_stime.tv_sec);
  rlim_t wanted = used + static_cast<rlim_t>(seconds);
  if (old.rlim_max != RLIM_INFINITY && wanted > old.rlim_max)
    wanted = old.rlim_max;
  if (old.rlim_cur != RLIM_INFINITY && old.rlim_cur <= wanted)
    return false;
  struct rlimit limit = old;
  limit.rlim_cur = wanted;
  return setrlimit(RLIMIT_CPU, &limit) == 0;
}

bool WriteAll(const char *data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(STDOUT_FILENO, data, size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

} // namespace

CRequestLimits::CRequestLimits(const RequestLimits &limits) {
  SetAction(SIGXCPU, OnLimitReached, OldCpuAction);
  SetAction(SIGALRM, OnLimitReached, OldWallAction);
  SetAction(SIGPIPE, SIG_IGN, OldPipeAction);
  const sigset_t signals = LimitSignals();
  sigprocmask(SIG_UNBLOCK, &signals, &OldMask);
  if (getrlimit(RLIMIT_CPU, &OldCpuLimit) == 0)
    CpuLimitSet = LowerCpuLimit(limits.CpuSeconds, OldCpuLimit);
  struct itimerval timer = {};
  timer.it_value.tv_sec = limits.WallSeconds;
  setitimer(ITIMER_REAL, &timer, &OldTimer);
}

CRequestLimits::~CRequestLimits() {
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
  for (const std::string_view part : parts)
    if (!WriteAll(part.data(), part.size()))
      return false;
  return true;
}

} // namespace strixel
