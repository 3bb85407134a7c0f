// The limits of a request, each tried in a child process with shortened
// limits: what the child wrote and how it ended.

#include "cgi/RequestLimits.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "cgi/RequestIntake.h"

using namespace strixel;

namespace {

struct ChildResult {
  int ExitCode = -1;
  int Signal = 0;
  std::string Output;
};

// Runs body in a child whose standard output is a pipe read by this process
// (only after readDelay) and whose standard input is a pipe that stays open
// and empty; the child's exit code is body's result.
ChildResult RunChild(const std::function<int()> &body,
                     std::chrono::milliseconds readDelay) {
  ChildResult result;
  int out[2], in[2];
  if (pipe(out) != 0 || pipe(in) != 0)
    return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(in[0], STDIN_FILENO);
    close(out[0]);
    close(in[1]);
    _exit(body());
  }
  close(out[1]);
  close(in[0]);
  std::this_thread::sleep_for(readDelay);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  char buffer[65536];
  for (;;) {
    pollfd fd = {out[0], POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&fd, 1, 100) <= 0)
      continue;
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got <= 0)
      break;
    result.Output.append(buffer, static_cast<std::size_t>(got));
  }
  close(out[0]);
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status))
    result.ExitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.Signal = WTERMSIG(status);
  return result;
}

// Runs body in a child whose standard output is a pipe that nobody reads
// and holds one page; waits for it at most timeout, then kills it.
ChildResult RunChildUnread(const std::function<int()> &body,
                           std::chrono::seconds timeout,
                           std::chrono::steady_clock::duration &took) {
  ChildResult result;
  int out[2];
  if (pipe(out) != 0)
    return result;
  fcntl(out[1], F_SETPIPE_SZ, 4096);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    _exit(body());
  }
  close(out[1]);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() - start > timeout) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  took = std::chrono::steady_clock::now() - start;
  close(out[0]);
  if (WIFEXITED(status))
    result.ExitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.Signal = WTERMSIG(status);
  return result;
}

[[noreturn]] void Spin() {
  for (volatile unsigned long turns = 0;; turns = turns + 1) {
  }
}

constexpr std::size_t LargeResponse = 1 << 20;

// Puts out a response larger than the pipe holds, so that the write waits
// for the reader, who comes only after the wall-clock limit.
int WriteLargeResponse() {
  bool written = false;
  {
    const CRequestLimits limits({30, 1, true});
    const std::string response(LargeResponse, 'x');
    written = WriteResponse({response});
  }
  // The limits are given back: the process lives on past them.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  return written ? 0 : 9;
}

