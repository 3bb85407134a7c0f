#include "cgi/FastCgiServer.h"

#include "cgi/ChannelScope.h"
#include "cgi/RequestChannel.h"
#include "cgi/RequestIntake.h"
#include "engine/ErrorCodes.h"
#include "imaging/KeptFontFace.h"

#include <fcgiapp.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace strixel {

namespace {

// The most workers the program forks, whatever the environment asks.
constexpr int MaxWorkers = 256;
// A response may take this long to go out after the request's wall-clock
// limit, to a web server that reads slowly, before the worker gives up.
constexpr int SendGraceSeconds = 30;
// Free heap a worker keeps between requests: below it, returning memory to
// the system would only make the next request fault the pages in again.
constexpr std::size_t KeptFreeHeap = 1u << 20;
// The glyphs a worker keeps drawn between requests: a barcode's text takes
// a few dozen kilobytes of them; the sets of a text in a huge font are let
// go after their request, as its other memory is.
constexpr std::size_t KeptGlyphBytes = 256u << 10;
// Allocations from this size on get pages of their own, given back when
// they are freed (the raster of a large image); glibc would otherwise raise
// the threshold after the first such free and keep them on the heap.
constexpr int OwnPagesFrom = 256 << 10;
// Fixing that threshold leaves glibc's trim threshold at 128 KiB, which
// would give the deflate state's pages back after every request and fault
// them in again in the next; ReturnFreeMemory trims instead.
constexpr int TrimAbove = 64 << 20;
// A worker that cannot be forked is tried again after this pause. (Both in
// the type of a timespec's nanoseconds.)
constexpr long RetryPauseNanoseconds = 200'000'000;
constexpr long NanosecondsPerMillisecond = 1'000'000;

// A FastCGI request's environment, body and response.
class CFastCgiChannel : public CRequestChannel {
public:
  explicit CFastCgiChannel(FCGX_Request &request) : Request(request) {}

  const char *GetVariable(const char *name) override {
    return FCGX_GetParam(name, Request.envp);
  }

  std::size_t ReadInput(char *buffer, std::size_t size) override {
    const int wanted = size < INT_MAX ? static_cast<int>(size) : INT_MAX;
    const int got = FCGX_GetStr(buffer, wanted, Request.in);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }

  bool WriteOutput(const char *data, std::size_t size) override {
    while (size > 0) {
      const int piece = size < INT_MAX ? static_cast<int>(size) : INT_MAX;
      if (FCGX_PutStr(data, piece, Request.out) != piece)
        return false;
      data += piece;
      size -= static_cast<std::size_t>(piece);
    }
    return true;
  }

private:
  FCGX_Request &Request;
};

// The only thing a limit's signal does in a worker: end it. Nothing of the
// response has gone out (WriteResponse blocks these signals before its
// first byte), the connection closes without an answer, and whoever
// started the worker starts another.
void OnLimitReached(int) {
  _exit(LimitExitCode);
}

void SetHandler(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

sigset_t LimitSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGXCPU);
  sigaddset(&signals, SIGALRM);
  return signals;
}

// The CPU and wall-clock limits of one request at a time: timers of the
// worker's own that start at zero for each request, unlike RLIMIT_CPU,
// which counts everything the process has used since it started.
class CRequestTimers {
public:
  CRequestTimers() {
    SetHandler(SIGXCPU, OnLimitReached);
    SetHandler(SIGALRM, OnLimitReached);
    CpuReady = Create(CLOCK_PROCESS_CPUTIME_ID, SIGXCPU, CpuTimer);
    WallReady = Create(CLOCK_MONOTONIC, SIGALRM, WallTimer);
  }
  CRequestTimers(const CRequestTimers &) = delete;
  CRequestTimers &operator=(const CRequestTimers &) = delete;
  ~CRequestTimers() {
    if (CpuReady)
      timer_delete(CpuTimer);
    if (WallReady)
      timer_delete(WallTimer);
  }

  // Whether both timers exist: a worker without them would serve requests
  // without limits, so it serves none.
  bool Ready() const { return CpuReady && WallReady; }

  void Start(const FastCgiLimits &limits) {
    Set(CpuTimer, limits.CpuMilliseconds);
    Set(WallTimer, limits.WallMilliseconds);
    const sigset_t signals = LimitSignals();
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);
  }

  // Stops both timers. A limit reached while the response went out is
  // pending, blocked by WriteResponse: ignoring the signal discards it,
  // so that it cannot end the worker in the next request.
  void Stop() {
    Set(CpuTimer, 0);
    Set(WallTimer, 0);
    SetHandler(SIGXCPU, SIG_IGN);
    SetHandler(SIGALRM, SIG_IGN);
    SetHandler(SIGXCPU, OnLimitReached);
    SetHandler(SIGALRM, OnLimitReached);
    const sigset_t signals = LimitSignals();
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);
  }

private:
  static bool Create(clockid_t clock, int signal, timer_t &timer) {
    struct sigevent event = {};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = signal;
    return timer_create(clock, &event, &timer) == 0;
  }

  static void Set(timer_t timer, std::int64_t milliseconds) {
    struct itimerspec value = {};
    value.it_value.tv_sec = milliseconds / MillisecondsPerSecond;
    value.it_value.tv_nsec =
        milliseconds % MillisecondsPerSecond * NanosecondsPerMillisecond;
    timer_settime(timer, 0, &value, nullptr);
  }

  timer_t CpuTimer{};
  timer_t WallTimer{};
  bool CpuReady = false;
  bool WallReady = false;
};

// Gives a large request's memory back to the system once it is answered,
// so that an idle worker stays about as small as after a small request.
void ReturnFreeMemory() {
  const struct mallinfo2 info = mallinfo2();
  if (info.fordblks > KeptFreeHeap)
    malloc_trim(0);
}

