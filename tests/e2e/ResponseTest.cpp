// A response is whole or absent: standard output that refuses the bytes, and
// an encoder that runs out of memory, end the request with exit code 2,
// never with a signal or a success.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cgi/ExpectedPages.h"
#include "engine/ErrorCodes.h"
#include "support/CgiRunner.h"

using strixel::Failure;

namespace {

struct Ending {
  int ExitCode = -1;
  int Signal = 0;
};

// Runs a GET request with standard output on fd and SIGPIPE at its default
// action, as a web server starts the program.
Ending RunWithOutput(const std::string &query, int fd) {
  std::vector<std::string> env = {"REQUEST_METHOD=GET",
                                  "QUERY_STRING=" + query};
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char *value = std::getenv(name))
      env.push_back(std::string(name) + "=" + value);
  std::vector<char *> envp;
  for (std::string &entry : env)
    envp.push_back(&entry[0]);
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(fd, STDOUT_FILENO);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDERR_FILENO);
    char program[] = STRIXEL_CGI_PATH;
    char *argv[] = {program, nullptr};
    execve(program, argv, envp.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Ending ending;
  if (WIFEXITED(status))
    ending.ExitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    ending.Signal = WTERMSIG(status);
  return ending;
}

TEST(Response, RefusedWritesEndWithExitCodeTwo) {
  const struct {
    const char *Name;
    const char *Query;
  } requests[] = {{"image", "data=12345"},
                  {"help page", "help=1"},
                  {"error page", "debug=1&btype=11&data=abc"}};
  for (const auto &request : requests)
    for (const bool closedPipe : {false, true}) {
      SCOPED_TRACE(std::string(request.Name) +
                   (closedPipe ? " to a closed pipe" : " to a full device"));
      int fd = -1;
      if (closedPipe) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        close(ends[0]);
        fd = ends[1];
      } else {
        fd = open("/dev/full", O_WRONLY);
        ASSERT_GE(fd, 0);
      }
      const Ending ending = RunWithOutput(request.Query, fd);
      close(fd);
      EXPECT_EQ(ending.Signal, 0);
      EXPECT_EQ(ending.ExitCode, Failure);
    }
}

TEST(Response, EncoderOutOfMemoryWritesNoImage) {
  if (AddressSanitizerBuild())
    GTEST_SKIP() << "the address sanitizer needs more address space";
  // 64 MiB of address space hold the raster of this request but not the
  // encoder's work as well.
  const struct {
    const char *Query;
    std::string Output;
  } rows[] = {
      {"xdim=9000&h=20&text=0", ""},
      {"xdim=9000&h=20&text=0&debug=1", ExpectedErrorPage("Error: Fail.")}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Query);
    const CgiResult result = RunCgiInAddressSpace(
        65536, {"REQUEST_METHOD=GET", std::string("QUERY_STRING=") + row.Query},
        "");
    EXPECT_EQ(result.ExitCode, Failure);
    EXPECT_EQ(result.Output, row.Output);
  }
}

} // namespace