// Puts out a response that waits for its reader while another thread
// interrupts the wait with a signal every few milliseconds.
int ResponseInterruptedBySignals() {
  struct sigaction action = {};
  action.sa_handler = [](int) {}; // no SA_RESTART: the wait fails, EINTR
  sigaction(SIGUSR1, &action, nullptr);
  const pthread_t writer = pthread_self();
  std::thread([writer] {
    for (;;) {
      pthread_kill(writer, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }).detach();
  const CRequestLimits limits({30, 30, true});
  return WriteResponse({std::string(LargeResponse, 'x')}) ? 0 : 9;
}

int StalledPost() {
  setenv("REQUEST_METHOD", "POST", 1);
  setenv("CONTENT_LENGTH", "10", 1);
  return HandleRequest({30, 1, true});
}

TEST(RequestLimits, RequestEndsAtItsLimitsWithNothingHalfWritten) {
  using std::chrono::milliseconds;
  struct Row {
    const char *Name;
    std::function<int()> Body;
    milliseconds ReadDelay;
    int ExitCode;
    std::size_t OutputSize;
  } rows[] = {
      {"CPU time",
       []() -> int {
         const CRequestLimits limits({1, 30, true});
         Spin();
       },
       milliseconds(0), LimitExitCode, 0},
      {"CPU limit whose soft and hard values are equal",
       []() -> int {
         const rlimit equal = {2, 2};
         setrlimit(RLIMIT_CPU, &equal);
         const CRequestLimits limits({30, 30, true});
         Spin();
       },
       milliseconds(0), LimitExitCode, 0},
      {"lower CPU limit set by the server",
       []() -> int {
         const rlimit lower = {1, RLIM_INFINITY};
         setrlimit(RLIMIT_CPU, &lower);
         const CRequestLimits limits({30, 30, true});
         rlimit kept = {};
         if (getrlimit(RLIMIT_CPU, &kept) != 0 || kept.rlim_cur != 1)
           return 7; // the request raised the server's limit
         Spin();
       },
       milliseconds(0), LimitExitCode, 0},
      {"wall-clock time",
       []() -> int {
         const CRequestLimits limits({30, 1, true});
         for (;;)
           pause();
       },
       milliseconds(0), LimitExitCode, 0},
      {"POST body that never comes", StalledPost, milliseconds(0),
       LimitExitCode, 0},
      {"limit reached while the response goes out", WriteLargeResponse,
       milliseconds(2000), 0, LargeResponse},
      {"signals while the response waits for its reader",
       ResponseInterruptedBySignals, milliseconds(500), 0, LargeResponse},
      {"response of one byte",
       []() -> int {
         const CRequestLimits limits({30, 30, true});
         return WriteResponse({"x"}) ? 0 : 9;
       },
       milliseconds(0), 0, 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    const ChildResult result = RunChild(row.Body, row.ReadDelay);
    EXPECT_EQ(result.Signal, 0);
    EXPECT_EQ(result.ExitCode, row.ExitCode);
    EXPECT_EQ(result.Output.size(), row.OutputSize);
  }
}

TEST(RequestLimits, CpuLimitStaysBelowTheHardLimit) {
  constexpr rlim_t None = RLIM_INFINITY;
  struct Row {
    rlim_t Wanted, Soft, Hard, Placed;
  } rows[] = {
      {5, None, None, 5}, // no limit found
      {5, 3, 3, 2},       // soft and hard equal: a second below
      {5, 5, 5, 4},       // the same at the request's own limit
      {5, None, 4, 3},    // a hard limit alone
      {5, 3, 10, 3},      // a lower soft limit is kept
      {5, 3, 4, 3},       // ... when it is below the hard limit
      {5, 8, 10, 5},      // a higher soft limit is lowered
      {5, 8, None, 5},    //
      {7, None, 9, 7},    // well below the hard limit: unchanged
      {5, 1, 1, 0},       // nothing below the hard limit but zero
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::Message() << "wanted " << row.Wanted << ", soft "
                                    << row.Soft << ", hard " << row.Hard);
    EXPECT_EQ(RequestCpuLimit(row.Wanted, {row.Soft, row.Hard}), row.Placed);
  }
}

TEST(RequestLimits, WriteEndsAtItsDeadlineWhenNobodyReads) {
  using std::chrono::milliseconds;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const std::string response(LargeResponse, 'x');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(
      WriteBefore(out[1], {"header", response}, start + milliseconds(300)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(300));
  EXPECT_LT(took, milliseconds(5000));
  // The pipe was filled up to less than one piece, and the write never
  // blocked on the rest.
  int held = 0;
  ioctl(out[0], FIONREAD, &held);
  EXPECT_GT(held, fcntl(out[1], F_GETPIPE_SZ) - PIPE_BUF);
  close(out[0]);
  close(out[1]);
}

// A whole request whose image is larger than the pipe, and nobody reads:
// the process ends with Failure after the wall-clock limit and the grace,
// not never.
int RequestToNobody() {
  setenv("REQUEST_METHOD", "GET", 1);
  setenv("QUERY_STRING",
         "btype=20&h=600&fh=300&talign=3&data=~1B~05~11~12~13~14~15~16~17~"
         "18~19~1B~05~11~12~13~14~15~16~17~18~19",
         1);
  return HandleRequest({30, 1, true});
}

TEST(RequestLimits, ResponseToAReaderThatNeverReadsEndsAfterTheGrace) {
  std::chrono::steady_clock::duration took{};
  const ChildResult result = RunChildUnread(
      RequestToNobody, std::chrono::seconds(WriteGraceSeconds + 15), took);
  EXPECT_EQ(result.Signal, 0);
  EXPECT_EQ(result.ExitCode, Failure);
  EXPECT_GE(took, std::chrono::seconds(WriteGraceSeconds));
  EXPECT_LT(took, std::chrono::seconds(WriteGraceSeconds + 10));
}

} // namespace
