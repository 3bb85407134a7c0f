// The FastCGI mode's own parts: the per-request limits, the worker pool
// that replaces a worker a limit ended, and the test for a listening
// socket. Each server is this test process forked, on a Unix socket of its
// own, and is asked through cgi-fcgi as a CGI would be.

#include "cgi/FastCgiServer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/CgiRunner.h"

using namespace strixel;

namespace {

// Costs about 0.5 s of CPU: a long text spread over a huge font.
std::string SpreadText() {
  return "btype=7&xdim=1&talign=3&fh=350&h=570&data=" + std::string(3550, 'W');
}

// Costs about 0.1 s of CPU: a large raster.
const char LargeRaster[] = "h=23&xdim=3000";

class CFastCgiServer {
public:
  // workers as for ServeFastCgi: 0 serves in the forked process itself.
  CFastCgiServer(int workers, const FastCgiLimits &limits) {
    char folder[] = "/tmp/strixel-fcgi-test-XXXXXX";
    if (mkdtemp(folder) == nullptr)
      return;
    Folder = folder;
    Path = Folder + "/strixel.sock";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, Path.c_str(), sizeof address.sun_path - 1);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address),
             sizeof address) != 0 ||
        listen(listener, 16) != 0) {
      close(listener);
      return;
    }
    Pid = fork();
    if (Pid == 0) {
      dup2(listener, STDIN_FILENO);
      close(listener);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      _exit(ServeFastCgi(workers, limits));
    }
    close(listener);
  }
  CFastCgiServer(const CFastCgiServer &) = delete;
  CFastCgiServer &operator=(const CFastCgiServer &) = delete;
  ~CFastCgiServer() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
    if (!Path.empty())
      unlink(Path.c_str());
    if (!Folder.empty())
      rmdir(Folder.c_str());
  }

  bool Started() const { return Pid > 0; }
  pid_t Process() const { return Pid; }
  const std::string &SocketPath() const { return Path; }

  CgiResult Get(const std::string &query) const {
    return RunProcess({"/usr/bin/cgi-fcgi", "-bind", "-connect", Path},
                      {"REQUEST_METHOD=GET", "QUERY_STRING=" + query}, "", 120);
  }

  // Kills the server process outright and waits for it.
  void Kill() {
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
    Pid = -1;
  }

  // Whether the server process is still running.
  bool Running() const { return waitpid(Pid, nullptr, WNOHANG) == 0; }

private:
  std::string Folder;
  std::string Path;
  pid_t Pid = -1;
};

// The CPU time a process has used, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)),
                   std::istreambuf_iterator<char>());
  const std::size_t end = text.rfind(')');
  if (end == std::string::npos)
    return 0;
  // Fields after the command: state is the 3rd, utime the 14th, stime 15th.
  std::vector<std::string> fields;
  std::size_t at = end + 2;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    fields.push_back(text.substr(at, space - at));
    if (space == std::string::npos)
      break;
    at = space + 1;
  }
  if (fields.size() < 13)
    return 0;
  return (std::stod(fields[11]) + std::stod(fields[12])) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Sends a FastCGI request's parameters for a POST of 100 bytes and never
