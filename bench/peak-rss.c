/* Runs a program and prints its peak resident set in KiB on standard error.
 *
 * Usage: peak-rss PROGRAM [ARGUMENT...]
 * The program's standard output goes to /dev/null; the environment is
 * passed on unchanged. The exit code is the program's.
 *
 * The peak the kernel reports for a child counts, besides the program, the
 * pages the child held between fork and exec, that is about the resident
 * set of the process that started it. So the starter must be much smaller
 * than what it measures: this one is a few pages of static C, which Python,
 * a shell or /usr/bin/time is not.
 */
#define _DEFAULT_SOURCE /* wait4 */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 2) {
    fputs("usage: peak-rss PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  pid_t child = fork();
  if (child < 0) {
    perror("fork");
    return 2;
  }
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0)
      dup2(null, 1);
    execv(argv[1], argv + 1);
    perror(argv[1]);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) {
    perror("wait4");
    return 2;
  }
  fprintf(stderr, "%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