// Bounds how long a response may wait for the web server to read it.
void LimitSendTime(int connection, const FastCgiLimits &limits) {
  struct timeval timeout = {};
  timeout.tv_sec =
      limits.WallMilliseconds / MillisecondsPerSecond + SendGraceSeconds;
  setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

// One FastCGI request, through the code of a CGI request.
int HandleFastCgiRequest(FCGX_Request &request, CRequestTimers &timers,
                         const FastCgiLimits &limits, CKeptFontFace &face) {
  CFastCgiChannel channel(request);
  const CChannelScope scope(channel);
  const CKeptFaceScope lend(face);
  // A CGI process starts every request with DebugMode off; so must a
  // worker, whatever the request before asked for.
  DebugMode = false;
  LimitSendTime(request.ipcFd, limits);
  timers.Start(limits);
  const int status = RunRequest();
  timers.Stop();
  // Running out of memory inside FreeType may leave the face half changed.
  if (status == UnknownException)
    face.Close();
  face.KeepGlyphsWithin(KeptGlyphBytes);
  return status;
}

// Serves requests on the listening socket until accepting fails.
int ServeRequests(const FastCgiLimits &limits) {
  // A web server that goes away makes the write fail, not the worker end.
  SetHandler(SIGPIPE, SIG_IGN);
  mallopt(M_MMAP_THRESHOLD, OwnPagesFrom);
  mallopt(M_TRIM_THRESHOLD, TrimAbove);
  CRequestTimers timers;
  if (!timers.Ready() || FCGX_Init() != 0)
    return EXIT_FAILURE;
  FCGX_Request request;
  if (FCGX_InitRequest(&request, STDIN_FILENO, 0) != 0)
    return EXIT_FAILURE;
  CKeptFontFace face;
  bool served = false;
  while (FCGX_Accept_r(&request) >= 0) {
    const int status = HandleFastCgiRequest(request, timers, limits, face);
    FCGX_SetExitStatus(status, request.out);
    FCGX_Finish_r(&request);
    ReturnFreeMemory();
    served = true;
  }
  FCGX_Free(&request, 1);
  // Accepting fails for good when the worker is told to stop; failing
  // before any request means the socket is unusable.
  return served ? EXIT_SUCCESS : EXIT_FAILURE;
}

// --- The pre-forking parent ------------------------------------------------

sigset_t ParentSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGCHLD);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  return signals;
}

pid_t StartWorker(const FastCgiLimits &limits, const sigset_t &oldMask) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0)
    return pid;
  // A worker ends with its parent, even one killed outright: otherwise it
  // would go on serving beside the pool started in the parent's place.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent)
    _exit(EXIT_SUCCESS);
  sigprocmask(SIG_SETMASK, &oldMask, nullptr);
  _exit(ServeRequests(limits));
}

// Keeps count workers on the socket until a stop signal, then stops them.
int RunWorkerPool(int count, const FastCgiLimits &limits) {
  const sigset_t signals = ParentSignals();
  sigset_t oldMask;
  // SIGCHLD must not be ignored, or the exits of workers could not be seen.
  SetHandler(SIGCHLD, SIG_DFL);
  sigprocmask(SIG_BLOCK, &signals, &oldMask);
  std::vector<pid_t> workers(static_cast<std::size_t>(count), 0);
  int exitCode = EXIT_SUCCESS;
  bool stopping = false;
  while (!stopping) {
    for (pid_t &worker : workers) {
      if (worker > 0)
        continue;
      worker = StartWorker(limits, oldMask);
      if (worker < 0) {
        // No process to be had now: try again shortly rather than spin.
        worker = 0;
        const struct timespec pause = {0, RetryPauseNanoseconds};
        nanosleep(&pause, nullptr);
      }
    }
    siginfo_t info;
    const int signal = sigwaitinfo(&signals, &info);
    if (signal < 0)
      continue;
    if (signal != SIGCHLD)
      stopping = true;
    int status = 0;
    pid_t ended;
    while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
      for (pid_t &worker : workers)
        if (worker == ended)
          worker = 0;
      // A worker that cannot even start (no timers, no socket) would be
      // replaced forever: give up instead.
      if (WIFEXITED(status) && WEXITSTATUS(status) == EXIT_FAILURE) {
        stopping = true;
        exitCode = EXIT_FAILURE;
      }
    }
  }
  for (const pid_t worker : workers)
    if (worker > 0)
      kill(worker, SIGTERM);
  for (const pid_t worker : workers)
    if (worker > 0)
      waitpid(worker, nullptr, 0);
  sigprocmask(SIG_SETMASK, &oldMask, nullptr);
  return exitCode;
}

} // namespace

bool ListensForFastCgi() {
  // The test FCGX_IsCGI makes, without initialising the library in every
  // CGI process: a listening socket has no peer.
  struct sockaddr_storage peer;
  socklen_t length = sizeof peer;
  errno = 0;
  return getpeername(STDIN_FILENO, reinterpret_cast<sockaddr *>(&peer),
                     &length) != 0 &&
         errno == ENOTCONN;
}

int FastCgiWorkerCount() {
  const char *value = std::getenv("STRIXEL_FASTCGI_WORKERS");
  if (value == nullptr)
    return 0;
  const long count = std::strtol(value, nullptr, 10);
  if (count < 0)
    return 0;
  return count > MaxWorkers ? MaxWorkers : static_cast<int>(count);
}

int ServeFastCgi(int workers, const FastCgiLimits &limits) {
  if (workers > 0)
    return RunWorkerPool(workers, limits);
  return ServeRequests(limits);
}

} // namespace strixel