// its body; returns how long it took for the worker to close the
// connection and how many bytes came back.
void PostWithoutBody(const std::string &path, double &seconds,
                     std::size_t &received) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address),
            0);
  // Records of version 1 for request 1: begin (responder role), the
  // parameters, the end of the parameters; then silence.
  std::string params;
  for (const auto &pair :
       {std::pair<std::string, std::string>{"REQUEST_METHOD", "POST"},
        {"CONTENT_LENGTH", "100"}}) {
    params += static_cast<char>(pair.first.size());
    params += static_cast<char>(pair.second.size());
    params += pair.first + pair.second;
  }
  auto record = [](int type, const std::string &content) {
    std::string r = {1,
                     static_cast<char>(type),
                     0,
                     1,
                     static_cast<char>(content.size() >> 8),
                     static_cast<char>(content.size() & 0xFF),
                     0,
                     0};
    return r + content;
  };
  const std::string begin("\0\1\0\0\0\0\0\0", 8);
  const std::string records =
      record(1, begin) + record(4, params) + record(4, std::string());
  ASSERT_EQ(write(fd, records.data(), records.size()),
            static_cast<ssize_t>(records.size()));
  const auto start = std::chrono::steady_clock::now();
  received = 0;
  char buffer[4096];
  for (;;) {
    pollfd wait = {fd, POLLIN, 0};
    if (poll(&wait, 1, 60000) <= 0)
      break;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0)
      break;
    received += static_cast<std::size_t>(got);
  }
  seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  close(fd);
}

TEST(FastCgiServer, CpuLimitEndsTheRequestAndItsWorkerOnly) {
  const CFastCgiServer server(1, {100, 60000});
  ASSERT_TRUE(server.Started());
  EXPECT_EQ(server.Get("data=1").ExitCode, 0);
  const CgiResult cut = server.Get(SpreadText());
  EXPECT_EQ(cut.Output, "");
  EXPECT_NE(cut.ExitCode, 0);
  // The pool has replaced the worker: the next request is answered.
  const CgiResult next = server.Get("data=1");
  EXPECT_EQ(next.ExitCode, 0);
  EXPECT_TRUE(IsPngResponse(next.Output));
  EXPECT_TRUE(server.Running());
}

TEST(FastCgiServer, WallLimitEndsARequestWhoseBodyNeverComes) {
  const CFastCgiServer server(1, {60000, 500});
  ASSERT_TRUE(server.Started());
  double seconds = 0;
  std::size_t received = 0;
  PostWithoutBody(server.SocketPath(), seconds, received);
  EXPECT_EQ(received, 0u);
  EXPECT_LT(seconds, 10.0);
  EXPECT_GE(seconds, 0.4);
  const CgiResult next = server.Get("data=1");
  EXPECT_EQ(next.ExitCode, 0);
  EXPECT_TRUE(IsPngResponse(next.Output));
}

TEST(FastCgiServer, EachRequestHasTheWholeCpuLimit) {
  // Each request takes about a quarter of the limit (0.1 s; about 0.7 s
  // with the sanitizers, which slow the program's own filtering of the
  // rows more than libpng's); they go on until the worker has used the
  // limit two and a half times over.
  const long limit = AddressSanitizerBuild() ? 2800 : 400;
  const CFastCgiServer server(0, {limit, 60000});
  ASSERT_TRUE(server.Started());
  int answered = 0;
  for (int i = 0; i < 100 && CpuSeconds(server.Process()) * 1000 < 2.5 * limit;
       ++i) {
    const CgiResult result = server.Get(LargeRaster);
    EXPECT_EQ(result.ExitCode, 0) << "request " << i;
    answered += result.ExitCode == 0;
  }
  // Together the requests used well over one request's limit, in the
  // same worker, and none was cut.
  EXPECT_GT(CpuSeconds(server.Process()) * 1000, 1.5 * limit);
  EXPECT_GT(answered, 0);
  EXPECT_TRUE(server.Running());
}

// The resident memory of a process, in KiB.
long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0)
      return std::stol(line.substr(6));
  return -1;
}

