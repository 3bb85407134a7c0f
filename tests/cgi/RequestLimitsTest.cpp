// The limits of a request, each tried in a child process with shortened
// limits: what the child wrote and how it ended.

#include "cgi/RequestLimits.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
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
    const CRequestLimits limits({30, 1});
    const std::string response(LargeResponse, 'x');
    written = WriteResponse({response});
  }
  // The limits are given back: the process lives on past them.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  return written ? 0 : 9;
}

int StalledPost() {
  setenv("REQUEST_METHOD", "POST", 1);
  setenv("CONTENT_LENGTH", "10", 1);
  return HandleRequest({30, 1});
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
         const CRequestLimits limits({1, 30});
         Spin();
       },
       milliseconds(0), LimitExitCode, 0},
      {"lower CPU limit set by the server",
       []() -> int {
         const rlimit lower = {1, RLIM_INFINITY};
         setrlimit(RLIMIT_CPU, &lower);
         const CRequestLimits limits({30, 30});
         rlimit kept = {};
         if (getrlimit(RLIMIT_CPU, &kept) != 0 || kept.rlim_cur != 1)
           return 7; // the request raised the server's limit
         Spin();
       },
       milliseconds(0), LimitExitCode, 0},
      {"wall-clock time",
       []() -> int {
         const CRequestLimits limits({30, 1});
         for (;;)
           pause();
       },
       milliseconds(0), LimitExitCode, 0},
      {"POST body that never comes", StalledPost, milliseconds(0),
       LimitExitCode, 0},
      {"limit reached while the response goes out", WriteLargeResponse,
       milliseconds(2000), 0, LargeResponse},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Name);
    const ChildResult result = RunChild(row.Body, row.ReadDelay);
    EXPECT_EQ(result.Signal, 0);
    EXPECT_EQ(result.ExitCode, row.ExitCode);
    EXPECT_EQ(result.Output.size(), row.OutputSize);
  }
}

} // namespace
