#include "support/CgiRunner.h"

#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>

const char PngHeader[] = "Content-type: image/png\n\n";
const char HtmlHeader[] = "Content-type: text/html\n\n";

CgiResult RunProcess(const std::vector<std::string> &argv,
                     const std::vector<std::string> &env,
                     const std::string &body, int timeoutSeconds) {
  CgiResult result;
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0)
    return result;
  pid_t pid = fork();
  if (pid < 0)
    return result;
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    std::vector<char *> args, envp;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const auto &e : env)
      envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  signal(SIGPIPE, SIG_IGN);
  fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
  std::size_t written = 0;
  if (body.empty()) {
    close(in[1]);
    in[1] = -1;
  }
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[65536];
  bool outOpen = true;
  while (outOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      result.TimedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    int n = poll(fds, in[1] >= 0 ? 2 : 1, static_cast<int>(left));
    if (n < 0 && errno != EINTR)
      break;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t r = read(out[0], buffer, sizeof buffer);
      if (r > 0)
        result.Output.append(buffer, static_cast<std::size_t>(r));
      else if (r == 0 || errno != EINTR)
        outOpen = false;
    }
    if (in[1] >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t w = write(in[1], body.data() + written, body.size() - written);
      if (w > 0)
        written += static_cast<std::size_t>(w);
      if (w < 0 && errno != EAGAIN && errno != EINTR)
        written = body.size();
      if (written >= body.size()) {
        close(in[1]);
        in[1] = -1;
      }
    }
  }
  if (in[1] >= 0)
    close(in[1]);
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    result.ExitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.Signal = WTERMSIG(status);
  return result;
}

static std::vector<std::string> SanitizerEnvironment() {
  // Keep the sanitizer settings of the test run for the child.
  std::vector<std::string> env;
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char *value = std::getenv(name))
      env.push_back(std::string(name) + "=" + value);
  return env;
}

// With STRIXEL_FASTCGI_SOCKET set, every request goes through cgi-fcgi to
// the program's FastCGI mode listening there (tests/support/
// through_fastcgi.py): cgi-fcgi is then a CGI that must answer exactly as
// the program does.
static std::vector<std::string> CgiCommand() {
  if (const char *socket = std::getenv("STRIXEL_FASTCGI_SOCKET"))
    return {"/usr/bin/cgi-fcgi", "-bind", "-connect", socket};
  return {STRIXEL_CGI_PATH};
}

CgiResult RunCgi(const std::map<std::string, std::string> &env,
                 const std::string &body, int timeoutSeconds) {
  std::vector<std::string> envStrings = SanitizerEnvironment();
  for (const auto &kv : env)
    envStrings.push_back(kv.first + "=" + kv.second);
  return RunProcess(CgiCommand(), envStrings, body, timeoutSeconds);
}

CgiResult RunGet(const std::string &query) {
  return RunCgi({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
}

CgiResult RunPost(const std::string &body) {
  return RunCgi({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_LENGTH", std::to_string(body.size())}},
                body);
}

CgiResult RunCgiInAddressSpace(long limitKiB,
                               const std::vector<std::string> &env,
                               const std::string &body) {
  const std::string script =
      "ulimit -v " + std::to_string(limitKiB) + " && exec \"$0\"";
  return RunProcess({"/bin/sh", "-c", script, STRIXEL_CGI_PATH}, env, body, 60);
}

#if defined(__SANITIZE_ADDRESS__)
#define STRIXEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STRIXEL_ADDRESS_SANITIZER 1
#endif
#endif

bool AddressSanitizerBuild() {
#ifdef STRIXEL_ADDRESS_SANITIZER
  return true;
#else
  return false;
#endif
}

bool IsPngResponse(const std::string &output) {
  return output.compare(0, std::strlen(PngHeader), PngHeader) == 0;
}

std::string PngBody(const std::string &output) {
  if (!IsPngResponse(output))
    return std::string();
  return output.substr(std::strlen(PngHeader));
}

namespace {

struct MemoryReader {
  const std::string *Data;
  std::size_t Position;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto *reader = static_cast<MemoryReader *>(png_get_io_ptr(png));
  if (reader->Data->size() - reader->Position < length)
    png_error(png, "truncated");
  std::memcpy(out, reader->Data->data() + reader->Position, length);
  reader->Position += length;
}

} // namespace

// Reads the stored samples as they are: no gamma or colour conversion, so a
// pixel reads back exactly as it was drawn.
bool DecodePng(const std::string &png, RgbImage &image) {
  if (png.size() < 8 ||
      png_sig_cmp(reinterpret_cast<png_const_bytep>(png.data()), 0, 8))
    return false;
  png_structp reader =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!reader)
    return false;
  png_infop info = png_create_info_struct(reader);
  if (!info) {
    png_destroy_read_struct(&reader, nullptr, nullptr);
    return false;
  }
  MemoryReader source{&png, 0};
  if (setjmp(png_jmpbuf(reader))) {
    png_destroy_read_struct(&reader, &info, nullptr);
    return false;
  }
  png_set_read_fn(reader, &source, ReadFromMemory);
  png_read_png(reader, info,
               PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING |
                   PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_GRAY_TO_RGB |
                   PNG_TRANSFORM_STRIP_ALPHA,
               nullptr);
  const int width = static_cast<int>(png_get_image_width(reader, info));
  const int height = static_cast<int>(png_get_image_height(reader, info));
  png_bytepp rows = png_get_rows(reader, info);
  image.Width = width;
  image.Height = height;
  image.Pixels.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    std::memcpy(&image.Pixels[static_cast<std::size_t>(y) * width * 3], rows[y],
                static_cast<std::size_t>(width) * 3);
  png_destroy_read_struct(&reader, &info, nullptr);
  return true;
}

std::string WriteTestFile(const std::string &name, const std::string &bytes) {
  std::string dir = STRIXEL_TEST_OUTPUT_DIR;
  mkdir(dir.c_str(), 0755);
  std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string RunCommand(const std::vector<std::string> &argv, int *exitCode) {
  std::vector<std::string> env = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin"};
  CgiResult r = RunProcess(argv, env, std::string(), 60);
  if (exitCode)
    *exitCode = r.ExitCode;
  std::string out = r.Output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
    out.pop_back();
  return out;
}

std::string RunZbar(const std::string &pngPath) {
  return RunCommand({"/usr/bin/zbarimg", "--quiet", "--raw", pngPath});
}

std::string RunZxing(const std::string &pngPath,
                     const std::vector<std::string> &options) {
  std::vector<std::string> argv = {"/usr/bin/ZXingReader"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(pngPath);
  return RunCommand(argv);
}

static std::vector<Run> Runs(const RgbImage &image, int fixed, bool row) {
  std::vector<Run> runs;
  int n = row ? image.Width : image.Height;
  for (int i = 0; i < n; ++i) {
    bool dark = row ? image.IsDark(i, fixed) : image.IsDark(fixed, i);
    if (!runs.empty() && runs.back().Dark == dark)
      ++runs.back().Length;
    else
      runs.push_back({dark, 1});
  }
  return runs;
}

std::vector<Run> RowRuns(const RgbImage &image, int y) {
  return Runs(image, y, true);
}

std::vector<Run> ColumnRuns(const RgbImage &image, int x) {
  return Runs(image, x, false);
}