TEST(FastCgiServer, AnIdleWorkerGivesALargeRequestsMemoryBack) {
  if (AddressSanitizerBuild())
    GTEST_SKIP() << "the address sanitizer keeps freed memory on purpose";
  const CFastCgiServer server(0, FastCgiLimits());
  ASSERT_TRUE(server.Started());
  ASSERT_EQ(server.Get("data=1").ExitCode, 0);
  const long small = ResidentKiB(server.Process());
  // The costliest requests (some 70 MB each while drawn), and rasters of
  // 20 and then 14 MB: glibc serves the second from the heap once the
  // first has raised its mapping threshold, and keeps it there.
  for (const std::string &query :
       {SpreadText(), std::string("h=23&xdim=8841"),
        std::string("h=23&xdim=2800"), std::string("h=23&xdim=2000")})
    ASSERT_EQ(server.Get(query).ExitCode, 0);
  const long after = ResidentKiB(server.Process());
  EXPECT_GT(small, 0);
  // The target is 2 MB; a worker comes within 1 MB, which also holds it to
  // letting go of the glyphs of the huge font (1.3 MB of them).
  EXPECT_LT(after, small + 1024) << "after the default request: " << small;
}

// The processes whose parent is pid.
std::vector<pid_t> Children(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/task/" +
                     std::to_string(pid) + "/children");
  std::vector<pid_t> children;
  long child = 0;
  while (file >> child)
    children.push_back(static_cast<pid_t>(child));
  return children;
}

bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)),
                   std::istreambuf_iterator<char>());
  const std::size_t end = text.rfind(')');
  return end != std::string::npos && end + 2 < text.size() &&
         text[end + 2] != 'Z';
}

TEST(FastCgiServer, WorkersEndWithTheirPool) {
  CFastCgiServer server(3, FastCgiLimits());
  ASSERT_TRUE(server.Started());
  EXPECT_EQ(server.Get("data=1").ExitCode, 0);
  std::vector<pid_t> workers;
  for (int i = 0; i < 100 && workers.size() < 3; ++i) {
    workers = Children(server.Process());
    usleep(20000);
  }
  ASSERT_EQ(workers.size(), 3u);
  server.Kill();
  for (const pid_t worker : workers) {
    bool running = true;
    for (int i = 0; i < 250 && running; ++i) {
      running = Running(worker);
      if (running)
        usleep(20000);
    }
    EXPECT_FALSE(running) << "worker " << worker;
    if (running)
      kill(worker, SIGKILL);
  }
}

TEST(FastCgiServer, ListeningSocketOnStandardInputMeansFastCgi) {
  // This test's own standard input is whatever ctest gave it; each case
  // puts something else there in a child and reports the answer.
  enum Kind { Pipe, DevNull, Closed, Listening, Connected };
  const struct {
    Kind What;
    bool FastCgi;
  } rows[] = {{Pipe, false},
              {DevNull, false},
              {Closed, false},
              {Listening, true},
              {Connected, false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.What);
    const pid_t pid = fork();
    if (pid == 0) {
      int fd = -1;
      int ends[2];
      switch (row.What) {
      case Pipe:
        if (pipe(ends) == 0)
          fd = ends[0];
        break;
      case DevNull:
        fd = open("/dev/null", O_RDONLY);
        break;
      case Closed:
        break;
      case Listening:
        fd = socket(AF_INET, SOCK_STREAM, 0);
        listen(fd, 1);
        break;
      case Connected:
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0)
          fd = ends[0];
        break;
      }
      if (fd >= 0)
        dup2(fd, STDIN_FILENO);
      else
        close(STDIN_FILENO);
      _exit(ListensForFastCgi() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status) == 1, row.FastCgi);
  }
}

TEST(FastCgiServer, WorkerCountFromTheEnvironment) {
  const struct {
    const char *Value;
    int Workers;
  } rows[] = {{nullptr, 0}, {"0", 0},      {"4", 4}, {"-3", 0},
              {"abc", 0},   {"9999", 256}, {"2x", 2}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Value ? row.Value : "unset");
    if (row.Value)
      setenv("STRIXEL_FASTCGI_WORKERS", row.Value, 1);
    else
      unsetenv("STRIXEL_FASTCGI_WORKERS");
    EXPECT_EQ(FastCgiWorkerCount(), row.Workers);
  }
  unsetenv("STRIXEL_FASTCGI_WORKERS");
}

} // namespace
